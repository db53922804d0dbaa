// Where `velora decode` and `velora encode` put their output: a regular file is replaced
// whole once the work is done, keeping the old file's mode and, through a symbolic link,
// replacing the link's target; a device, FIFO or socket is written in place; the input is
// never written over; a write error names the output and the reason. A WAVE input shorter
// than its data chunk says is encoded as far as it goes, with a one-line warning.
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "CommandFixture.h"

namespace {

namespace fs = std::filesystem;

using velora::cli::test::CommandResult;
using velora::cli::test::Slurp;

constexpr size_t kTagBytes = 128;
constexpr size_t kWaveHeaderBytes = 44;

using velora::cli::test::PutLe;

// 16-bit stereo samples at 44.1 kHz: two tones and a little noise.
std::string Samples(double seconds) {
    std::string data;
    uint32_t seed = 7;
    const int frames = static_cast<int>(seconds * 44100);
    for (int n = 0; n < frames; ++n) {
        for (int ch = 0; ch < 2; ++ch) {
            seed = seed * 1664525u + 1013904223u;
            const double t = n / 44100.0;
            const double v = 7000.0 * std::sin(2 * 3.14159265358979 * (ch == 0 ? 440.0 : 550.0) * t) +
                             static_cast<double>(static_cast<int>(seed >> 20) - 2048) * 0.5;
            PutLe(data, static_cast<uint32_t>(static_cast<int32_t>(std::lround(v))) & 0xFFFF, 2);
        }
    }
    return data;
}

// A RIFF/WAVE file around `data` whose data chunk claims `declared` bytes.
std::string Wave(const std::string& data, uint32_t declared) {
    return velora::cli::test::WaveHeader(2, 44100, 16, declared, declared == 0xFFFFFFFFu ? declared : 0) + data;
}

std::string ModeText(mode_t mode) {
    char text[8];
    std::snprintf(text, sizeof(text), "%04o", static_cast<unsigned>(mode & 07777));
    return text;
}

mode_t CurrentUmask() {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return mask;
}

// Everything the command writes into a FIFO or a Unix socket, read on a thread of its own
// while the command runs. Finish() lets the thread go when the command never connected,
// even when a fault replaced the FIFO or socket by a file of the same name.
class Drain {
  public:
    enum Kind { kFifo, kSocket };

    Drain(Kind kind, const fs::path& path) : kind_(kind), path_(path) {
        if (::pipe(stop_) != 0) {
            error_ = std::strerror(errno);
            return;
        }
        if (kind_ == kSocket) {
            listener_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0);
            sockaddr_un address{};
            address.sun_family = AF_UNIX;
            std::strncpy(address.sun_path, path_.c_str(), sizeof(address.sun_path) - 1);
            if (listener_ < 0 ||
                ::bind(listener_, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0 ||
                ::listen(listener_, 4) != 0) {
                error_ = std::strerror(errno);
                return;
            }
        } else {
            // The FIFO is reopened through a descriptor of its own, not by its name.
            if (::mkfifo(path_.c_str(), 0644) != 0 || (fifo_ = ::open(path_.c_str(), O_PATH)) < 0) {
                error_ = std::strerror(errno);
                return;
            }
            fifoName_ = "/proc/self/fd/" + std::to_string(fifo_);
        }
        thread_ = std::thread([this] { kind_ == kSocket ? ReadSocket() : ReadFifo(); });
    }
    ~Drain() {
        if (thread_.joinable()) Finish();
        for (const int fd : {listener_, fifo_, stop_[0], stop_[1]})
            if (fd >= 0) ::close(fd);
    }

    const std::string& Error() const { return error_; }

    // Call once the command has exited: whatever it sent is queued or read by then.
    std::string Finish() {
        if (kind_ == kSocket) {
            const char stop = 1;
            (void)!::write(stop_[1], &stop, 1);
        } else {
            // A reader still waiting in open() is let through by a writer that leaves at once.
            while (!done_.load()) {
                const int fd = ::open(fifoName_.c_str(), O_WRONLY | O_NONBLOCK);
                if (fd >= 0) ::close(fd);
                std::this_thread::yield();
            }
        }
        thread_.join();
        return bytes_;
    }

  private:
    void ReadAll(int fd) {
        char buffer[65536];
        ssize_t n = 0;
        while ((n = ::read(fd, buffer, sizeof(buffer))) > 0) bytes_.append(buffer, static_cast<size_t>(n));
        ::close(fd);
    }

    void ReadFifo() {
        const int fd = ::open(fifoName_.c_str(), O_RDONLY);
        if (fd >= 0) ReadAll(fd);
        done_.store(true);
    }

    // A queued connection is taken before the stop is looked at.
    void ReadSocket() {
        for (;;) {
            const int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd >= 0) {
                const int flags = ::fcntl(fd, F_GETFL);
                ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
                ReadAll(fd);
                break;
            }
            pollfd waits[2] = {{listener_, POLLIN, 0}, {stop_[0], POLLIN, 0}};
            if (::poll(waits, 2, -1) < 0 && errno != EINTR) break;
            if ((waits[1].revents & POLLIN) != 0 && (waits[0].revents & POLLIN) == 0) break;
        }
        done_.store(true);
    }

    Kind kind_;
    fs::path path_;
    int listener_ = -1;
    int fifo_ = -1;
    int stop_[2] = {-1, -1};
    std::string fifoName_;
    std::string error_;
    std::string bytes_;
    std::atomic<bool> done_{false};
    std::thread thread_;
};

class OutputFiles : public velora::cli::test::CommandFixture {
  protected:
    OutputFiles() : CommandFixture("velora-out-") {}

    void SetUp() override {
        CommandFixture::SetUp();
        mp3_ = (dir_ / "in.mp3").string();
        fs::copy_file(VELORA_SOURCE_DIR "/Veloradec/tests/conformance/l3-si.bit", mp3_);
        const std::string samples = Samples(0.4);
        wav_ = Write("in.wav", Wave(samples, static_cast<uint32_t>(samples.size())));
    }

    std::string Write(const std::string& name, const std::string& bytes) const {
        const fs::path p = dir_ / name;
        std::FILE* f = std::fopen(p.c_str(), "wb");
        if (f != nullptr) {
            std::fwrite(bytes.data(), 1, bytes.size(), f);
            std::fclose(f);
        }
        return p.string();
    }

    // The command for `command` (decode or encode) from the test's input to `out`.
    std::string Args(const std::string& command, const std::string& out) const {
        return command == "decode" ? "decode -q " + mp3_ + " " + out : "encode --quiet " + wav_ + " " + out;
    }

    // A device node in the work folder with the numbers of `device`, so a fault can only
    // replace the copy. Without the right to make nodes the real device is used: then the
    // command has no right to replace it either.
    std::string DeviceCopy(const std::string& name, const char* device) const {
        struct stat st {};
        if (::stat(device, &st) != 0) return device;
        const fs::path copy = dir_ / name;
        if (::mknod(copy.c_str(), S_IFCHR | 0666, st.st_rdev) == 0) return copy.string();
        return ::geteuid() == 0 ? std::string() : std::string(device);
    }

    // Names in the work folder and below, relative to it.
    std::vector<std::string> Tree() const {
        std::vector<std::string> names;
        for (const auto& e : fs::recursive_directory_iterator(dir_))
            names.push_back(e.path().lexically_relative(dir_).string());
        std::sort(names.begin(), names.end());
        return names;
    }

    std::string mp3_;
    std::string wav_;
};

// What the command made, against what it makes into a new regular file. A stream that
// could not seek holds a WAVE header with open sizes; an encoded file ends in a tag whose
// year is today's, left out of the comparison.
void ExpectSameOutput(const std::string& command, const std::string& got, const std::string& reference,
                      bool seekable) {
    ASSERT_EQ(got.size(), reference.size());
    if (command == "encode") {
        EXPECT_TRUE(got.compare(0, got.size() - kTagBytes, reference, 0, got.size() - kTagBytes) == 0);
        EXPECT_EQ(got.substr(got.size() - kTagBytes, 3), "TAG");
    } else if (seekable) {
        EXPECT_TRUE(got == reference);
    } else {
        ASSERT_GE(got.size(), kWaveHeaderBytes);
        EXPECT_EQ(got.substr(0, 4), "RIFF");
        EXPECT_EQ(got.substr(8, 32), reference.substr(8, 32));
        EXPECT_TRUE(got.compare(kWaveHeaderBytes, std::string::npos, reference, kWaveHeaderBytes) == 0);
    }
}

enum class Target {
    kNewFile,
    kFileMode0600,
    kLinkToFile,
    kLinkChain,
    kDanglingLink,
    kNullDevice,
    kFullDevice,
    kFifo,
    kSocket,
    kStdoutPipe,
};

struct TargetCase {
    const char* name;
    Target target;
};

constexpr TargetCase kTargets[] = {
    {"new regular file", Target::kNewFile},
    {"existing file of mode 0600", Target::kFileMode0600},
    {"symbolic link to a file in another folder", Target::kLinkToFile},
    {"link to a link to a file", Target::kLinkChain},
    {"dangling symbolic link", Target::kDanglingLink},
    {"null device", Target::kNullDevice},
    {"full device", Target::kFullDevice},
    {"FIFO", Target::kFifo},
    {"Unix socket", Target::kSocket},
    {"standard output as /proc/self/fd/1 on a pipe", Target::kStdoutPipe},
};

TEST_F(OutputFiles, EveryKindOfTargetGetsTheOutputWhereItBelongs) {
    const mode_t fresh = 0666 & ~CurrentUmask();
    for (const std::string command : {"decode", "encode"}) {
        const fs::path refPath = dir_ / "reference";
        const CommandResult made = Velora(Args(command, refPath.string()));
        ASSERT_EQ(made.status, 0) << made.err;
        const std::string reference = Slurp(refPath);
        fs::remove(refPath);
        ASSERT_GT(reference.size(), 1000u);

        for (const TargetCase& c : kTargets) {
            SCOPED_TRACE(command + " to: " + c.name);
            const fs::path sub = dir_ / "sub";
            fs::create_directories(sub);
            std::vector<std::string> expectedTree = Tree();
            const auto expectFiles = [&](std::vector<std::string> extra) {
                extra.insert(extra.end(), expectedTree.begin(), expectedTree.end());
                std::sort(extra.begin(), extra.end());
                EXPECT_EQ(Tree(), extra);  // no temporary file left, nothing replaced by one
            };
            struct stat st {};
            switch (c.target) {
                case Target::kNewFile: {
                    const fs::path out = sub / "new.out";
                    const CommandResult r = Velora(Args(command, out.string()));
                    EXPECT_EQ(r.status, 0) << r.err;
                    ExpectSameOutput(command, Slurp(out), reference, true);
                    EXPECT_EQ(::stat(out.c_str(), &st), 0);
                    EXPECT_EQ(ModeText(st.st_mode), ModeText(fresh));
                    expectFiles({"sub/new.out"});
                    break;
                }
                case Target::kFileMode0600: {
                    const fs::path out = sub / "private.out";
                    Write("sub/private.out", "old contents");
                    ::chmod(out.c_str(), 0600);
                    expectedTree = Tree();
                    const CommandResult r = Velora(Args(command, out.string()));
                    EXPECT_EQ(r.status, 0) << r.err;
                    ExpectSameOutput(command, Slurp(out), reference, true);
                    EXPECT_EQ(::stat(out.c_str(), &st), 0);
                    EXPECT_EQ(ModeText(st.st_mode), "0600");
                    expectFiles({});
                    break;
                }
                case Target::kLinkToFile:
                case Target::kLinkChain: {
                    const fs::path target = sub / "target.out";
                    Write("sub/target.out", "old contents");
                    ::chmod(target.c_str(), 0640);
                    const fs::path link = dir_ / "link.out";
                    fs::create_symlink("sub/target.out", link);
                    fs::path given = link;
                    if (c.target == Target::kLinkChain) {
                        given = sub / "second.out";
                        fs::create_symlink("../link.out", given);
                    }
                    expectedTree = Tree();
                    const CommandResult r = Velora(Args(command, given.string()));
                    EXPECT_EQ(r.status, 0) << r.err;
                    EXPECT_TRUE(fs::is_symlink(link));
                    if (fs::is_symlink(link)) {
                        EXPECT_EQ(fs::read_symlink(link), "sub/target.out");
                    }
                    EXPECT_TRUE(fs::is_symlink(given));
                    ExpectSameOutput(command, Slurp(target), reference, true);
                    EXPECT_EQ(::stat(target.c_str(), &st), 0);
                    EXPECT_EQ(ModeText(st.st_mode), "0640");
                    expectFiles({});
                    fs::remove(link);
                    break;
                }
                case Target::kDanglingLink: {
                    const fs::path link = dir_ / "dangling.out";
                    fs::create_symlink("sub/later.out", link);
                    expectedTree = Tree();
                    const CommandResult r = Velora(Args(command, link.string()));
                    EXPECT_EQ(r.status, 0) << r.err;
                    EXPECT_TRUE(fs::is_symlink(link));
                    ExpectSameOutput(command, Slurp(sub / "later.out"), reference, true);
                    EXPECT_EQ(::stat((sub / "later.out").c_str(), &st), 0);
                    EXPECT_EQ(ModeText(st.st_mode), ModeText(fresh));
                    expectFiles({"sub/later.out"});
                    fs::remove(link);
                    break;
                }
                case Target::kNullDevice:
                case Target::kFullDevice: {
                    const bool full = c.target == Target::kFullDevice;
                    const std::string node = DeviceCopy(full ? "full" : "null", full ? "/dev/full" : "/dev/null");
                    ASSERT_FALSE(node.empty()) << "cannot make a device node";
                    struct stat before {};
                    ASSERT_EQ(::stat(node.c_str(), &before), 0);
                    expectedTree = Tree();
                    const CommandResult r = Velora(Args(command, node));
                    EXPECT_EQ(::lstat(node.c_str(), &st), 0);
                    EXPECT_TRUE(S_ISCHR(st.st_mode)) << node << " was replaced";
                    EXPECT_EQ(st.st_rdev, before.st_rdev);
                    if (full) {
                        EXPECT_EQ(r.status, 1);
                        EXPECT_EQ(r.err, "velora: cannot write '" + node + "': " + std::strerror(ENOSPC) + "\n");
                    } else {
                        EXPECT_EQ(r.status, 0) << r.err;
                        EXPECT_EQ(r.err, "");
                    }
                    expectFiles({});
                    if (node.rfind(dir_.string(), 0) == 0) fs::remove(node);
                    break;
                }
                case Target::kFifo:
                case Target::kSocket: {
                    const bool socket = c.target == Target::kSocket;
                    const fs::path path = sub / (socket ? "sock" : "fifo");
                    Drain drain(socket ? Drain::kSocket : Drain::kFifo, path);
                    ASSERT_EQ(drain.Error(), "");
                    expectedTree = Tree();
                    const CommandResult r = Velora(Args(command, path.string()));
                    const std::string got = drain.Finish();
                    EXPECT_EQ(r.status, 0) << r.err;
                    EXPECT_EQ(::lstat(path.c_str(), &st), 0);
                    EXPECT_TRUE(socket ? S_ISSOCK(st.st_mode) : S_ISFIFO(st.st_mode)) << "replaced";
                    ExpectSameOutput(command, got, reference, false);
                    expectFiles({});
                    fs::remove(path);
                    break;
                }
                case Target::kStdoutPipe: {
                    const fs::path got = dir_ / "piped";
                    const fs::path status = dir_ / "status";
                    const fs::path err = dir_ / "err";
                    const std::string shell = "( " + std::string(VELORA_BINARY) + " " +
                                              Args(command, "/proc/self/fd/1") + " 2>" + err.string() +
                                              "; echo $? >" + status.string() + " ) | cat >" + got.string();
                    ASSERT_EQ(std::system(shell.c_str()), 0);
                    EXPECT_EQ(Slurp(status), "0\n") << Slurp(err);
                    ExpectSameOutput(command, Slurp(got), reference, false);
                    fs::remove(got);
                    fs::remove(status);
                    fs::remove(err);
                    expectFiles({});
                    break;
                }
            }
            fs::remove_all(sub);
        }
    }
}

// The output never replaces the input, whatever name leads to it; nothing is written.
TEST_F(OutputFiles, OutputThatIsTheInputIsRefused) {
    struct Case {
        const char* name;
        std::string (*output)(const fs::path& dir, const std::string& input);
    };
    const Case cases[] = {
        {"the same name", [](const fs::path&, const std::string& in) { return in; }},
        {"another path", [](const fs::path& dir, const std::string& in) {
             return (dir / "." / "sub" / ".." / fs::path(in).filename()).string();
         }},
        {"a hard link", [](const fs::path& dir, const std::string& in) {
             const fs::path link = dir / "hard";
             fs::create_hard_link(in, link);
             return link.string();
         }},
        {"a symbolic link", [](const fs::path& dir, const std::string& in) {
             const fs::path link = dir / "soft";
             fs::create_symlink(fs::path(in).filename(), link);
             return link.string();
         }},
    };
    fs::create_directories(dir_ / "sub");
    for (const std::string command : {"decode", "encode"}) {
        const std::string& input = command == "decode" ? mp3_ : wav_;
        const std::string original = Slurp(input);
        for (const Case& c : cases) {
            SCOPED_TRACE(command + " with the output as " + c.name);
            const std::vector<std::string> before = Tree();
            const std::string out = c.output(dir_, input);
            const std::vector<std::string> withOut = Tree();
            const std::string args = command == "decode" ? "decode -q " + input + " " + out
                                                         : "encode --quiet " + input + " " + out;
            const CommandResult r = Velora(args);
            EXPECT_EQ(r.status, 1);
            EXPECT_EQ(r.err, "velora: cannot write '" + out + "': it is the input file\n");
            EXPECT_TRUE(Slurp(input) == original);
            EXPECT_EQ(Tree(), withOut);
            if (out != input && fs::path(out).filename() != fs::path(input).filename()) fs::remove(out);
            EXPECT_EQ(Tree(), before);
        }
    }
}

// A data chunk that claims more than the file holds, or a file cut short: what is there is
// encoded, exactly as if the header had told the truth, and one warning line says how much
// was missing. Sizes that tell the truth, or the open size of a streamed file, say nothing.
TEST_F(OutputFiles, ShortWaveDataIsEncodedWithAWarning) {
    const std::string samples = Samples(0.5);
    const uint32_t size = static_cast<uint32_t>(samples.size());
    struct Case {
        const char* name;
        uint32_t declared;
        size_t present;  // sample bytes in the file
        bool warns;
    };
    const Case cases[] = {
        {"truthful", size, size, false},
        {"streamed", 0xFFFFFFFFu, size, false},
        {"size claims twice the data", 2 * size, size, true},
        {"file cut inside the data", size, size / 3 + 1, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string present = samples.substr(0, c.present);
        fs::create_directories(dir_ / "honest");
        const std::string honest = (dir_ / "honest" / "short.wav").string();
        const std::string input = Write("short.wav", Wave(present, c.declared));
        Write("honest/short.wav", Wave(present, static_cast<uint32_t>(present.size())));
        const fs::path out = dir_ / "short.mp3";
        const fs::path expected = dir_ / "honest.mp3";
        const CommandResult r = Velora("encode --quiet " + input + " " + out.string());
        ASSERT_EQ(r.status, 0) << r.err;
        const CommandResult h = Velora("encode --quiet " + honest + " " + expected.string());
        ASSERT_EQ(h.status, 0) << h.err;
        ExpectSameOutput("encode", Slurp(out), Slurp(expected), true);
        if (c.warns) {
            const std::string missing = std::to_string(c.declared - c.present);
            EXPECT_EQ(r.err.rfind("velora: warning: '" + input + "': ", 0), 0u) << r.err;
            EXPECT_NE(r.err.find(" " + missing + " "), std::string::npos) << r.err;
            EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        } else {
            EXPECT_EQ(r.err, "");
        }
        EXPECT_EQ(h.err, "");
        fs::remove(out);
        fs::remove(expected);
    }
}

}  // namespace
