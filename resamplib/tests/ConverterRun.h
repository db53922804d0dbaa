// Runs a whole signal through a converter, offered in slices of chosen sizes.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <vector>

#include "Resampler.h"

namespace velora::resample::testing {

struct RunResult {
    bool created = false;
    ResamplerInfo info;
    std::vector<float> output;
    int calls = 0;
    int largestCallOutput = 0;  // samples
};

// `slice` gives the size in frames of the next slice the caller offers (the converter may
// take it in several calls); by default the whole input at once. With `last` the final
// slice is marked as the end of the stream.
inline RunResult RunConverter(const ResamplerSettings& settings, const std::vector<float>& input,
                              const std::function<size_t()>& slice = nullptr, bool last = true) {
    RunResult result;
    CreateError error = CreateError::kNone;
    Resampler* r = Create(settings, &result.info, &error);
    if (!r) return result;
    result.created = true;
    const size_t channels = static_cast<size_t>(settings.channels);
    std::vector<float> out(static_cast<size_t>(result.info.outputBlockSamples));
    size_t offset = 0;
    while (offset < input.size() || (offset == 0 && input.empty())) {
        const size_t frames = slice ? slice() : input.size() / channels;
        const size_t size = std::min(frames * channels, input.size() - offset);
        const bool final = offset + size == input.size();
        const InputEnd end = final && last ? InputEnd::kLast : InputEnd::kMore;
        int position = 0;
        do {
            int written = -1;
            const bool ok = Process(r, input.data() + offset, static_cast<int>(size), &position,
                                    out.data(), static_cast<int>(out.size()), &written, end);
            EXPECT_TRUE(ok);
            if (!ok) break;
            ++result.calls;
            result.largestCallOutput = std::max(result.largestCallOutput, written);
            result.output.insert(result.output.end(), out.begin(), out.begin() + written);
        } while (static_cast<size_t>(position) < size);
        offset += size;
        if (input.empty()) break;
    }
    Destroy(r);
    return result;
}

}  // namespace velora::resample::testing
