#pragma once
// Feedline's TCP calls: each one waits with poll() on the socket and the caller's cancel
// descriptor together, and never longer than its deadline. Results: FEEDLINE_OK / a byte
// count, or a FEEDLINE_* error code.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

namespace feedline {

class Deadline {
  public:
    explicit Deadline(int milliseconds)
        : at_(std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds)) {}
    // What is left, in whole milliseconds (0 once passed).
    int remaining() const;

  private:
    std::chrono::steady_clock::time_point at_;
};

// 1 when `fd` is ready for `events`, 0 when the deadline passed, FEEDLINE_CANCELLED when the
// cancel descriptor became readable, another error code on failure.
int waitReady(int fd, short events, int cancel, const Deadline& deadline);

// A connected non-blocking TCP socket to host:port in `fd`, trying each address in turn.
int connectTcp(const std::string& host, uint16_t port, int cancel, const Deadline& deadline, int& fd);
int sendAll(int fd, const std::string& data, int cancel, const Deadline& deadline);
// Up to `size` bytes: their count, 0 when the peer closed, or an error code.
int receiveSome(int fd, uint8_t* buffer, std::size_t size, int cancel, const Deadline& deadline);

}  // namespace feedline
