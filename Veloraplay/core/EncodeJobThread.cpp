#include "EncodeJobThread.h"

#include <sys/stat.h>

#include <memory>

#include "EncodeMonitor.h"
#include "EncoderTexts.h"
#include "OutputTarget.h"
#include "WaveInputFile.h"

namespace veloraplay {
namespace {

// Progress and status while the encoder reads, and the frames on to the monitor.
class JobObserver final : public EncodeObserver {
  public:
    JobObserver(EncodeJobReport& report, EncodeMonitor* monitor, int bytesPerSecond, const EncodeJob::Clock& clock)
        : report_(report), monitor_(monitor), bytesPerSecond_(bytesPerSecond), clock_(clock), start_(clock()) {}

    void chunkRead(uint64_t bytesRead, uint64_t totalBytes) override {
        // An empty data chunk has nothing to show progress through.
        const int position =
            totalBytes > 0 ? static_cast<int>(bytesRead * kProgressRange / totalBytes) : kProgressRange;
        if (position != shownPosition_) {
            shownPosition_ = position;
            report_.progress(position);
        }
        const int elapsed =
            static_cast<int>(std::chrono::duration_cast<std::chrono::seconds>(clock_() - start_).count());
        if (monitor_) {
            // The monitor's line needs the decoder's format; until then nothing is shown.
            if (!monitor_->decoding() || monitor_->off() || !throttle_.due(elapsed)) return;
            const velora::FrameInfo& info = monitor_->info();
            report_.status(monitorStatusLine(bytesRead, bytesPerSecond_, info.outputSamplingRate, info.outputChannels,
                                             info.sbrActive != 0));
        } else if (throttle_.due(elapsed)) {
            report_.status(encodeStatusLine(bytesRead, bytesPerSecond_, elapsed));
        }
    }

    void encoded(const uint8_t* bytes, size_t count) override {
        if (monitor_) monitor_->push(bytes, count);
    }

  private:
    EncodeJobReport& report_;
    EncodeMonitor* monitor_;
    int bytesPerSecond_;
    const EncodeJob::Clock& clock_;
    std::chrono::steady_clock::time_point start_;
    StatusThrottle throttle_;
    int shownPosition_ = -1;
};

}  // namespace

std::string cannotCreateOutputText(const std::string& path, const std::string& reason) {
    return "Couldn't create output file " + path + ":\n" + reason;
}

std::string cannotWriteOutputText(const std::string& path, const std::string& reason) {
    return "Couldn't write output file " + path + ":\n" + reason;
}

EncodeJob::EncodeJob(MonitorOutput* monitor, Clock clock) : monitor_(monitor), clock_(std::move(clock)) {}

EncodeJob::~EncodeJob() {
    stop();
    join();
}

bool EncodeJob::start(const EncodeJobSettings& settings, EncodeJobReport& report) {
    if (running_.load()) return false;
    join();  // a job that ended by itself
    cancel_.store(false);
    if (monitor_) monitor_->rearm();
    running_.store(true);
    thread_ = std::thread(&EncodeJob::run, this, settings, std::ref(report));
    return true;
}

void EncodeJob::stop() {
    cancel_.store(true);
    // A monitor waiting for the sound output gives up at once.
    if (monitor_) monitor_->interrupt();
}

void EncodeJob::join() {
    if (thread_.joinable()) thread_.join();
}

void EncodeJob::run(EncodeJobSettings settings, EncodeJobReport& report) {
    report.started();
    const auto end = [&] {
        report.finished();
        running_.store(false);
    };
    int bytesPerSecond = 0;
    struct stat inputStat {};
    {
        velora::WaveInputFile probe;
        if (!probe.Open(settings.inputPath) || ::stat(settings.inputPath.c_str(), &inputStat) != 0) {
            report.message(kCannotOpenInput);
            end();
            return;
        }
        bytesPerSecond = probe.SampleRate() * 2 * probe.Channels();
    }

    // The output replaces an old file only once it is complete; it is never the input.
    OutputTarget output;
    if (!settings.outputPath.empty()) {
        std::string error;
        if (!output.Open(settings.outputPath, &inputStat, error)) {
            report.message(cannotCreateOutputText(settings.outputPath, error));
            report.beep();
            end();
            return;
        }
    }
    std::unique_ptr<EncodeMonitor> monitor;
    if (settings.monitor && monitor_) monitor = std::make_unique<EncodeMonitor>(*monitor_);
    report.progress(0);
    JobObserver observer(report, monitor.get(), bytesPerSecond, clock_);
    const EncodeOutcome outcome =
        EncodeWaveFile(settings.inputPath, settings.outputPath.empty() ? nullptr : output.Stream(), settings.options,
                       cancel_, observer);

    switch (outcome.failure) {
        case EncodeFailure::None:
        case EncodeFailure::EncodeFrame: {
            if (outcome.failure == EncodeFailure::EncodeFrame) report.message(kEncodeFrameFailed);
            std::string error;
            if (!settings.outputPath.empty() && !output.Commit(error)) {
                if (monitor) monitor->abandon();
                report.message(cannotWriteOutputText(settings.outputPath, error));
                report.beep();
                break;
            }
            if (settings.addToLibrary && !settings.outputPath.empty()) report.handOver(settings.outputPath);
            if (!monitor || !monitor->finish()) report.beep();
            break;
        }
        case EncodeFailure::Interrupted:
            if (monitor) monitor->abandon();
            output.Discard();
            report.beep();
            break;
        case EncodeFailure::Output: {
            const std::string reason = output.WriteError().empty() ? outcome.error : output.WriteError();
            if (monitor) monitor->abandon();
            output.Discard();
            report.message(cannotWriteOutputText(settings.outputPath, reason));
            report.beep();
            break;
        }
        case EncodeFailure::Input:
            output.Discard();
            report.message(kCannotOpenInput);
            break;
        case EncodeFailure::EncoderOpen:
            output.Discard();
            report.beep();
            break;
        case EncodeFailure::OutputFormat:
        case EncodeFailure::Configuration:
            output.Discard();
            report.message(outcome.failure == EncodeFailure::OutputFormat ? kOutputFormatFailed
                                                                           : kConfigurationFailed);
            report.beep();
            break;
    }
    end();
}

}  // namespace veloraplay
