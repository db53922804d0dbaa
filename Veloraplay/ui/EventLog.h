#pragma once
// A line for each thing the windows were asked to do, appended to the file named by
// VELORAPLAY_EVENT_LOG (and nothing when it is unset): "<pid>\t<event>\t<detail>". Scripts
// and tests read it to see what a running player received.
#include <string>

namespace veloraplay {

void logEvent(const std::string& event, const std::string& detail = {});

}  // namespace veloraplay
