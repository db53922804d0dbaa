#include "OpenDialog.h"

#include "RecordingHost.h"

#include <gtest/gtest.h>

namespace tessura {
namespace {

TEST(OpenDialog, FiltersAndTheFourCommands) {
    const auto filters = openDialogFilters({"mp3", "ogg"}, [](const char* key) {
        return std::string("<") + key + ">";
    });
    EXPECT_EQ(filters, (std::vector<std::string>{
                           "<main/allaudioformats> (*.mp3 *.ogg *.pls *.m3u)",
                           "<main/playlists> (*.pls *.m3u)", "<main/skinfiles> (*.tgf)",
                           "<main/allfiles> (*)"}));

    struct Case {
        OpenCommand command;
        const char* title;
        int sizeAfter;             // the list held two entries before
        std::vector<int> played;   // positions played from
    };
    const Case cases[] = {
        {OpenCommand::Open, "main/open", 2, {}},
        {OpenCommand::OpenAndPlay, "main/openandplay", 2, {0}},
        {OpenCommand::Add, "main/add", 4, {}},
        {OpenCommand::AddAndPlay, "main/addandplay", 4, {2}},
    };
    for (const Case& c : cases) {
        test::RecordingHost host;
        Playlist list(host);
        list.AddItem("/m/old1.mp3");
        list.AddItem("/m/old2.mp3");
        EXPECT_STREQ(openDialogTitleKey(c.command), c.title);
        EXPECT_EQ(addChosenFiles(list, host, c.command, {}), 0);
        EXPECT_EQ(list.size(), 2) << c.title;  // cancelled: nothing changes
        EXPECT_EQ(addChosenFiles(list, host, c.command, {"/m/new1.mp3", "/m/x.txt", "/m/new2.ogg"}), 2);
        EXPECT_EQ(list.size(), c.sizeAfter) << c.title;
        EXPECT_EQ(list.entry(c.sizeAfter - 2).file, "/m/new1.mp3") << c.title;
        EXPECT_EQ(host.playedFrom, c.played) << c.title;
    }
}

}  // namespace
}  // namespace tessura
