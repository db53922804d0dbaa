// An output file that appears under its name only when complete: written to a temporary
// file in the same folder and renamed into place on Commit. Anything else (an error, an
// interruption, destruction without Commit) removes the temporary file.
#pragma once

#include <cstdio>
#include <string>

namespace veloraplay {

class AtomicOutputFile {
public:
    AtomicOutputFile() = default;
    AtomicOutputFile(const AtomicOutputFile&) = delete;
    AtomicOutputFile& operator=(const AtomicOutputFile&) = delete;
    ~AtomicOutputFile() { Discard(); }

    // Opens the temporary file; on failure returns false and sets `error` (errno text).
    bool Open(const std::string& target, std::string& error);
    std::FILE* Stream() const { return file_; }
    bool Commit(std::string& error);
    void Discard();
    // The temporary path, for a signal handler that must remove it.
    const std::string& TemporaryPath() const { return temporary_; }

private:
    std::FILE* file_ = nullptr;
    std::string target_;
    std::string temporary_;
};

}  // namespace veloraplay
