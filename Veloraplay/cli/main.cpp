// velora: decode, encode and inspect Velora and mp3 files from the command line.
#include <cstdio>
#include <cstring>
#include <string_view>

namespace {

constexpr const char* kUsage =
    "Usage: velora COMMAND [OPTIONS] ...\n"
    "\n"
    "Decodes, encodes and inspects Velora and mp3 files.\n"
    "\n"
    "Commands:\n"
    "  help              show this text\n"
    "\n"
    "Options:\n"
    "  -h, --help        show this text\n"
    "  -V, --version     show the version\n";

int Usage(FILE* out, int status) {
    std::fputs(kUsage, out);
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return Usage(stderr, 2);
    const std::string_view command = argv[1];
    if (command == "-h" || command == "--help" || command == "help") return Usage(stdout, 0);
    if (command == "-V" || command == "--version") {
        std::printf("velora %s\n", VELORA_VERSION);
        return 0;
    }
    std::fprintf(stderr, "velora: unknown command '%s' (try 'velora --help')\n", argv[1]);
    return 2;
}
