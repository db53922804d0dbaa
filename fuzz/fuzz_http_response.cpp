// Feedline's response parser on arbitrary server output: the first byte picks the piece size
// the bytes arrive in, the rest is the response (head, then body with its transfer coding and
// in-band metadata). Checks that the audio never grows beyond the input.
#include "HttpResponseParser.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const std::size_t piece = 1 + (data[0] % 64) * 37;
    ++data;
    --size;
    feedline::HttpLimits limits;
    limits.maxLineBytes = 1024;
    limits.maxHeadBytes = 8192;
    feedline::HttpResponseParser parser(limits);
    std::string audio;
    bool inBody = false;
    for (std::size_t at = 0; at < size;) {
        const std::size_t n = piece < size - at ? piece : size - at;
        std::size_t used = 0;
        if (!inBody) {
            const auto result = parser.feedHead(data + at, n, used);
            if (result == feedline::HttpResponseParser::Result::Error) return 0;
            inBody = result == feedline::HttpResponseParser::Result::Done;
        }
        if (inBody && used < n) {
            const std::size_t before = audio.size();
            if (parser.feedBody(data + at + used, n - used, audio) ==
                feedline::HttpResponseParser::Result::Error) {
                return 0;
            }
            if (audio.size() - before > n - used) std::abort();
            std::string title;
            parser.takeTitleChange(title);
        }
        at += n;
    }
    (void)parser.completeAtEnd();
    (void)parser.head().find("icy-name");
    return 0;
}
