// The paint's layout through a recording painter: preview geometry, what the preview and the status
// show, the header, the controls' regions and the icon table.
#include <gtest/gtest.h>

#include "fake_painter.h"
#include "platform/frame_section.h"
#include "recording_host.h"
#include "ui/controls.h"
#include "ui/icons.h"
#include "ui/window_paint.h"

namespace qm {
namespace {

using test::FakePainter;
using test::PanelFixture;

TEST(PreviewRect, FillsTheLeftAreaAtSixteenByNine) {
    Rect r = previewRect(1200, 740);  // width-bound: the left area is 879 - 32 = 847 wide
    EXPECT_FLOAT_EQ(r.width(), 847);
    EXPECT_FLOAT_EQ(r.height(), 847 * 9.0f / 16);
    EXPECT_FLOAT_EQ(r.left, 16);
    EXPECT_FLOAT_EQ(r.top, 64);

    Rect tall = previewRect(1600, 500);  // height-bound: (500 - 168) x 16 / 9, centred
    float n = (500 - 168) * 16.0f / 9;
    EXPECT_FLOAT_EQ(tall.width(), n);
    EXPECT_FLOAT_EQ(tall.left, (1600 - 321 - 32 - n) / 2 + 16);
}

TEST(PreviewRect, NeverBelowTwoHundredDips) {
    for (auto [w, h] : {std::pair{500.0f, 740.0f}, {1200.0f, 250.0f}, {300.0f, 100.0f}}) {
        Rect r = previewRect(w, h);
        EXPECT_FLOAT_EQ(r.width(), 200) << w << "x" << h;
        EXPECT_FLOAT_EQ(r.height(), 112.5f);
    }
}

TEST(PreviewMessage, FollowsTheStatus) {
    EXPECT_EQ(previewMessage(kStatusNone, ""), "Starting the camera");
    EXPECT_EQ(previewMessage(kStatusTurnedOff, "Cam"), "Camera off");
    EXPECT_EQ(previewMessage(kStatusNoCamera, ""),
              "No camera found.\nPlug one in, then pick it under the picture.");
    std::string busy = previewMessage(kStatusNoFrames, "");
    EXPECT_EQ(busy.rfind("The camera is not sending video.\nAnother app may be using it.", 0), 0u);
    EXPECT_EQ(previewMessage(kStatusNoFrames, "USB Cam").rfind("USB Cam is not sending video.", 0), 0u);

    EXPECT_EQ(cameraChipLabel(kStatusTurnedOff, "USB Cam"), "Camera off  \u25BE");
    EXPECT_EQ(cameraChipLabel(kStatusNoCamera, ""), "No camera  \u25BE");
    EXPECT_EQ(cameraChipLabel(kStatusRunning, ""), "Camera  \u25BE");
    EXPECT_EQ(cameraChipLabel(kStatusRunning, "sample.mp4"), "sample.mp4  \u25BE");
}

struct Painted : PanelFixture {
    FakePainter painter;
    EngineView engine;
    void paint(float w = 1200, float h = 740) { paintWindow(painter, panel, w, h, engine); }
};

TEST(Paint, ShowsAFrameOnlyWhileRunningAndMirrorsIt) {
    Painted p;
    p.panel.ui.hasPreviewFrame = true;
    p.engine.status = kStatusNoFrames;
    p.paint();
    EXPECT_TRUE(p.painter.previews.empty());
    EXPECT_NE(p.painter.findText("The camera is not sending video."), nullptr);

    p.engine.status = kStatusRunning;
    p.engine.frameMs = 12.345f;
    p.paint();
    ASSERT_EQ(p.painter.previews.size(), 1u);
    EXPECT_TRUE(p.painter.previews[0].second);
    EXPECT_EQ(p.painter.previews[0].first, previewRect(1200, 740));
    EXPECT_NE(p.painter.findText("12.3 ms / frame"), nullptr);
    EXPECT_NE(p.painter.findText("LIVE"), nullptr);
    // Running without a companion that takes the frames (--no-camera, or one being started again).
    EXPECT_NE(p.painter.findText("Nothing is being sent to the call."), nullptr);
    // Linked, but no app reads the camera: the engine rests and nothing reaches a call.
    p.engine.linkUp = true;
    p.engine.outputs = kOutputPipeWire;
    p.paint();
    EXPECT_NE(p.painter.findText("Nothing is being sent to the call."), nullptr);
    p.engine.outputs = kOutputPipeWire | kWatchedPipeWire;
    p.paint();
    EXPECT_NE(p.painter.findText("The call sees your camera."), nullptr);

    p.state.mirror = false;
    p.paint();
    EXPECT_FALSE(p.painter.previews.back().second);
    EXPECT_EQ(p.painter.clipDepth, 0);  // every clip popped
}

TEST(Paint, WearSlotChipsMoveTheScrollAreaDown) {
    Painted p;
    p.state.tab = 1;
    p.state.wear[kWearGlasses] = "round";
    p.paint();
    EXPECT_FLOAT_EQ(p.panel.ui.viewportHeight, 740 - 135);
    int chips = 0;
    for (const HitRegion& r : p.panel.ui.regions)
        if (r.kind == kHitWearSlotChip) ++chips;
    EXPECT_EQ(chips, 4);
    EXPECT_NE(p.painter.findText("Glasses \u2022"), nullptr);
    EXPECT_NE(p.painter.findText("Hair"), nullptr);
    EXPECT_EQ(p.painter.findText("Hair \u2022"), nullptr);

    p.state.face = kFaceKitten;  // no wear with the kitten: no chips, the area starts at 97
    p.paint();
    EXPECT_FLOAT_EQ(p.panel.ui.viewportHeight, 740 - 97);
    for (const HitRegion& r : p.panel.ui.regions)
        EXPECT_NE(r.kind, kHitWearSlotChip);
}

TEST(Paint, ControlsSitInThePanelGeometry) {
    Painted p;
    p.paint();
    const PanelGeometry g = panelGeometry(1200, 740);
    int tabs = 0;
    for (const HitRegion& r : p.panel.ui.regions) {
        if (r.kind == kHitTab) {
            EXPECT_NEAR(r.left, g.edge + 15 + r.index * 59.6f, 1e-3);
            EXPECT_FLOAT_EQ(r.bottom, 86);
            ++tabs;
        }
        if (r.kind == kHitResetAll) {
            EXPECT_FLOAT_EQ(r.right, 1200 - 15);
        }
        if (r.kind == kHitVirtualCameraButton) {
            EXPECT_FLOAT_EQ(r.right, g.edge - 16);
        }
    }
    EXPECT_EQ(tabs, 5);
    EXPECT_EQ(p.panel.ui.cameraChipRect.top, filtersRowTop(previewRect(1200, 740)));
}

TEST(Paint, CardSitsAboveTheFiltersRowAndWinsOverThePreview) {
    Painted p;
    p.panel.ui.cardOpen = true;
    p.engine.linkUp = true;
    p.engine.outputs = kOutputPipeWire;
    p.paint();
    EXPECT_NE(p.painter.findText("Ready. No app is using it right now."), nullptr);
    EXPECT_NE(p.painter.findText(std::string(cameraOutputsNote(kOutputPipeWire)) + " Then choose"),
              nullptr);
    p.engine.outputs = kOutputPipeWire | kOutputLoopback | kWatchedLoopback;
    p.paint();
    EXPECT_NE(p.painter.findText("Apps find it through PipeWire and the loopback device."), nullptr);
    const HitRegion& card = p.panel.ui.regions.back();
    ASSERT_EQ(card.kind, kHitVirtualCameraCard);
    float filtersTop = filtersRowTop(previewRect(1200, 740));
    EXPECT_FLOAT_EQ(card.bottom, filtersTop - 8);
    EXPECT_FLOAT_EQ(card.right - card.left, 320);
    EXPECT_NE(p.painter.findText("Sending to \u201cQuillmere\u201d"), nullptr);
    // Nothing under the card takes a click on it.
    EXPECT_EQ(hitTest(p.panel.ui.regions, card.right - 5, card.bottom - 5)->kind, kHitVirtualCameraCard);
}

TEST(Paint, ScrollIsClampedToThePreviousContentHeight) {
    Painted p;
    p.panel.ui.tabScroll[0] = 500;
    p.paint();  // the title-only tab fits
    EXPECT_EQ(p.panel.ui.tabScroll[0], 0);
}

struct Slider : PanelFixture {
    FakePainter painter;
    DrawContext dc{painter, panel, 900};
    bool hasReset() const {
        for (const HitRegion& r : panel.ui.regions)
            if (r.kind == kHitSliderReset) return true;
        return false;
    }
};

TEST(DrawSlider, ResetShowsOnlyBeyondATenThousandth) {
    Slider s;
    float value = 1.00009f;
    float y = 100;
    drawSlider(s.dc, y, icon::kFullScreen, "Size", &value, 0.6f, 1.6f, "Smaller", "Bigger", 1, false);
    EXPECT_FALSE(s.hasReset());
    EXPECT_FLOAT_EQ(y, 160);  // a slider row is 60 DIPs
    value = 1.0002f;
    drawSlider(s.dc, y, icon::kFullScreen, "Size", &value, 0.6f, 1.6f, "Smaller", "Bigger", 1, false);
    EXPECT_TRUE(s.hasReset());
    ASSERT_EQ(s.panel.ui.sliders.size(), 2u);
    EXPECT_EQ(s.panel.ui.regions.back().index, 1);  // regions carry the slider's index
}

TEST(DrawSlider, ReversedSliderPlacesItsKnobByTheNegatedValue) {
    Slider s;
    float value = 0.25f;  // stored; the screen shows -0.25: knob at the left end
    float y = 0;
    drawSlider(s.dc, y, icon::kSwitch, "Left / right", &value, -0.25f, 0.25f, "Left", "Right", 0, true);
    const SliderBinding& b = s.panel.ui.sliders[0];
    EXPECT_FLOAT_EQ(s.painter.circles.back().cx, b.left);
    EXPECT_TRUE(s.hasReset());
    // The track region reaches 10 DIPs past the ends of the track.
    const HitRegion& track = s.panel.ui.regions.back();
    EXPECT_EQ(track.kind, kHitSliderTrack);
    EXPECT_FLOAT_EQ(track.left, b.left - 10);
    EXPECT_FLOAT_EQ(track.right, b.right + 10);
}

TEST(Icons, EveryFluentIconIsMapped) {
    for (uint32_t code :
         {icon::kBrightness, icon::kAdd, icon::kCancel, icon::kSetting, icon::kVideo, icon::kRefresh,
          icon::kCheckMark, icon::kFullScreen, icon::kEmoji, icon::kContact, icon::kRotate, icon::kRedEye,
          icon::kRecent, icon::kViewAll, icon::kSwitch, icon::kSort, icon::kPhoto, icon::kFrigid})
        EXPECT_NE(materialIconFor(code), 0u) << std::hex << code;
    EXPECT_EQ(materialIconFor(0x41), 0u);
    EXPECT_EQ(utf8FromCodePoint(0x25BE), "\u25BE");
    EXPECT_EQ(utf8FromCodePoint(0x41), "A");
}

}  // namespace
}  // namespace qm
