// Where a command's output goes, chosen by what the name is now:
// - a regular file, or nothing yet: written to a temporary file in the same folder and
//   renamed into place on Commit, so it appears only when complete; an existing file's
//   mode (and, where allowed, owner) is kept;
// - a symbolic link: followed, and its target (existing or not) replaced that way, in the
//   target's folder, the link left as it is;
// - a device, FIFO or socket (or "-", standard output): written in place, directly.
// The output is refused when it is the input file under any name. Every write goes through
// the stream's own write function, which keeps the first error, so the reason can be told
// even when the failing write happened deep inside a codec loop.
#pragma once

#include <sys/stat.h>

#include <cstdio>
#include <string>
#include <vector>

namespace veloraplay {

// What the stream's write functions work on: the descriptor and the first write error.
struct OutputSink {
    int fd = -1;
    int error = 0;
};

class OutputTarget {
public:
    OutputTarget() = default;
    OutputTarget(const OutputTarget&) = delete;
    OutputTarget& operator=(const OutputTarget&) = delete;
    ~OutputTarget() { Discard(); }

    // Opens `name` ("-" for standard output). `input`, when given, identifies the input
    // file, which the output must not be. On failure returns false and sets `error` to the
    // reason (errno text, or "it is the input file").
    bool Open(const std::string& name, const struct stat* input, std::string& error);
    std::FILE* Stream() const { return file_; }
    // Flushes and closes; a replaced file is renamed into place only when all went well.
    bool Commit(std::string& error);
    // Closes without committing: a temporary file is removed; in place, what was written stays.
    void Discard();

    // The reason of the first failed write (errno text), empty when every write succeeded.
    std::string WriteError() const;
    bool InPlace() const { return inPlace_; }

private:
    bool OpenInPlace(const std::string& name, const struct stat& st, std::string& error);
    bool OpenReplacement(const std::string& name, const struct stat* existing, std::string& error);
    bool Attach(int fd, std::string& error);

    std::FILE* file_ = nullptr;
    OutputSink sink_;
    bool inPlace_ = false;
    std::string target_;     // the name renamed over on Commit
    std::string temporary_;  // empty when written in place
    std::vector<char> buffer_;
};

}  // namespace veloraplay
