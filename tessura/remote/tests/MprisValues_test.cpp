#include "MprisValues.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>

namespace tessura::remote {
namespace {

TEST(MprisValues, VolumeFromFraction) {
    struct Row {
        double fraction;
        std::optional<uint32_t> level;
    };
    const Row rows[] = {
        {0.0, 0u},        {1.0, 65535u},      {0.5, 32768u},  // 32767.5 rounds up
        {0.25, 16384u},   {-0.1, 0u},         {1.5, 65535u},
        {1e300, 65535u},  {-1e300, 0u},       {std::nan(""), std::nullopt},
        {1.0 / 65535, 1u}, {std::numeric_limits<double>::infinity(), 65535u},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.fraction);
        EXPECT_EQ(VolumeFromFraction(row.fraction), row.level);
    }
}

TEST(MprisValues, FractionFromVolumeGivesEveryLevelBack) {
    for (uint32_t level = 0; level <= kMaxVolume; ++level) {
        const double fraction = FractionFromVolume(level);
        ASSERT_GE(fraction, 0.0);
        ASSERT_LE(fraction, 1.0);
        ASSERT_EQ(VolumeFromFraction(fraction), level);
    }
    EXPECT_EQ(FractionFromVolume(100000), 1.0);
}

TEST(MprisValues, MillisAndMicros) {
    EXPECT_EQ(MicrosFromMillis(1500), 1500000);
    EXPECT_EQ(MicrosFromMillis(std::numeric_limits<int32_t>::max()), int64_t{2147483647} * 1000);
    struct Row {
        int64_t us;
        int32_t ms;
    };
    const Row rows[] = {{0, 0},
                        {999, 0},
                        {1000, 1},
                        {-1999, -1},
                        {int64_t{1} << 62, std::numeric_limits<int32_t>::max()},
                        {std::numeric_limits<int64_t>::min(), std::numeric_limits<int32_t>::min()}};
    for (const Row& row : rows) EXPECT_EQ(MillisFromMicros(row.us), row.ms) << row.us;
}

TEST(MprisValues, PlaybackStatus) {
    EXPECT_STREQ(PlaybackStatusName(PlaybackStatusFromEngineState(1)), "Playing");
    EXPECT_STREQ(PlaybackStatusName(PlaybackStatusFromEngineState(2)), "Stopped");
    EXPECT_STREQ(PlaybackStatusName(PlaybackStatusFromEngineState(3)), "Paused");
    EXPECT_STREQ(PlaybackStatusName(PlaybackStatusFromEngineState(0)), "Stopped");
    EXPECT_STREQ(PlaybackStatusName(PlaybackStatusFromEngineState(-7)), "Stopped");
}

TEST(MprisValues, LoopStatus) {
    const char* names[] = {"None", "Track", "Playlist"};
    for (int mode = 0; mode < 3; ++mode) {
        EXPECT_STREQ(LoopStatusName(mode), names[mode]);
        EXPECT_EQ(RepeatModeFromLoopStatus(names[mode]), mode);
    }
    EXPECT_STREQ(LoopStatusName(3), "None");
    EXPECT_STREQ(LoopStatusName(-1), "None");
    for (const char* word : {"", "none", "Playlist ", "All"}) EXPECT_FALSE(RepeatModeFromLoopStatus(word)) << word;
}

TEST(MprisValues, UrlFromEntry) {
    struct Row {
        const char* entry;
        const char* url;
    };
    const Row rows[] = {
        {"/music/a.mp3", "file:///music/a.mp3"},
        {"/music/a b#1%.mp3", "file:///music/a%20b%231%25.mp3"},
        {"/m/\xC3\xBC.ogg", "file:///m/%C3%BC.ogg"},
        {"http://radio.example:8000/live", "http://radio.example:8000/live"},
        {"relative/x y.wav", "relative/x%20y.wav"},
        {"://odd", "%3A//odd"},
        {"", ""},
    };
    for (const Row& row : rows) EXPECT_EQ(UrlFromEntry(row.entry), row.url) << row.entry;
}

TEST(MprisValues, EntryFromUri) {
    struct Row {
        std::string uri;
        std::optional<std::string> entry;
    };
    const Row rows[] = {
        {"file:///music/a.mp3", "/music/a.mp3"},
        {"file:///music/a%20b%23.mp3", "/music/a b#.mp3"},
        {"FILE:///x%c3%bc", "/x\xC3\xBC"},
        {"file://localhost/x.wav", "/x.wav"},
        {"file://other/x.wav", std::nullopt},
        {"file://", std::nullopt},
        {"file:///a%00b", std::nullopt},
        {"file:///a%4", std::nullopt},
        {"file:///a%", std::nullopt},
        {"file:///a%zz", std::nullopt},
        {std::string("file:///a\0b", 11), std::nullopt},
        {"http://radio.example/live", "http://radio.example/live"},
        {"ftp://host/x", std::nullopt},
        {"/music/a.mp3", std::nullopt},
        {"", std::nullopt},
    };
    for (const Row& row : rows) EXPECT_EQ(EntryFromUri(row.uri), row.entry) << row.uri;
    // A path written as a URL reads back as the same path.
    const std::string path = "/m/a b/%x#\xC3\xA9.flac";
    EXPECT_EQ(EntryFromUri(UrlFromEntry(path)), path);
}

TEST(MprisValues, DisplayNameFromEntry) {
    EXPECT_EQ(DisplayNameFromEntry("/music/a.mp3"), "a.mp3");
    EXPECT_EQ(DisplayNameFromEntry("a.mp3"), "a.mp3");
    EXPECT_EQ(DisplayNameFromEntry("http://host/live/"), "live");
    EXPECT_EQ(DisplayNameFromEntry("/"), "/");
    EXPECT_EQ(DisplayNameFromEntry(""), "");
}

TEST(MprisValues, TrackObjectPathsAreDistinctObjectPaths) {
    const std::string a = TrackObjectPath(1), b = TrackObjectPath(12);
    EXPECT_NE(a, b);
    for (const std::string& path : {a, b}) {
        ASSERT_EQ(path.front(), '/');
        for (const char c : path) {
            const bool allowed = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                                 c == '_' || c == '/';
            EXPECT_TRUE(allowed) << path;
        }
    }
}

}  // namespace
}  // namespace tessura::remote
