#pragma once
// The python3 test server of stream_server.py on 127.0.0.1, started for a test suite and
// stopped (its stdin closed, then waited for) when the object goes.
#include <csignal>
#include <cstdio>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

namespace tessura {

class LoopbackServer {
  public:
    explicit LoopbackServer(const std::string& script) {
        int in[2], out[2];
        if (::pipe(in) != 0) return;
        if (::pipe(out) != 0) {
            ::close(in[0]);
            ::close(in[1]);
            return;
        }
        pid_ = ::fork();
        if (pid_ == 0) {
            ::dup2(in[0], 0);
            ::dup2(out[1], 1);
            ::close(in[1]);
            ::close(out[0]);
            ::execlp("python3", "python3", script.c_str(), static_cast<char*>(nullptr));
            ::_exit(127);
        }
        ::close(in[0]);
        ::close(out[1]);
        stdin_ = in[1];
        if (pid_ < 0) {
            ::close(out[0]);
            return;
        }
        std::FILE* reply = ::fdopen(out[0], "r");
        if (reply != nullptr) {
            if (std::fscanf(reply, "PORT %d", &port_) != 1) port_ = 0;
            std::fclose(reply);
        }
    }
    ~LoopbackServer() {
        if (stdin_ >= 0) ::close(stdin_);
        if (pid_ <= 0) return;
        for (int i = 0; i < 200; ++i) {
            if (::waitpid(pid_, nullptr, WNOHANG) == pid_) return;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }
    LoopbackServer(const LoopbackServer&) = delete;
    LoopbackServer& operator=(const LoopbackServer&) = delete;

    int port() const { return port_; }
    std::string url(const std::string& path) const {
        return "http://127.0.0.1:" + std::to_string(port_) + path;
    }

  private:
    pid_t pid_ = -1;
    int stdin_ = -1;
    int port_ = 0;
};

}  // namespace tessura
