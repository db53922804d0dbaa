// Stand-ins for a damaged Feedline.so: built once with only ProvideErrorSystem and once with
// only NewStreamInstance (FEEDLINE_TEST_EXPORT picks which).
#include "FeedlineAbi.h"

#if FEEDLINE_TEST_EXPORT == 1
extern "C" __attribute__((visibility("default"))) int32_t ProvideErrorSystem(FeedlineErrorSystem*) {
    return 0;
}
#else
extern "C" __attribute__((visibility("default"))) int32_t NewStreamInstance(FeedlineInstance** instance,
                                                                            int32_t, int32_t) {
    *instance = nullptr;
    return 0;
}
#endif
