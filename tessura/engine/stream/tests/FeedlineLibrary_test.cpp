// Loading the streaming library: its failures by result, the instance count and the unload.
#include "ErrorService.h"
#include "FeedlineLibrary.h"

#include <gtest/gtest.h>

#include <vector>

namespace tessura {
namespace {

TEST(FeedlineLibrary, ReportsEachLoadFailure) {
    struct Row {
        const char* path;
        int result;
    };
    const std::vector<Row> rows = {
        {"/nonexistent/system/Feedline.so", FeedlineLibrary::kLoadFailed},
        {TESSURA_FEEDLINE_NO_ERROR_SYSTEM, FeedlineLibrary::kNoErrorSystemExport},
        {TESSURA_FEEDLINE_NO_INSTANCES, FeedlineLibrary::kNoInstanceExport},
    };
    for (const Row& row : rows) {
        FeedlineLibrary library(row.path, ErrorService::create());
        FeedlineInstance* instance = reinterpret_cast<FeedlineInstance*>(&library);
        EXPECT_EQ(library.NewInstance(instance), row.result) << row.path;
        EXPECT_EQ(instance, nullptr);
        EXPECT_EQ(library.instanceCount(), 0);
        EXPECT_FALSE(library.loaded()) << row.path;
    }
}

TEST(FeedlineLibrary, CountsInstancesAndUnloadsAfterTheLast) {
    auto errors = ErrorService::create();
    FeedlineLibrary library(TESSURA_FEEDLINE, errors);
    FeedlineInstance* first = nullptr;
    FeedlineInstance* second = nullptr;
    ASSERT_EQ(library.NewInstance(first), 0);
    ASSERT_EQ(library.NewInstance(second), 0);
    EXPECT_EQ(library.instanceCount(), 2);
    EXPECT_EQ(first->table->version(first), FEEDLINE_VERSION);
    // The library registered its texts with the player's error service.
    EXPECT_TRUE(errors->hasModule("Feedline"));
    EXPECT_TRUE(errors->text(FEEDLINE_TIMED_OUT).has_value());
    library.Release(first);
    EXPECT_TRUE(library.loaded());
    library.Release(second);
    EXPECT_EQ(library.instanceCount(), 0);
    EXPECT_FALSE(library.loaded());
    EXPECT_EQ(FeedlineLibrary::DefaultPath("/opt/tessura"), "/opt/tessura/system/Feedline.so");
}

}  // namespace
}  // namespace tessura
