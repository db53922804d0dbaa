#include "PositionPreview.h"

#include <gtest/gtest.h>

namespace tessura::ui {
namespace {

TEST(PositionPreview, TheThreeFormatsByWhereHoursAppear) {
    struct Case {
        int64_t lengthMs;
        int offset, control;
        const char* text;
    };
    const Case cases[] = {
        {245000, 50, 100, "2:02 - (4:05)"},             // no hours
        {245000, 0, 100, "0:00 - (4:05)"},
        {245000, 100, 100, "4:05 - (4:05)"},
        {2 * 3600000 + 61000, 10, 100, "12:06 - (2:01:01)"},    // the length has hours
        {2 * 3600000 + 61000, 90, 100, "1:48:54 - (2:01:01)"},  // both have hours
        {245000, 150, 100, "4:05 - (4:05)"},             // beyond the control: its end
        {245000, -20, 100, "0:00 - (4:05)"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(PositionPreviewText(c.lengthMs, c.offset, c.control), c.text) << c.lengthMs << " " << c.offset;
}

TEST(PositionPreview, AControlOfLengthZeroTargetsTheStartInsteadOfDividingByZero) {
    EXPECT_EQ(PreviewTargetMs(245000, 30, 0), 0);
    EXPECT_EQ(PreviewTargetMs(245000, 30, -5), 0);
    EXPECT_EQ(PositionPreviewText(245000, 30, 0), "0:00 - (4:05)");
    EXPECT_EQ(PositionPreviewText(-1, 30, 100), "0:00 - (0:00)");  // unknown length
}

TEST(PositionPreview, TargetIsLengthTimesTheShareOfTheControl) {
    EXPECT_EQ(PreviewTargetMs(200000, 25, 100), 50000);
    EXPECT_EQ(PreviewTargetMs(3, 1, 3), 1);
    EXPECT_EQ(PreviewTargetMs(INT32_MAX, 7, 7), INT32_MAX);  // no overflow at full length
}

}  // namespace
}  // namespace tessura::ui
