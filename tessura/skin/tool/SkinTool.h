#pragma once
// tessura-skin: makes, lists, unpacks and checks skin archives. The command's logic lives here
// so that tests run it in-process; main.cpp only hands it the arguments and the streams.
#include <ostream>
#include <string>
#include <vector>

namespace tessura {

inline constexpr int kSkinToolOk = 0;
inline constexpr int kSkinToolBadInput = 1;
inline constexpr int kSkinToolUsage = 2;

// `args` without the program name. Returns the exit code.
int RunSkinTool(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace tessura
