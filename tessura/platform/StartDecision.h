#pragma once
// The first step of start-up: whether this start runs, hands its command line to the running
// instance, or ends. Pure logic over the argument text and what the instance lock reported, so
// every row of the table can be checked without starting anything.
#include <string_view>

namespace tessura {

// The flags are looked for anywhere in the argument text, as plain substrings.
struct StartFlags {
    bool noNew = false;  // "-nonew": never start a new instance
    bool isNew = false;  // "-new", or "-nogui" which counts as "-new"
    bool noGui = false;  // "-nogui": run without any window contents
};

StartFlags readStartFlags(std::string_view argumentText);

enum class StartDecision {
    RunAsFirst,      // this is the only instance: run, and listen for later starts
    RunAlongside,    // another instance runs, "-new" asked for one more: run, do not listen
    ForwardAndExit,  // the running instance took the command line: end this start
    Exit,            // end at once (nothing to hand over to, or "-nonew" with nobody running)
};

// True when a start that found the lock `lockExisted` hands its argument text to the running
// instance. An empty text is handed over too: the running instance then only comes to the
// front, instead of a second full player starting over the same playlist and settings files.
bool startForwards(std::string_view argumentText, bool lockExisted);

// The outcome of the first step; `forwarded` (whether the running instance took the text)
// only counts when startForwards() said to forward.
StartDecision decideStart(std::string_view argumentText, bool lockExisted, bool forwarded);

const char* startDecisionName(StartDecision decision);

}  // namespace tessura
