#include "LibraryCheck.h"

#include "LibraryModel.h"
#include "TextUtil.h"
#include "WaveInputFile.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace veloraplay {

namespace {

bool isMp3(const std::string& path) {
    return path.size() >= 4 && equalNoCase(path.substr(path.size() - 4), ".mp3");
}

// Below normal: on Linux a nice value set with the thread's id applies to that thread only.
void lowerThisThread() {
    const auto tid = static_cast<id_t>(::syscall(SYS_gettid));
    if (::setpriority(PRIO_PROCESS, tid, 10) != 0) {
    }
}

}  // namespace

std::vector<std::string> libraryCheckPaths(const SettingsStore& settings) {
    std::vector<std::string> paths;
    for (const StoredFolder& folder : readStoredLibrary(settings))
        for (const std::string& item : folder.items)
            if (!isMp3(item)) paths.push_back(item);
    return paths;
}

LibraryCheck::LibraryCheck(const SettingsStore& settings, WaveCheck check) {
    if (!check) check = [](const std::string& p) { return velora::IsPcmWaveFile(p); };
    thread_ = std::thread(&LibraryCheck::run, this, libraryCheckPaths(settings), std::move(check));
}

LibraryCheck::~LibraryCheck() {
    stop();
    join();
}

void LibraryCheck::join() {
    if (thread_.joinable()) thread_.join();
}

void LibraryCheck::run(std::vector<std::string> paths, WaveCheck check) {
    lowerThisThread();
    for (const std::string& path : paths) {
        if (stop_) break;
        check(path);
        ++checked_;
    }
    finished_ = true;
}

std::thread startLibraryCheck(const SettingsStore& settings) {
    return std::thread(
        [paths = libraryCheckPaths(settings)] {
            lowerThisThread();
            for (const std::string& path : paths) velora::IsPcmWaveFile(path);
        });
}

}  // namespace veloraplay
