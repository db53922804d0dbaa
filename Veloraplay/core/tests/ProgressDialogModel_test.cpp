#include "ProgressDialogModel.h"
#include "ScriptedDialogService.h"

#include <gtest/gtest.h>
#include <vector>

namespace veloraplay {
namespace {

enum class Step { Frame, Close, Cancel, Other };

struct Action {
    Step step;
    long long frames = 0;
    std::string label;
    ProgressReaction expected;
};

struct Case {
    const char* name;
    bool ownerEnabled;
    std::vector<Action> actions;
    long long frame;
    std::string label;
    bool cancelled;
    int stopsPosted;
};

constexpr ProgressReaction kNothing{};
constexpr ProgressReaction kRefresh{true, false, false};
constexpr ProgressReaction kEnableAndGo{false, true, true};
constexpr ProgressReaction kGo{false, false, true};

TEST(ProgressDialogModel, FollowsTheWorkerAndTheUser) {
    const std::vector<Case> cases = {
        {"opens at frame 0", true, {}, 0, "", false, 0},
        {"frames and the stream kind",
         true,
         {{Step::Frame, 37, "- Velora -", kRefresh},
          {Step::Frame, 74, "- Velora -", kRefresh},
          {Step::Frame, 74, "- Velora -", kNothing},
          {Step::Frame, 74, "- plain mp3 -", kRefresh}},
         74,
         "- plain mp3 -",
         false,
         0},
        {"the worker ends it",
         true,
         {{Step::Frame, 37, "- plain mp3 -", kRefresh}, {Step::Close, 0, "", kEnableAndGo}},
         37,
         "- plain mp3 -",
         false,
         0},
        {"an owner disabled before stays disabled",
         false,
         {{Step::Close, 0, "", kGo}},
         0,
         "",
         false,
         0},
        {"the user closes it: Stop to the player",
         true,
         {{Step::Frame, 111, "- Velora -", kRefresh},
          {Step::Cancel, 0, "", kEnableAndGo},
          // What the worker still posts while it stops finds the dialog gone.
          {Step::Frame, 148, "- Velora -", kNothing},
          {Step::Close, 0, "", kNothing},
          {Step::Cancel, 0, "", kNothing}},
         111,
         "- Velora -",
         true,
         1},
        {"cancel with the owner disabled before", false, {{Step::Cancel, 0, "", kGo}}, 0, "", true, 1},
        {"other messages are not its own",
         true,
         {{Step::Other, 5, "x", kNothing}, {Step::Frame, 37, "", kRefresh}},
         37,
         "",
         false,
         0},
        {"nothing after the worker's close",
         true,
         {{Step::Close, 0, "", kEnableAndGo}, {Step::Cancel, 0, "", kNothing},
          {Step::Frame, 37, "- Velora -", kNothing}},
         0,
         "",
         false,
         0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        MessageQueue queue;
        ProgressDialogModel model("/in/a.mp3", "/out/a.wav", c.ownerEnabled);
        EXPECT_EQ(model.source(), "/in/a.mp3");
        EXPECT_EQ(model.destination(), "/out/a.wav");
        EXPECT_EQ(model.ownerEnabled(), c.ownerEnabled);
        for (size_t i = 0; i < c.actions.size(); ++i) {
            SCOPED_TRACE(i);
            const Action& a = c.actions[i];
            Message m;
            m.lparam = static_cast<intptr_t>(a.frames);
            m.payload = a.label;
            ProgressReaction got;
            switch (a.step) {
                case Step::Frame:
                    m.code = msg::kProgressFrame;
                    got = model.handle(m);
                    break;
                case Step::Close:
                    m.code = msg::kProgressClose;
                    got = model.handle(m);
                    break;
                case Step::Cancel:
                    got = model.cancel(queue);
                    break;
                case Step::Other:
                    m.code = msg::kPlayerNotify;
                    got = model.handle(m);
                    break;
            }
            EXPECT_EQ(got.refresh, a.expected.refresh);
            EXPECT_EQ(got.enableOwner, a.expected.enableOwner);
            EXPECT_EQ(got.destroy, a.expected.destroy);
        }
        EXPECT_EQ(model.frame(), c.frame);
        EXPECT_EQ(model.frameText(), "Decoding to file:  Frame #" + std::to_string(c.frame));
        EXPECT_EQ(model.streamLabel(), c.label);
        EXPECT_EQ(model.cancelled(), c.cancelled);
        int stops = 0;
        queue.drain([&](const Message& m) {
            EXPECT_EQ(m.target, Target::PlayerWindow);
            EXPECT_EQ(m.code, msg::kCommand);
            EXPECT_EQ(m.wparam, kProgressStopCommand);
            ++stops;
        });
        EXPECT_EQ(stops, c.stopsPosted);
    }
}

// A save dialog answered with a bare name gets the default extension, as on screen.
TEST(ScriptedDialogService, SaveAnswersTakeTheDefaultExtension) {
    const struct {
        const char* answer;
        bool save;
        const char* ext;
        std::optional<std::string> expected;
    } cases[] = {
        {"/tmp/out", true, "wav", "/tmp/out.wav"},
        {"/tmp/out.wav", true, "wav", "/tmp/out.wav"},
        {"/tmp/out.WAV", true, "wav", "/tmp/out.WAV"},
        {"/tmp/out.pcm", true, "wav", "/tmp/out.pcm"},
        {"/tmp/dir.d/out", true, "wav", "/tmp/dir.d/out.wav"},
        {"/tmp/out", true, "", "/tmp/out"},
        {"/tmp/out", false, "wav", "/tmp/out"},
        {"Cancel", true, "wav", std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.answer);
        ScriptedDialogService dialogs(nullptr);
        dialogs.addAnswer("Select Output File", c.answer);
        FileDialogRequest request;
        request.title = "Select Output File";
        request.filters = {{"Wave Files (*.wav)", "*.wav"}};
        request.defaultExtension = c.ext;
        request.save = c.save;
        EXPECT_EQ(dialogs.chooseFile(request), c.expected);
    }
    EXPECT_EQ(withDefaultExtension("", "wav"), "");
}

}  // namespace
}  // namespace veloraplay
