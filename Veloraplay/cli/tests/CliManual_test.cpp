// The manual page and the bash completion as `cmake --install` puts them: the page renders
// with man -l without a warning and names every option `velora --help` lists; the
// completion offers the commands, an option's values and the genre names.
#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>

#include <gtest/gtest.h>

#include "CommandFixture.h"

namespace {

namespace fs = std::filesystem;

using velora::cli::test::Slurp;

class velora_cli_manual : public velora::cli::test::CommandFixture {
  protected:
    velora_cli_manual() : CommandFixture("velora-cli-manual-") {}
    // Standard output of a shell command, run in the work folder.
    std::string Out(const std::string& command) {
        const fs::path out = dir_ / "out.txt";
        std::system(("cd '" + dir_.string() + "' && (" + command + ") >'" + out.string() + "' 2>&1").c_str());
        std::string s = Slurp(out);
        fs::remove(out);
        return s;
    }
};

TEST_F(velora_cli_manual, InstalledPageAndCompletionDescribeTheCommand) {
    const fs::path prefix = dir_ / "prefix";
    ASSERT_EQ(std::system(("cmake --install '" VELORA_BUILD_DIR "' --component velora --prefix '" + prefix.string() +
                           "' >/dev/null")
                              .c_str()),
              0);
    const fs::path page = prefix / "share/man/man1/velora.1";
    const fs::path completion = prefix / "share/bash-completion/completions/velora";
    ASSERT_TRUE(fs::exists(prefix / "bin/velora"));
    ASSERT_TRUE(fs::exists(page));
    ASSERT_TRUE(fs::exists(completion));

    // man-db is installed by scripts/setup.sh.
    EXPECT_EQ(Out("MANWIDTH=100 man --warnings -l '" + page.string() + "' >/dev/null"), "") << "warnings";
    const std::string text = Out("MANWIDTH=100 MAN_KEEP_FORMATTING= man -l '" + page.string() + "' | col -b");
    ASSERT_NE(text.find("velora - decode, encode, inspect and play Velora and mp3 files"), std::string::npos) << text;
    // Every long option of the help text.
    const std::string help = Out("'" VELORA_BINARY "' --help");
    std::set<std::string> options;
    for (size_t at = help.find("--"); at != std::string::npos; at = help.find("--", at + 2)) {
        size_t end = at + 2;
        while (end < help.size() && (std::isalnum(static_cast<unsigned char>(help[end])) || help[end] == '-')) ++end;
        options.insert(help.substr(at, end - at));
    }
    EXPECT_GT(options.size(), 30u);
    for (const std::string& o : options) EXPECT_NE(text.find(o), std::string::npos) << o << " is not in the page";

    const auto complete = [&](const std::string& words) {
        return Out("PATH='" + (prefix / "bin").string() + "':$PATH bash -c 'source \"" + completion.string() +
                   "\"; COMP_WORDS=(" + words + "); COMP_CWORD=$((${#COMP_WORDS[@]} - 1)); _velora; "
                   "printf \"%s\\n\" \"${COMPREPLY[@]}\"; complete -p velora'");
    };
    EXPECT_EQ(complete("velora d"), "decode\ncomplete -o filenames -F _velora velora\n");
    EXPECT_EQ(complete("velora encode --mode \"\""), "mono\nstereo\nlc\ndual\ncomplete -o filenames -F _velora velora\n");
    EXPECT_EQ(complete("velora encode --genre-"), "--genre-list\ncomplete -o filenames -F _velora velora\n");
    EXPECT_EQ(complete("velora decode --r"), "--raw\ncomplete -o filenames -F _velora velora\n");
    EXPECT_EQ(complete("velora encode --genre hard"), "Hard\\ Rock\nHardcore\ncomplete -o filenames -F _velora velora\n");
}

}  // namespace
