// The Body tab's layout and clicks through the recording painter: what shows with and without a torso,
// captions, the capture countdown and the captured room's row.
#include <gtest/gtest.h>

#include "fake_painter.h"
#include "recording_host.h"
#include "ui/controls.h"
#include "ui/window_paint.h"

namespace qm {
namespace {

struct BodyTab : test::PanelFixture {
    BodyTab() {
        state.tab = 2;
        lists.torsos = {"astronaut", "hoodie", "suit"};
    }
    test::FakePainter painter;
    EngineView engine;
    void paint() {
        painter = {};
        paintWindow(painter, panel, 1200, 2000, engine);
    }
    const HitRegion* region(int kind, int index = 0) const { return test::findRegion(panel.ui, kind, index); }
    void click(int kind, int index = 0) {
        const HitRegion* r = region(kind, index);
        ASSERT_NE(r, nullptr) << kind << " " << index;
        onControlClick(panel, *r);
    }
};

TEST(BodyTabTest, WithoutATorsoOrBodylessTheTabEndsAfterTheNote) {
    BodyTab t;
    t.paint();
    EXPECT_NE(t.painter.findText("None"), nullptr);
    EXPECT_NE(t.painter.findText("Hoodie"), nullptr);  // captions start upper case
    EXPECT_NE(t.painter.findText("Astronaut"), nullptr);
    ASSERT_NE(t.region(kHitTorsoTile, 3), nullptr);
    EXPECT_EQ(t.region(kHitTorsoTile, 4), nullptr);
    // Four tiles: two rows, the second starting 76 below the first.
    EXPECT_FLOAT_EQ(t.region(kHitTorsoTile, 3)->top - t.region(kHitTorsoTile, 0)->top, 76);
    EXPECT_EQ(t.painter.findText("Head cut-out"), nullptr);
    EXPECT_EQ(t.region(kHitCaptureRoom), nullptr);
    EXPECT_EQ(t.painter.findText("Size"), nullptr);
    EXPECT_NE(t.painter.findText("Removes your body"), nullptr);
}

TEST(BodyTabTest, PickATorsoSwitchBodylessAndCaptureTheRoom) {
    BodyTab t;
    t.paint();
    t.click(kHitTorsoTile, 2);
    EXPECT_EQ(t.state.torso, "hoodie");
    EXPECT_TRUE(t.saved());
    t.paint();
    EXPECT_NE(t.painter.findText("Size"), nullptr);
    EXPECT_NE(t.painter.findText("Left / right"), nullptr);
    EXPECT_NE(t.painter.findText("Head cut-out"), nullptr);
    EXPECT_NE(t.painter.findText("Capture empty room"), nullptr);
    EXPECT_NE(t.painter.findText("Forget learned room"), nullptr);
    EXPECT_NE(t.painter.findText("With no background"), nullptr);
    t.click(kHitTorsoTile, 0);
    EXPECT_EQ(t.state.torso, "");
    t.paint();
    t.click(kHitBodylessSwitch);
    EXPECT_TRUE(t.state.bodyless);
    t.paint();
    EXPECT_NE(t.painter.findText("Head cut-out"), nullptr);
    EXPECT_EQ(t.painter.findText("Size"), nullptr);

    // The countdown: 3, 2, 1 in place of the chips, then the request.
    t.click(kHitCaptureRoom);
    for (int shown : {3, 2, 1}) {
        t.paint();
        EXPECT_NE(t.painter.findText("Step out of the picture\u2026 " + std::to_string(shown)), nullptr);
        EXPECT_EQ(t.region(kHitCaptureRoom), nullptr);
        EXPECT_FALSE(t.shared.captureRoomRequest.load());
        onTimerTick(t.panel);
    }
    EXPECT_TRUE(t.shared.captureRoomRequest.exchange(false));
    // Captured: "Recapture" and "Clear" side by side, the note changes.
    t.shared.roomCaptured = true;
    t.paint();
    ASSERT_NE(t.painter.findText("Recapture empty room"), nullptr);
    EXPECT_FLOAT_EQ(t.region(kHitClearRoom)->top, t.region(kHitCaptureRoom)->top);
    EXPECT_FLOAT_EQ(t.region(kHitClearRoom)->left, t.region(kHitCaptureRoom)->right + 8);
    EXPECT_EQ(t.region(kHitForgetRoom), nullptr);
    EXPECT_NE(t.painter.findText("Your empty room fills in"), nullptr);
    t.click(kHitClearRoom);
    EXPECT_TRUE(t.shared.forgetRoomRequest.load());
    t.shared.roomCaptured = false;
    t.paint();
    t.click(kHitForgetRoom);
    EXPECT_TRUE(t.shared.forgetRoom.load());
}

}  // namespace
}  // namespace qm
