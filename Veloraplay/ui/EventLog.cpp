#include "EventLog.h"

#include <fcntl.h>
#include <unistd.h>
#include <cstdlib>

namespace veloraplay {

void logEvent(const std::string& event, const std::string& detail) {
    const char* path = std::getenv("VELORAPLAY_EVENT_LOG");
    if (!path || !*path) return;
    std::string line = std::to_string(::getpid()) + "\t" + event + "\t";
    for (const char c : detail) {
        if (c == '\n')
            line += "\\n";
        else if (c == '\\')
            line += "\\\\";
        else
            line.push_back(c);
    }
    line.push_back('\n');
    // One write of the whole line, appended, so that two processes never mix their lines.
    const int fd = ::open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    if (fd < 0) return;
    const ssize_t written = ::write(fd, line.data(), line.size());
    (void)written;
    ::close(fd);
}

}  // namespace veloraplay
