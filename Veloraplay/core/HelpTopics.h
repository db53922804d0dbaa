#pragma once
// The help pages of the three windows, opened in the user's viewer.
#include "Processes.h"

#include <string>

namespace veloraplay {

inline constexpr char kHelpPlayer[] = "controller_index.html";
inline constexpr char kHelpLibrary[] = "library_index.html";
inline constexpr char kHelpEncoder[] = "encoder_index.html";

class HelpTopics {
  public:
    // programHome: $VELORAPLAY_HOME or the program's folder. The pages are looked for in
    // <home>/help/ and then in <home>/../share/veloraplay/help/ (an installed program).
    HelpTopics(std::string programHome, Launcher& launcher);

    // The page's path, or empty when it is not installed.
    std::string pagePath(const std::string& topic) const;

    // Opens the page; nothing visible happens when the page or a viewer is missing.
    bool open(const std::string& topic);

  private:
    std::string home_;
    Launcher& launcher_;
};

}  // namespace veloraplay
