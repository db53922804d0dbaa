#include "EqualiserPanel.h"

#include "RecordingPlayer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

namespace tessura::ui {
namespace {

using test::RecordingPlayer;

EqGains flat() {
    EqGains g{};
    g.fill(1.0);
    return g;
}

EqGains withBand(int band, double value, EqGains g = flat()) {
    g[std::size_t(band)] = value;
    return g;
}

TEST(EqualiserCurve, PassesThroughEveryBandAndBendsBetweenThemByItsTension) {
    // Band values are met at every tension; between bands the tangents decide.
    const EqGains peak = withBand(10, 2.0);
    const EqGains ramp = [] {
        EqGains g{};
        for (int i = 0; i < kEqBands; ++i) g[std::size_t(i)] = 0.1 * i;
        return g;
    }();
    const struct {
        EqGains gains;
        double tension, position, value;
    } cases[] = {
        {peak, 0.0, 10.0, 2.0},      {peak, 1.0, 10.0, 2.0},   {peak, 0.5, 9.0, 1.0},
        {peak, 0.0, 9.5, 1.5625},    // Catmull-Rom: the rising side bulges towards the peak
        {peak, 0.5, 9.5, 1.53125},   {peak, 1.0, 9.5, 1.5},    // level shoulders: the plain midpoint
        {peak, 0.0, 8.5, 0.9375},    // the loose curve undershoots before the rise
        {peak, 1.0, 8.5, 1.0},       {ramp, 0.0, 4.5, 0.45},   // a straight line stays straight
        {ramp, 0.0, 0.5, 0.04375},    // ...except at the end, where the band repeats
        {flat(), 0.3, 12.7, 1.0},    {withBand(0, 0.0), 0.0, 0.0, 0.0},
        {withBand(19, 2.0), 0.0, 19.0, 2.0}, {withBand(19, 2.0), 0.0, 25.0, 2.0},  // clamped position
        {withBand(5, 2.0, withBand(6, 2.0)), 0.0, 5.5, 2.0},  // overshoot above the range is clamped
    };
    for (const auto& c : cases)
        EXPECT_NEAR(CurveValue(c.gains, c.tension, c.position), c.value, 1e-9)
            << "tension " << c.tension << " at " << c.position;
}

TEST(EqualiserCurve, HasOnePointPerPixelAtThirteenPixelsABand) {
    const EqGeometry g{40, 13, 100, 40};
    const EqGains gains = withBand(3, 1.5, withBand(17, 0.25));
    const std::vector<EqPoint> points = CurvePoints(gains, 0.5, g);
    ASSERT_EQ(points.size(), std::size_t(19 * 13 + 1));
    for (int band = 0; band < kEqBands; ++band) {
        const EqPoint& p = points[std::size_t(band * 13)];
        EXPECT_DOUBLE_EQ(p.x, 40 + 13.0 * band);
        EXPECT_NEAR(p.y, g.valueY(gains[std::size_t(band)]), 1e-9) << band;
    }
    EXPECT_DOUBLE_EQ(g.valueY(2.0), 100);
    EXPECT_DOUBLE_EQ(g.valueY(1.0), 120);
    EXPECT_DOUBLE_EQ(g.valueY(0.0), 140);
    EXPECT_DOUBLE_EQ(g.valueY(5.0), 100);  // clamped
}

TEST(EqualiserCurve, APointInThePanelIsABandAndAValue) {
    const EqGeometry g{26, 14, 240, 30};  // the drawer's sliders
    const struct {
        double x, y;
        std::optional<int> band;
        double value;
    } cases[] = {
        {26, 255, 0, 1.0},  {32.9, 240, 0, 2.0}, {33.1, 240, 1, 2.0}, {292, 270, 19, 0.0},
        {299, 255, 19, 1.0}, {299.1, 255, {}, 0}, {18.9, 255, {}, 0},  {100, 233, 5, 2.0},  // slack above: the top
        {100, 232.9, {}, 0}, {100, 277, 5, 0.0},  {100, 277.1, {}, 0}, {166, 247.5, 10, 1.5},
    };
    for (const auto& c : cases) {
        const std::optional<EqHit> hit = HitBand(g, c.x, c.y);
        ASSERT_EQ(hit.has_value(), c.band.has_value()) << c.x << "," << c.y;
        if (!hit) continue;
        EXPECT_EQ(hit->band, *c.band) << c.x << "," << c.y;
        EXPECT_NEAR(hit->value, c.value, 1e-9) << c.x << "," << c.y;
    }
}

TEST(EqualiserCurve, ADragSpreadsItsChangeByTheTension) {
    const struct {
        EqGains start;
        int band;
        double value, tension;
        std::vector<std::pair<int, double>> expect;  // bands checked
        bool restUnchanged;
    } cases[] = {
        {flat(), 10, 2.0, 1.0, {{10, 2.0}}, true},
        {flat(), 10, 2.0, 0.5,
         {{10, 2.0}, {9, 1.25}, {11, 1.25}, {8, 1.0625}, {12, 1.0625}, {7, 1.015625}, {13, 1.015625},
          {6, 1.00390625}, {14, 1.00390625}},
         true},  // five bands away the share is below a thousandth: left out
        {flat(), 10, 0.0, 0.0, {{10, 0.0}, {9, 0.5}, {11, 0.5}, {8, 0.75}, {13, 0.875}}, false},
        {flat(), 0, 1.8, 0.5, {{0, 1.8}, {1, 1.2}, {2, 1.05}, {3, 1.0125}}, false},  // at the end: one side
        {withBand(11, 1.9), 10, 2.0, 0.0, {{10, 2.0}, {11, 2.0}, {9, 1.5}}, false},  // clamped at the top
        {flat(), 10, 7.0, 1.0, {{10, 2.0}}, true},                                  // the value itself too
        {flat(), 20, 2.0, 0.0, {}, true},                                           // no such band
    };
    for (const auto& c : cases) {
        const EqGains out = DragBand(c.start, c.band, c.value, c.tension);
        for (const auto& [band, value] : c.expect)
            EXPECT_NEAR(out[std::size_t(band)], value, 1e-9) << "band " << band << " dragging " << c.band;
        if (!c.restUnchanged) continue;
        for (int b = 0; b < kEqBands; ++b) {
            const bool checked = std::any_of(c.expect.begin(), c.expect.end(), [&](auto& e) { return e.first == b; });
            if (!checked) {
                EXPECT_EQ(out[std::size_t(b)], c.start[std::size_t(b)]) << "band " << b << " dragging " << c.band;
            }
        }
    }
    EXPECT_DOUBLE_EQ(SpreadWeight(0.2, -2), 0.16);
    EXPECT_DOUBLE_EQ(SpreadWeight(0.2, 0), 1.0);
}

TEST(EqualiserPresets, TheChoiceCyclesThroughBuiltInCustomAndUserPresets) {
    const struct {
        int current, step, next;
    } cases[] = {{0, 1, 1}, {5, 1, 6}, {6, 1, 100}, {109, 1, 0}, {0, -1, 109}, {100, -1, 6},
                 {42, 1, 1}, {3, 17, 3}, {3, -18, 2}};
    for (const auto& c : cases) EXPECT_EQ(StepPreset(c.current, c.step), c.next) << c.current << " by " << c.step;

    const auto names = [](std::map<int, std::string> taken) {
        return [taken](int id) {
            const auto t = taken.find(id);
            return t != taken.end() ? t->second : "UserPreset" + std::to_string(id - 100);
        };
    };
    EXPECT_EQ(PresetSlotForSave(2, names({})), 100);
    EXPECT_EQ(PresetSlotForSave(104, names({})), 104);  // the user preset shown is overwritten
    EXPECT_EQ(PresetSlotForSave(6, names({{100, "Loud"}, {101, "Soft"}})), 102);
    std::map<int, std::string> full;
    for (int id = 100; id <= 109; ++id) full[id] = "Mine";
    EXPECT_EQ(PresetSlotForSave(6, names(full)), 100);
}

TEST(EqualiserKnobs, DragsWheelsAndKeysStepTheValueWithinItsRange) {
    const struct {
        uint32_t start;
        int upward, steps;
        uint32_t dragged, stepped;
    } cases[] = {
        {32768, 10, 1, 37888, 34816},   {32768, -64, -16, 0, 0},   {60000, 20, 3, 65535, 65535},
        {0, -1, -1, 0, 0},              {65535, 0, 0, 65535, 65535}, {100, 1, 1, 612, 2148},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(KnobAfterDrag(c.start, c.upward), c.dragged) << c.start << " by " << c.upward;
        EXPECT_EQ(KnobAfterSteps(c.start, c.steps), c.stepped) << c.start << " by " << c.steps;
    }
    const struct {
        uint32_t value;
        int images, frame;
    } frames[] = {{0, 37, 0}, {65535, 37, 36}, {32768, 37, 18}, {70000, 37, 36}, {40000, 1, 0}, {40000, 0, 0}};
    for (const auto& f : frames) EXPECT_EQ(KnobFrame(f.value, f.images), f.frame) << f.value;
    EXPECT_STREQ(KnobStatusKey(Knob::Amplifier), "nav/amplify");
    EXPECT_STREQ(KnobStatusKey(Knob::Balance), "nav/balance");
    EXPECT_STREQ(KnobStatusKey(Knob::Pitch), "nav/pitch");
}

TEST(EqualiserPanel, DraggingABandSetsTheModelAndMakesTheCurveCustom) {
    RecordingPlayer player;
    player.preset = 2;
    EqualiserPanel panel(player);
    const EqGeometry g{26, 14, 240, 30};
    EXPECT_FALSE(panel.pressBand(g, 10, 255));
    EXPECT_EQ(player.preset, 2);
    ASSERT_TRUE(panel.pressBand(g, g.bandX(4), g.valueY(1.4)));
    EXPECT_TRUE(panel.dragging());
    EXPECT_NEAR(player.gains[4], 1.4, 1e-9);
    EXPECT_NEAR(player.gains[3], 1.1, 1e-9);  // tension 0.5: a quarter of the change
    EXPECT_EQ(player.preset, 6);
    EXPECT_EQ(panel.focus(), 4);
    // The drag follows the pointer from where it started, not from the last step.
    panel.move(999, g.valueY(0.6));
    EXPECT_NEAR(player.gains[4], 0.6, 1e-9);
    EXPECT_NEAR(player.gains[3], 0.9, 1e-9);
    EXPECT_NEAR(player.gains[5], 0.9, 1e-9);
    panel.release();
    panel.move(0, g.valueY(2.0));
    EXPECT_NEAR(player.gains[4], 0.6, 1e-9);
}

TEST(EqualiserPanel, KeysWalkTheBandsAndKnobsAndChangeWhatTheyAreOn) {
    RecordingPlayer player;
    EqualiserPanel panel(player);
    const struct {
        PanelKey key;
        int focus;
        std::string call;  // the player's last call after the key ("" none)
    } steps[] = {
        {PanelKey::Left, 0, ""},          {PanelKey::Up, 0, ""},           {PanelKey::Right, 1, ""},
        {PanelKey::Down, 1, ""},          {PanelKey::PageDown, 1, "preset 100"},  // the edit made it Custom
        {PanelKey::PageUp, 1, "preset 6"}, {PanelKey::PageUp, 1, "preset 5"},
    };
    for (const auto& s : steps) {
        player.calls.clear();
        EXPECT_TRUE(panel.key(s.key));
        EXPECT_EQ(panel.focus(), s.focus);
        EXPECT_EQ(player.calls.empty() ? "" : player.calls.back(), s.call);
    }
    EXPECT_NEAR(player.gains[0], 1.05, 1e-9);
    EXPECT_NEAR(player.gains[1], 0.95, 1e-9);
    EXPECT_NEAR(player.gains[2], 1.0, 1e-9);  // a key moves one band only
    for (int i = 0; i < 30; ++i) panel.key(PanelKey::Right);
    EXPECT_EQ(panel.focus(), EqualiserPanel::kItems - 1);  // the pitch knob, the last item
    player.calls.clear();
    panel.key(PanelKey::Up);
    EXPECT_EQ(player.calls, std::vector<std::string>{"pitch 34816"});
    panel.key(PanelKey::Left);
    panel.key(PanelKey::Down);
    EXPECT_EQ(player.calls.back(), "balance 30720");
    EXPECT_EQ(panel.knob(Knob::Balance), 30720u);
    panel.key(PanelKey::Home);
    EXPECT_DOUBLE_EQ(panel.tension(), 0.4);
    for (int i = 0; i < 8; ++i) panel.key(PanelKey::End);
    EXPECT_DOUBLE_EQ(panel.tension(), 1.0);
    panel.key(PanelKey::Toggle);
    EXPECT_TRUE(player.eq);
    EXPECT_EQ(player.status.back(), "<main/eqenabled>");
}

TEST(EqualiserPanel, KnobDragsReachThePlayerAndSayWhatTheyAre) {
    RecordingPlayer player;
    EqualiserPanel panel(player);
    panel.pressKnob(Knob::Amplifier, 300);
    EXPECT_EQ(player.status.back(), "<nav/amplify>");
    panel.move(0, 290);
    EXPECT_EQ(player.calls.back(), "amp 37888");
    EXPECT_EQ(panel.knob(Knob::Amplifier), 37888u);
    panel.release();
    panel.pressKnob(Knob::Pitch, 300);
    EXPECT_EQ(player.status.back(), "<nav/pitch>");
    panel.move(0, 400);
    EXPECT_EQ(player.calls.back(), "pitch 0");
    panel.release();
    panel.wheelKnob(Knob::Balance, -2);
    EXPECT_EQ(player.calls.back(), "balance 28672");
    EXPECT_EQ(panel.focus(), kEqBands + 1);
}

TEST(EqualiserPanel, SavingAsksANameAndStoresTheGainsAsAUserPreset) {
    RecordingPlayer player;
    EqualiserPanel panel(player);
    player.preset = 6;
    player.calls.clear();
    panel.key(PanelKey::Save, [] { return std::optional<std::string>(); });  // cancelled
    EXPECT_TRUE(player.calls.empty());
    panel.key(PanelKey::Save, [] { return std::optional<std::string>("Night drive"); });
    EXPECT_EQ(player.calls, std::vector<std::string>{"save 100 Night drive"});
    EXPECT_EQ(player.preset, 100);
    player.preset = 3;
    panel.savePreset([] { return std::optional<std::string>("Voices"); });
    EXPECT_EQ(player.calls.back(), "save 101 Voices");
    panel.savePreset({});  // nobody to ask: nothing saved
    EXPECT_EQ(player.calls.size(), 2u);
}

}  // namespace
}  // namespace tessura::ui
