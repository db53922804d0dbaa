// The tessura program from the outside: started with a private settings folder, it reads the
// language file and the settings beside it, writes the settings back and ends; without any
// language file it cannot run and says so.
#include "TempFolder.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <sys/wait.h>

namespace tessura {
namespace {

struct ProgramRun {
    int status = -1;
    std::string output;
};

ProgramRun runProgram(const std::string& environment, const std::string& arguments = "") {
    const std::string command = environment + " '" TESSURA_PROGRAM "' " + arguments + " 2>&1";
    ProgramRun run;
    std::FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) return run;
    char piece[4096];
    std::size_t n = 0;
    while ((n = std::fread(piece, 1, sizeof piece, pipe)) > 0) run.output.append(piece, n);
    const int raw = ::pclose(pipe);
    run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    return run;
}

TEST(TessuraProgram, ReadsItsFilesWritesTheSettingsAndSaysItIsNotAPlayerYet) {
    test::TempFolder folder;
    const std::string environment = "env -u TESSURA_HOME XDG_CONFIG_HOME='" + folder.file("config") +
                                    "' XDG_DATA_HOME='" + folder.file("data") + "' TESSURA_DIALOGS=";
    ProgramRun first = runProgram(environment);
    ASSERT_EQ(first.status, 0) << first.output;
    EXPECT_NE(first.output.find("language: English"), std::string::npos) << first.output;
    EXPECT_NE(first.output.find("not built yet"), std::string::npos);
    const std::string settings = folder.read("config/Quellmark/tessura.ini");
    EXPECT_NE(settings.find("SeedNumber=1\r\n"), std::string::npos);
    EXPECT_NE(settings.find("TessuraVersion=1.96\r\n"), std::string::npos);

    ProgramRun second = runProgram(environment);
    ASSERT_EQ(second.status, 0) << second.output;
    EXPECT_NE(folder.read("config/Quellmark/tessura.ini").find("SeedNumber=2\r\n"), std::string::npos);

    ProgramRun help = runProgram(environment, "--help");
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.output.find("not a player yet"), std::string::npos);
}

TEST(TessuraProgram, WithoutASettingsFolderItWarnsAndKeepsTheOlderFileInstead) {
    test::TempFolder folder;
    std::string english;
    ASSERT_TRUE(readWholeFile(std::string(VELORA_SOURCE_DIR) + "/tessura/system/english.lng", english));
    folder.write("home/system/english.lng", english);
    folder.write("config", "a file where the settings folder should be");
    const std::string environment = "TESSURA_HOME='" + folder.file("home") + "' XDG_CONFIG_HOME='" +
                                    folder.file("config") + "' XDG_DATA_HOME='" + folder.file("data") +
                                    "' TESSURA_DIALOGS=";
    ProgramRun run = runProgram(environment);
    EXPECT_EQ(run.status, 0) << run.output;
    EXPECT_NE(run.output.find("\"Non-fatal error\" / \"Tessura could not check its settings"), std::string::npos)
        << run.output;
    EXPECT_NE(folder.read("home/tessura.ini").find("TessuraVersion=1.96\r\n"), std::string::npos);
}

TEST(TessuraProgram, WithoutALanguageFileItCannotRun) {
    test::TempFolder folder;
    folder.write("home/system/readme.txt", "no language files here");
    const std::string environment = "TESSURA_HOME='" + folder.file("home") + "' XDG_CONFIG_HOME='" +
                                    folder.file("config") + "' TESSURA_DIALOGS=";
    ProgramRun run = runProgram(environment);
    EXPECT_EQ(run.status, 255);  // the exit code -1
    EXPECT_NE(run.output.find("\"Files Missing\" / \"Error loading languages - can not run Tessura\""),
              std::string::npos) << run.output;
}

}  // namespace
}  // namespace tessura
