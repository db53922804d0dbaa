#include "AboutText.h"

#include <cstdio>

namespace veloraplay {

std::string aboutVersionLine(int major, int minor, int build, int revision,
                             const std::string& date) {
    char line[96];
    std::snprintf(line, sizeof line, "Version %i.%i.%i (Build %i) ", major, minor, build, revision);
    return line + date;
}

ProgramVersion programVersion() {
#if defined(VELORAPLAY_VERSION_MAJOR) && defined(VELORAPLAY_VERSION_MINOR) && \
    defined(VELORAPLAY_VERSION_PATCH)
    ProgramVersion v{VELORAPLAY_VERSION_MAJOR, VELORAPLAY_VERSION_MINOR, VELORAPLAY_VERSION_PATCH,
                     0};
#else
    ProgramVersion v{0, 1, 0, 0};
#endif
#ifdef VELORAPLAY_BUILD_NUMBER
    v.revision = VELORAPLAY_BUILD_NUMBER;
#endif
    return v;
}

std::string aboutVersionLine() {
    const ProgramVersion v = programVersion();
    return aboutVersionLine(v.major, v.minor, v.build, v.revision, __DATE__);
}

}  // namespace veloraplay
