// Runs one command and prints what it cost: wall seconds, user and system CPU seconds, peak
// resident memory (KiB) and its exit status, on one line. Standard input is /dev/null,
// standard output goes to SINK (truncated first), standard error to ERRLOG.
// Built by bench/decode at bench time; GNU time's centisecond figures are too coarse for the
// short conformance streams.
//
//   measure SINK ERRLOG COMMAND [ARGS...]
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>

namespace {

double Seconds(const timeval& tv) {
    return static_cast<double>(tv.tv_sec) + static_cast<double>(tv.tv_usec) * 1e-6;
}

double Now() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

bool Redirect(const char* path, int flags, int target) {
    const int fd = open(path, flags, 0644);
    if (fd < 0) return false;
    if (dup2(fd, target) < 0) return false;
    close(fd);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: measure SINK ERRLOG COMMAND [ARGS...]\n");
        return 2;
    }
    const double start = Now();
    const pid_t pid = fork();
    if (pid < 0) {
        std::perror("measure: fork");
        return 2;
    }
    if (pid == 0) {
        if (!Redirect("/dev/null", O_RDONLY, STDIN_FILENO) ||
            !Redirect(argv[1], O_WRONLY | O_CREAT | O_TRUNC, STDOUT_FILENO) ||
            !Redirect(argv[2], O_WRONLY | O_CREAT | O_APPEND, STDERR_FILENO)) {
            _exit(126);
        }
        execvp(argv[3], argv + 3);
        std::perror("measure: exec");
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    if (wait4(pid, &status, 0, &usage) < 0) {
        std::perror("measure: wait4");
        return 2;
    }
    const double wall = Now() - start;
    const int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    std::printf("%.6f %.6f %.6f %ld %d\n", wall, Seconds(usage.ru_utime), Seconds(usage.ru_stime),
                usage.ru_maxrss, code);
    return 0;
}
