#include "MpegStream.h"

#include <bit>

namespace velora {
namespace {
constexpr uint32_t kSyncBits = 0xFFE00000u;
}  // namespace

void MpegStream::Init(uint8_t* storage, int size) {
    buffer_.Init(storage, size);
    Reset();
}

void MpegStream::Reset() {
    buffer_.Clear();
    header_ = MpegHeader{};
    pattern_ = 0;
    confirmations_ = 0;
    searchSteps_ = 0;
    state_ = kSscSyncSearched;
}

Mp3Ssc MpegStream::NextFrame() {
    if (state_ == kSscSyncEof) return state_;
    if (buffer_.UnreadBits() < 32) {
        state_ = (state_ == kSscSuccess || state_ == kSscSyncNeedData) ? kSscSyncNeedData
                                                                        : kSscSyncSearched;
    } else if (state_ == kSscSyncSearched || state_ == kSscSyncLost) {
        state_ = Search();
    } else {
        state_ = Track();
    }
    if (buffer_.EndOfData() && (state_ == kSscSyncSearched || state_ == kSscSyncNeedData)) {
        state_ = kSscSyncEof;
    }
    return state_;
}

Mp3Ssc MpegStream::Search() {
    for (;;) {
        buffer_.ClearConsumed();
        if (buffer_.UnreadBits() < 32) return kSscSyncSearched;
        // A header starts with eleven set bits: a clear bit among the next eleven rules out
        // every start up to and including it, so the search moves past it in one step.
        const uint32_t missing = ~buffer_.Peek32() & kSyncBits;
        if (missing != 0) {
            const int skip = 32 - std::countr_zero(missing);
            searchSteps_ += skip;
            buffer_.Skip(skip);
            continue;
        }
        const uint32_t candidate = buffer_.Read32();
        if (header_.Parse(candidate)) {
            if (buffer_.UnreadBits() < header_.frameBits) {
                if (!buffer_.EndOfData()) {
                    StepBack();  // tried again when more data has come
                    return kSscSyncSearched;
                }
                // No more data will come: a candidate whose frame runs past the end is not
                // a frame, and real frames may still follow it.
                ++searchSteps_;
                buffer_.Skip(1 - buffer_.Consumed());
                continue;
            }
            buffer_.Skip(header_.frameBits - 32);
            const uint32_t next = buffer_.Read32();
            if (((next ^ candidate) & kSyncPatternMask) == 0) {
                pattern_ = candidate & kSyncPatternMask;
                confirmations_ = kConfirmationFrames;
                StepBack();
                return kSscSuccess;
            }
        }
        ++searchSteps_;
        buffer_.Skip(1 - buffer_.Consumed());
    }
}

Mp3Ssc MpegStream::Track() {
    buffer_.ClearConsumed();
    const uint32_t word = buffer_.Read32();
    if ((word & kSyncPatternMask) != pattern_ || !header_.Parse(word)) {
        StepBack();
        return kSscSyncLost;
    }
    const int frameBits = header_.frameBits;
    if (buffer_.UnreadBits() + 32 < frameBits) {
        StepBack();
        return kSscSyncNeedData;
    }
    if (confirmations_ != 0 && buffer_.UnreadBits() >= frameBits) {
        buffer_.Skip(frameBits - 32);
        const uint32_t next = buffer_.Read32();
        if ((next & kSyncPatternMask) != pattern_) {
            StepBack();
            return kSscSyncLost;
        }
    }
    if (confirmations_ != 0) --confirmations_;
    StepBack();
    return kSscSuccess;
}

}  // namespace velora
