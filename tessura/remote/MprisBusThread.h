#pragma once
// A thread that keeps an MprisBus running where the program has no loop to poll it in (the run
// without a window): it waits on the bus's descriptor and timeout and processes it, until
// destroyed. The bus's calls then arrive on this thread and are posted on from there.
#include "MprisBus.h"

#include <thread>

namespace tessura::remote {

class MprisBusThread {
  public:
    explicit MprisBusThread(MprisBus& bus);
    ~MprisBusThread();  // stops and joins the thread; the bus may then be destroyed
    MprisBusThread(const MprisBusThread&) = delete;
    MprisBusThread& operator=(const MprisBusThread&) = delete;

  private:
    void run();
    MprisBus& bus_;
    int stopFd_ = -1;
    std::thread thread_;
};

}  // namespace tessura::remote
