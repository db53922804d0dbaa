// What `velora encode` reads, through libsndfile: WAVE with any PCM width, float and the
// extensible header, RF64, AIFF, FLAC, Ogg Vorbis and Opus, from a file or standard input.
// Samples come as interleaved floats at the encoder's full scale (+-32768), so a 16-bit
// sample arrives as its own value and wider ones keep their fraction.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct sf_private_tag;

namespace veloraplay {

class SoundFileInput {
  public:
    SoundFileInput() = default;
    ~SoundFileInput();
    SoundFileInput(const SoundFileInput&) = delete;
    SoundFileInput& operator=(const SoundFileInput&) = delete;

    // `name` "-" reads standard input. On false `error` says why, in one line.
    bool Open(const std::string& name, std::string& error);

    int Rate() const { return rate_; }
    int Channels() const { return channels_; }
    // 0 when not known (standard input that cannot seek).
    uint64_t Frames() const { return frames_; }
    // The libsndfile channel map (SF_CHANNEL_MAP_*), empty when the file has none.
    const std::vector<int>& ChannelMap() const { return channelMap_; }
    // The title and artist the file's own metadata gives, empty when none.
    std::string Title() const;
    std::string Artist() const;

    // Up to `frames` frames; 0 at the end, -1 on an error (Error()).
    long Read(float* samples, long frames);
    std::string Error() const;

  private:
    sf_private_tag* file_ = nullptr;
    int rate_ = 0;
    int channels_ = 0;
    uint64_t frames_ = 0;
    std::vector<int> channelMap_;
};

// For a RIFF/WAVE (or RF64) file, the sample bytes its data chunk claims and those the file
// holds; false for other files and for sizes a streamed file leaves open.
bool WaveDataShortfall(const std::string& path, uint64_t& declared, uint64_t& present);

}  // namespace veloraplay
