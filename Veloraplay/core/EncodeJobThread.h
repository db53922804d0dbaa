#pragma once
// The encoder window's job on a worker thread of its own: the WAVE file encoded by
// EncodeWaveFile (what `velora encode` runs) into a temporary file beside the output, which
// takes the output's name only when the file is complete; progress 0..1024 and a status
// line at most once per elapsed second; optionally the frames decoded and heard while they
// are made; at the end the path handed on for the library. A stopped job leaves no file.
// Everything the job tells the window goes through EncodeJobReport, on the job's thread.
#include "EncodeJob.h"
#include "MonitorOutput.h"

#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <thread>

namespace veloraplay {

// What the job works on, taken from the window's fields when it starts.
struct EncodeJobSettings {
    std::string inputPath;
    std::string outputPath;  // empty: monitor playback only, nothing written
    EncodeOptions options;
    bool monitor = false;
    bool addToLibrary = false;
};

inline constexpr int kProgressRange = 1024;

class EncodeJobReport {
  public:
    virtual ~EncodeJobReport() = default;
    virtual void started() = 0;              // the button reads "STOP"
    virtual void progress(int position) = 0;  // 0..kProgressRange
    virtual void status(const std::string& line) = 0;
    virtual void message(const std::string& text) = 0;  // an error box
    virtual void beep() = 0;
    virtual void handOver(const std::string& path) = 0;  // the new file, for the library
    // Last of all: the button reads "ENCODE" and the progress is 0 again.
    virtual void finished() = 0;
};

// The job's messages, as the window shows them.
inline constexpr char kCannotOpenInput[] = "Couldn't open input file!";
inline constexpr char kOutputFormatFailed[] = "mp3EncSetOutputFormat failed!";
inline constexpr char kConfigurationFailed[] = "mp3EncSetConfiguration failed!";
inline constexpr char kEncodeFrameFailed[] = "VeloraencEncodeFrame failed!";
// "Couldn't create output file PATH:\nREASON" and "Couldn't write output file PATH:\nREASON".
std::string cannotCreateOutputText(const std::string& path, const std::string& reason);
std::string cannotWriteOutputText(const std::string& path, const std::string& reason);

class EncodeJob {
  public:
    using Clock = std::function<std::chrono::steady_clock::time_point()>;

    // `monitor` may be null (no sound output: monitor playback does not happen).
    explicit EncodeJob(MonitorOutput* monitor, Clock clock = &std::chrono::steady_clock::now);
    ~EncodeJob();  // stops and waits
    EncodeJob(const EncodeJob&) = delete;
    EncodeJob& operator=(const EncodeJob&) = delete;

    // Starts the thread; false while one runs. `report` must outlive the job's thread.
    bool start(const EncodeJobSettings& settings, EncodeJobReport& report);
    // Any thread: asks the running job to stop; it deletes what it wrote.
    void stop();
    // Waits for the thread to end (it may already have).
    void join();
    bool running() const { return running_.load(); }

  private:
    void run(EncodeJobSettings settings, EncodeJobReport& report);

    MonitorOutput* monitor_;
    Clock clock_;
    std::atomic<bool> cancel_{false};
    std::atomic<bool> running_{false};
    std::thread thread_;
};

}  // namespace veloraplay
