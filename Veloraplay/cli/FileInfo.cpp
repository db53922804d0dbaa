#include "FileInfo.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sstream>
#include <vector>

#include "MpegHeader.h"
#include "Veloradecoder.h"

namespace veloraplay {
namespace {

constexpr int kAnalysedBytes = 8192;

const char* VersionName(int version) {
    return version == 0 ? "MPEG-1" : (version == 1 ? "MPEG-2" : "MPEG-2.5");
}

const char* ModeName(int mode) {
    switch (mode) {
        case 0: return "stereo";
        case 1: return "joint stereo";
        case 2: return "dual channel";
        default: return "single channel";
    }
}

std::string JsonString(const std::string& s) {
    std::string out = "\"";
    for (const unsigned char c : s) {
        switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\n': out += "\\n"; break;
            case '\t': out += "\\t"; break;
            case '\r': out += "\\r"; break;
            default:
                if (c < 0x20) {
                    char buf[8];
                    std::snprintf(buf, sizeof(buf), "\\u%04x", c);
                    out += buf;
                } else {
                    out += static_cast<char>(c);
                }
        }
    }
    return out + "\"";
}

std::string Duration(int32_t ms) {
    char buf[32];
    std::snprintf(buf, sizeof(buf), "%d:%02d.%03d", ms / 60000, (ms / 1000) % 60, ms % 1000);
    return buf;
}

// Decodes the first frame of `block`, which starts at that frame, as `velora decode` would.
void ProbeFirstFrame(const uint8_t* block, int length, FileInfo& info) {
    constexpr int kMaxCalls = 16;
    velora::VeloradecoderPtr decoder(velora::Veloradecoder::Create(0, false, false));
    if (!decoder || length <= 0) return;
    decoder->Feed(block, length);
    decoder->SetEndOfData();
    std::vector<int16_t> pcm(velora::kMaxFrameSamples);
    for (int call = 0; call < kMaxCalls; ++call) {
        int written = 0;
        const velora::Mp3Ssc status =
            decoder->Decode(pcm.data(), static_cast<int>(pcm.size() * sizeof(int16_t)), &written,
                            true, nullptr, nullptr);
        if (velora::SscSucceeded(status)) {
            const velora::FrameInfo& frame = decoder->Info();
            info.velora = decoder->VeloraStream();
            info.enhancement = frame.sbrActive != 0;
            info.coreRate = frame.codedSamplingRate;
            info.outputRate = frame.outputSamplingRate;
            return;
        }
        if (velora::SscIsError(status) || status == velora::kSscSyncEof) return;
    }
}

const char* StreamKind(const FileInfo& info) {
    if (!info.velora) return "plain mp3";
    return info.enhancement ? "Velora (enhancement layer present)"
                            : "Velora (enhancement layer present, not decodable here)";
}

const char* VbrHeaderKind(const velora::StreamInfo& s) {
    if (!s.vbrHeader) return "none";
    if (s.vbri.version != 0 || s.vbri.frames != 0) return "VBRI";
    return s.xing.constantBitrate ? "Info" : "Xing";
}

}  // namespace

bool ReadFileInfo(const std::string& path, FileInfo& info, std::string& error) {
    info = FileInfo{};
    info.path = path;
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) {
        error = std::strerror(errno);
        return false;
    }
    // The audio lies between an ID3v2 tag at the start and APE or ID3v1 tags at the end.
    uint8_t head[velora::StreamInfo::kLeadingTagProbe] = {};
    const size_t headBytes = std::fread(head, 1, sizeof(head), f);
    uint64_t audioStart = velora::StreamInfo::LeadingTagBytes(head, static_cast<int>(headBytes));
    uint64_t trailing = 0;
    if (fseeko(f, 0, SEEK_END) == 0) {
        const off_t size = ftello(f);
        info.fileSize = size > 0 ? static_cast<uint64_t>(size) : headBytes;
    } else {
        info.fileSize = headBytes;
    }
    audioStart = std::min(audioStart, info.fileSize);
    uint8_t tail[velora::StreamInfo::kTrailingTagProbe] = {};
    const size_t tailBytes = static_cast<size_t>(std::min<uint64_t>(sizeof(tail), info.fileSize - audioStart));
    if (tailBytes > 0 && fseeko(f, static_cast<off_t>(info.fileSize - tailBytes), SEEK_SET) == 0 &&
        std::fread(tail, 1, tailBytes, f) == tailBytes) {
        trailing = velora::StreamInfo::TrailingTagBytes(tail, static_cast<int>(tailBytes));
    }
    const uint64_t audioBytes = info.fileSize - audioStart - std::min(trailing, info.fileSize - audioStart);
    std::vector<uint8_t> block(kAnalysedBytes);
    size_t got = 0;
    if (fseeko(f, static_cast<off_t>(audioStart), SEEK_SET) == 0) {
        got = std::fread(block.data(), 1, static_cast<size_t>(std::min<uint64_t>(block.size(), audioBytes)), f);
    }
    const bool readError = std::ferror(f) != 0;
    std::fclose(f);
    if (readError) {
        error = "read error";
        return false;
    }
    const auto To32 = [](uint64_t v) { return static_cast<uint32_t>(std::min<uint64_t>(v, 0xFFFFFFFFu)); };
    if (!info.stream.AnalyseAudio(block.data(), static_cast<int>(got), To32(audioStart), To32(audioBytes))) {
        error = "no MPEG audio frames found";
        return false;
    }
    // The first frame's header, at its bit offset in the block.
    const int bit = info.stream.firstFrameBit;
    const size_t byte = static_cast<size_t>(bit / 8);
    const int shift = bit % 8;
    if (byte + 5 <= got) {
        uint64_t word = 0;
        for (int i = 0; i < 5; ++i) word = word << 8 | block[byte + static_cast<size_t>(i)];
        velora::MpegHeader header;
        if (header.Parse(static_cast<uint32_t>(word >> (8 - shift)))) {
            info.version = header.version;
            info.layer = header.layer;
            info.mode = header.mode;
            info.samplesPerFrame = header.SamplesPerFrame();
        }
    }
    info.coreRate = info.stream.samplingRate;
    info.outputRate = info.stream.samplingRate;
    // As `velora decode`, past a header frame, which holds no audio.
    const size_t probeAt = byte + static_cast<size_t>(info.stream.headerFrameBytes);
    if (probeAt + 4 <= got) {
        ProbeFirstFrame(block.data() + probeAt, static_cast<int>(got - probeAt), info);
    } else if (byte < got) {
        ProbeFirstFrame(block.data() + byte, static_cast<int>(got - byte), info);
    }
    return true;
}

std::string FormatText(const FileInfo& info) {
    const velora::StreamInfo& s = info.stream;
    std::ostringstream out;
    out << "File:        " << info.path << "\n";
    out << "Stream:      " << VersionName(info.version) << " Layer III, " << StreamKind(info)
        << "\n";
    out << "Sample rate: " << s.samplingRate << " Hz\n";
    out << "Core rate:   " << info.coreRate << " Hz\n";
    out << "Output rate: " << info.outputRate << " Hz"
        << (info.enhancement ? " (with the enhancement)" : "") << "\n";
    out << "Channels:    " << s.channels << " (" << ModeName(info.mode) << ")\n";
    out << "Bit rate:    " << s.averageBitrate / 1000 << " kbit/s"
        << ((s.format.flags & velora::kMp3FlagVariableBitrate) ? " average, variable" : ", constant")
        << "\n";
    out << "Duration:    " << Duration(s.durationMs) << " (" << s.durationMs << " ms)\n";
    out << "File size:   " << info.fileSize << " bytes, " << s.audioBytes << " of audio, first frame at byte "
        << s.audioStart + static_cast<uint32_t>(s.firstFrameBit / 8) << "\n";
    out << "VBR header:  " << VbrHeaderKind(s);
    if (s.vbrHeader && std::string(VbrHeaderKind(s)) != "VBRI") {
        out << " (flags " << s.xing.flags << ", frames " << s.xing.frames << ", bytes "
            << s.xing.bytes << ", table " << (s.seekTable ? "yes" : "no") << ", quality "
            << s.xing.quality;
        if (s.xing.encoderInfo) {
            out << ", encoder delay " << s.xing.encoderDelay << ", padding " << s.xing.encoderPadding;
        }
        out << ")";
    } else if (s.vbrHeader) {
        out << " (version " << s.vbri.version << ", delay " << s.vbri.delay << ", quality "
            << s.vbri.quality << ", frames " << s.vbri.frames << ", bytes " << s.vbri.bytes
            << ", table entries " << s.vbri.tocEntries << ")";
    }
    out << "\n";
    return out.str();
}

std::string FormatJson(const FileInfo& info) {
    const velora::StreamInfo& s = info.stream;
    std::ostringstream out;
    out << "{\n";
    out << "  \"file\": " << JsonString(info.path) << ",\n";
    out << "  \"fileSize\": " << info.fileSize << ",\n";
    out << "  \"version\": \"" << VersionName(info.version) << "\",\n";
    out << "  \"layer\": " << info.layer << ",\n";
    out << "  \"velora\": " << (info.velora ? "true" : "false") << ",\n";
    out << "  \"enhancement\": " << (info.enhancement ? "true" : "false") << ",\n";
    out << "  \"sampleRate\": " << s.samplingRate << ",\n";
    out << "  \"coreRate\": " << info.coreRate << ",\n";
    out << "  \"outputRate\": " << info.outputRate << ",\n";
    out << "  \"channels\": " << s.channels << ",\n";
    out << "  \"channelMode\": \"" << ModeName(info.mode) << "\",\n";
    out << "  \"bitrate\": " << s.averageBitrate << ",\n";
    out << "  \"variableBitrate\": "
        << ((s.format.flags & velora::kMp3FlagVariableBitrate) ? "true" : "false") << ",\n";
    out << "  \"durationMs\": " << s.durationMs << ",\n";
    out << "  \"audioBytes\": " << s.audioBytes << ",\n";
    out << "  \"firstFrameByte\": " << s.audioStart + static_cast<uint32_t>(s.firstFrameBit / 8) << ",\n";
    out << "  \"vbrHeader\": \"" << VbrHeaderKind(s) << "\"";
    if (s.vbrHeader && std::string(VbrHeaderKind(s)) != "VBRI") {
        out << ",\n  \"xing\": {\"flags\": " << s.xing.flags << ", \"frames\": " << s.xing.frames
            << ", \"bytes\": " << s.xing.bytes << ", \"toc\": " << (s.seekTable ? "true" : "false")
            << ", \"quality\": " << s.xing.quality;
        if (s.xing.encoderInfo) {
            out << ", \"encoderDelay\": " << s.xing.encoderDelay << ", \"encoderPadding\": " << s.xing.encoderPadding;
        }
        out << "}";
    } else if (s.vbrHeader) {
        out << ",\n  \"vbri\": {\"version\": " << s.vbri.version << ", \"delay\": " << s.vbri.delay
            << ", \"quality\": " << s.vbri.quality << ", \"frames\": " << s.vbri.frames
            << ", \"bytes\": " << s.vbri.bytes << ", \"tocEntries\": " << s.vbri.tocEntries
            << ", \"scale\": " << s.vbri.scale << ", \"entrySize\": " << s.vbri.entrySize
            << ", \"framesPerEntry\": " << s.vbri.framesPerEntry << "}";
    }
    out << "\n}\n";
    return out.str();
}

}  // namespace veloraplay
