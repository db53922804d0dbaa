// The host-variable interface's answers, through the C++ object and through the table a
// plug-in calls.
#include "HostVariables.h"

#include <gtest/gtest.h>

#include <cstring>

namespace tessura {
namespace {

class FakeSource : public HostVariableSource {
  public:
    int32_t songLengthMs() override { return 215000; }
    int32_t songPositionMs() override { return 12345; }
    uint32_t visualLeftColour() override { return 0xff102030u; }
    uint32_t visualRightColour() override { return 0x80405060u; }
    uint32_t visualBlendColour() override { return 0x12FFFFFFu; }
    std::string skinName() override { return "Ember"; }
    std::string songFileName() override { return "/music/a b.mp3"; }
    std::string songDisplayText() override { return "Artist - Title"; }
};

TEST(HostVariables, QueryIntKnowsTheSongAndTheSkinColours) {
    FakeSource source;
    HostVariablesService service(source);
    struct Case {
        const char* name;
        bool known;
        int32_t value;
    };
    const Case cases[] = {
        {"currentsonglength", true, 215000},    {"currentsongposition", true, 12345},
        {"scheme_visual_left", true, 0x102030}, {"scheme_visual_right", true, 0x405060},
        {"scheme_visual_blend", true, 0xFFFFFF}, {"CurrentSongPosition", true, 12345},
        {"currentskinname", false, 0},          {"", false, 0},
    };
    HostVariables* iface = service.iface();
    for (const Case& c : cases) {
        const std::optional<int32_t> value = service.QueryInt(c.name);
        EXPECT_EQ(value.has_value(), c.known) << c.name;
        EXPECT_EQ(value.value_or(0), c.known ? c.value : 0) << c.name;
        int32_t out = -7;
        EXPECT_EQ(iface->table->QueryInt(iface, c.name, &out), c.known ? 1 : 0) << c.name;
        EXPECT_EQ(out, c.known ? c.value : -7) << c.name;
    }
    EXPECT_EQ(iface->table->QueryInt(iface, nullptr, nullptr), 0);
}

TEST(HostVariables, QueryStringGivesTextsAndNumbersAsNewTexts) {
    FakeSource source;
    HostVariablesService service(source);
    struct Case {
        const char* name;
        const char* text;  // null: no answer
    };
    const Case cases[] = {
        {"currentskinname", "Ember"},
        {"currentsongfilename", "/music/a b.mp3"},
        {"currentsongtitle", "Artist - Title"},
        {"currentsongauthor", "Artist - Title"},
        {"currentsongdisplaystring", "Artist - Title"},
        {"currentsongposition", "12345"},
        {"currentsonglength", "215000"},
        {"scheme_visual_left", "1056816"},
        {"nosuchvariable", nullptr},
    };
    HostVariables* iface = service.iface();
    for (const Case& c : cases) {
        char* text = iface->table->QueryString(iface, c.name);
        if (c.text == nullptr) {
            EXPECT_EQ(text, nullptr) << c.name;
        } else {
            ASSERT_NE(text, nullptr) << c.name;
            EXPECT_STREQ(text, c.text) << c.name;
        }
        iface->table->FreeString(iface, text);
    }
    EXPECT_EQ(iface->table->QueryString(iface, nullptr), nullptr);
}

}  // namespace
}  // namespace tessura
