#pragma once
// The start-up pass over the stored library when the library window is not reopened: every
// stored entry not ending in ".mp3" gets the WAVE check once, on a thread of low priority, so
// the files are in the system's cache when the window opens later. Nothing is kept.
#include "SettingsStore.h"

#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace veloraplay {

// The entries the check looks at, read from the settings on the caller's thread (the store
// is not shared with the worker).
std::vector<std::string> libraryCheckPaths(const SettingsStore& settings);

class LibraryCheck {
  public:
    using WaveCheck = std::function<bool(const std::string&)>;
    // Reads the entries now and starts the thread; `check` stands for the WAVE check.
    explicit LibraryCheck(const SettingsStore& settings, WaveCheck check = {});
    ~LibraryCheck();  // stops and joins
    LibraryCheck(const LibraryCheck&) = delete;
    LibraryCheck& operator=(const LibraryCheck&) = delete;

    // The thread ends after the entry it is checking.
    void stop() { stop_ = true; }
    void join();
    bool finished() const { return finished_; }
    std::size_t checked() const { return checked_; }

  private:
    void run(std::vector<std::string> paths, WaveCheck check);

    std::atomic<bool> stop_{false};
    std::atomic<bool> finished_{false};
    std::atomic<std::size_t> checked_{0};
    std::thread thread_;
};

// The same as a plain thread for a caller that only joins it.
std::thread startLibraryCheck(const SettingsStore& settings);

}  // namespace veloraplay
