// The manual page renders without warnings and names every command word the command line
// takes, and the environment the program reads.
#include "CommandLine.h"
#include "CommandOutput.h"

#include <gtest/gtest.h>

#include <string>

namespace tessura {
namespace {

using test::commandOutput;

TEST(TessuraManual, RendersCleanlyAndNamesEveryCommandAndVariable) {
    EXPECT_EQ(commandOutput("MANWIDTH=100 man --warnings -l '" TESSURA_MANUAL "' 2>&1 >/dev/null"), "") << "warnings";
    const std::string page = commandOutput("MANWIDTH=100 MAN_KEEP_FORMATTING=0 man -l '" TESSURA_MANUAL "' 2>/dev/null | col -b");
    ASSERT_FALSE(page.empty());
    for (const std::string_view word : CommandWords()) {
        std::string command(1, '-');
        command.append(word);
        EXPECT_NE(page.find(command), std::string::npos) << word;
    }
    for (const char* variable : {"TESSURA_HOME", "TESSURA_AUDIO", "TESSURA_INFO_SUFFIX", "TESSURA_DIALOGS",
                                 "XDG_CONFIG_HOME", "XDG_RUNTIME_DIR"}) {
        EXPECT_NE(page.find(variable), std::string::npos) << variable;
    }
}

}  // namespace
}  // namespace tessura
