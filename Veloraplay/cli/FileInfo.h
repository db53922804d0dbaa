// What `velora info` reports about a compressed file: the stream analysis of its first
// block, and the first frame's header.
#pragma once

#include <cstdint>
#include <string>

#include "StreamInfo.h"

namespace veloraplay {

struct FileInfo {
    std::string path;
    uint64_t fileSize = 0;
    int version = 0;  // 0 MPEG-1, 1 MPEG-2, 2 MPEG-2.5
    int layer = 3;
    int mode = 0;     // header channel mode
    int samplesPerFrame = 0;
    velora::StreamInfo stream;
    // From the first frame through the decoder: a Velora stream carries an SBR payload there;
    // the enhancement is on when the decoder takes it, and then doubles the rate.
    bool velora = false;
    bool enhancement = false;
    int coreRate = 0;
    int outputRate = 0;
};

// Reads and analyses the file; on failure returns false with a message in `error`.
bool ReadFileInfo(const std::string& path, FileInfo& info, std::string& error);

std::string FormatText(const FileInfo& info);
std::string FormatJson(const FileInfo& info);

}  // namespace veloraplay
