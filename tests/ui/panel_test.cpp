// The panel's behaviour without a display: hit-testing, clicks, drags, the wheel and engine notices.
#include <gtest/gtest.h>

#include "fake_painter.h"
#include "recording_host.h"
#include "ui/controls.h"
#include "ui/panel.h"
#include "ui/window_paint.h"

namespace qm {
namespace {

using test::FakePainter;
using test::PanelFixture;

TEST(HitTest, LaterRegionsWinAndEdgesAreHalfOpen) {
    std::vector<HitRegion> regions = {{10, 10, 50, 50, kHitTab, 0}, {30, 30, 70, 70, kHitTab, 1}};
    EXPECT_EQ(hitTest(regions, 40, 40)->index, 1);  // overlap: the later one
    EXPECT_EQ(hitTest(regions, 20, 20)->index, 0);
    EXPECT_EQ(hitTest(regions, 10, 10)->index, 0);  // left and top inclusive
    EXPECT_EQ(hitTest(regions, 69.99f, 40)->index, 1);
    EXPECT_EQ(hitTest(regions, 70, 40), nullptr);  // right exclusive
    EXPECT_EQ(hitTest(regions, 40, 70), nullptr);  // bottom exclusive
    EXPECT_EQ(hitTest(regions, 5, 5), nullptr);
    EXPECT_EQ(hitTest({}, 5, 5), nullptr);
}

TEST(HitTest, RegionsScrolledUnderTheHeaderAreClipped) {
    std::vector<HitRegion> regions = {{0, 0, 100, 40, kHitTab, 0},         // header: left alone
                                      {0, 80, 100, 140, kHitFaceTile, 0},  // half under the header
                                      {0, 20, 100, 60, kHitFaceTile, 1}};  // wholly under it
    clipRegionsBelow(regions, 1, 97);
    EXPECT_EQ(hitTest(regions, 50, 30)->kind, kHitTab);
    EXPECT_EQ(hitTest(regions, 50, 90), nullptr);    // the hidden part
    EXPECT_EQ(hitTest(regions, 50, 100)->index, 0);  // the visible part
    EXPECT_EQ(regions[2].top, regions[2].bottom);    // empty: never hit
    EXPECT_EQ(hitTest(regions, 50, 50), nullptr);
}

TEST(SliderMaths, PositionMapsToValueAndReversedNegates) {
    SliderBinding s{100, 0, 300, 22, nullptr, -0.25f, 0.25f, 0, false};
    EXPECT_FLOAT_EQ(sliderValueAt(s, 100), -0.25f);
    EXPECT_FLOAT_EQ(sliderValueAt(s, 200), 0);
    EXPECT_FLOAT_EQ(sliderValueAt(s, 250), 0.125f);
    EXPECT_FLOAT_EQ(sliderValueAt(s, 50), -0.25f);  // clamped
    EXPECT_FLOAT_EQ(sliderValueAt(s, 900), 0.25f);
    s.reversed = true;
    EXPECT_FLOAT_EQ(sliderValueAt(s, 250), -0.125f);
    SliderBinding flat{100, 0, 100, 22, nullptr, 0, 1, 0, false};  // zero width does not divide by zero
    EXPECT_FLOAT_EQ(sliderValueAt(flat, 100), 0);
}

TEST(SliderDrag, PublishesEveryMoveAndSavesOnceAtTheEnd) {
    PanelFixture f;
    f.panel.ui.sliders.push_back({100, 0, 300, 22, &f.state.head, 0.6f, 1.6f, 1, false});
    f.panel.ui.regions.push_back({90, -4, 310, 26, kHitSliderTrack, 0});
    f.panel.ui.activeScene = "s1";

    onLeftButtonDown(f.panel, 300, 10);
    EXPECT_EQ(f.panel.ui.dragSlider, 0);
    EXPECT_EQ(f.host.captures, 1);
    EXPECT_FLOAT_EQ(f.state.head, 1.6f);
    EXPECT_FLOAT_EQ(f.shared.filters.headScale, 1.6f);
    onMouseMove(f.panel, 100, 500);  // far outside the track and the window: still dragging
    EXPECT_FLOAT_EQ(f.state.head, 0.6f);
    EXPECT_FLOAT_EQ(f.shared.filters.headScale, 0.6f);  // every move is published...
    EXPECT_FALSE(f.saved());                            // ...but nothing is saved during the drag
    EXPECT_EQ(f.panel.ui.activeScene, "s1");            // a drag keeps the scene

    EXPECT_TRUE(endSliderDrag(f.panel, true));
    EXPECT_TRUE(f.saved());
    EXPECT_EQ(f.host.releases, 1);
    EXPECT_EQ(f.panel.ui.dragSlider, -1);
    // A lost capture after the end, or a release without a drag, does nothing more.
    f.forgetSave();
    EXPECT_FALSE(endSliderDrag(f.panel, false));
    EXPECT_FALSE(f.saved());
}

TEST(SliderDrag, LostCaptureEndsWithoutReleasing) {
    PanelFixture f;
    float value = 0;
    f.panel.ui.sliders.push_back({0, 0, 100, 22, &value, 0, 1, 0, false});
    f.panel.ui.dragSlider = 0;
    EXPECT_TRUE(endSliderDrag(f.panel, false));
    EXPECT_EQ(f.host.releases, 0);
    EXPECT_TRUE(f.saved());
}

TEST(SliderDrag, StaleIndexIsIgnored) {
    PanelFixture f;
    f.state.head = 1.3f;
    f.panel.ui.dragSlider = 3;  // the list was rebuilt with fewer sliders
    moveDraggedSlider(f.panel, 50);
    EXPECT_FLOAT_EQ(f.shared.filters.headScale, 1);  // nothing published
    EXPECT_EQ(f.host.repaints, 0);
}

TEST(SliderReset, RestoresTheDefaultNegatedWhenReversed) {
    PanelFixture f;
    float plain = 1.4f, reversed = 0.2f;
    f.panel.ui.sliders.push_back({0, 0, 100, 22, &plain, 0.6f, 1.6f, 1, false});
    f.panel.ui.sliders.push_back({0, 0, 100, 22, &reversed, -0.25f, 0.25f, 0.1f, true});
    onControlClick(f.panel, {0, 0, 1, 1, kHitSliderReset, 0});
    onControlClick(f.panel, {0, 0, 1, 1, kHitSliderReset, 1});
    EXPECT_FLOAT_EQ(plain, 1);
    EXPECT_FLOAT_EQ(reversed, -0.1f);
    EXPECT_TRUE(f.saved());
}

TEST(Wheel, ClampsToTheContent) {
    PanelFixture f;
    f.state.tab = 2;
    f.panel.ui.viewportHeight = 500;
    f.panel.ui.contentHeight = 400;  // fits: never scrolls
    onWheel(f.panel, -120);
    EXPECT_EQ(f.panel.ui.tabScroll[2], 0);

    f.panel.ui.contentHeight = 590;
    onWheel(f.panel, -120);
    EXPECT_FLOAT_EQ(f.panel.ui.tabScroll[2], 60);
    onWheel(f.panel, -240);
    EXPECT_FLOAT_EQ(f.panel.ui.tabScroll[2], 90);  // at most content - viewport
    onWheel(f.panel, 600);
    EXPECT_FLOAT_EQ(f.panel.ui.tabScroll[2], 0);
    EXPECT_EQ(f.panel.ui.tabScroll[0], 0);  // only the current tab scrolls
}

// A painted panel, so clicks go through real regions.
struct PaintedPanel : PanelFixture {
    FakePainter painter;
    EngineView engine;
    void paint() { paintWindow(painter, panel, 1200, 740, engine); }
    const HitRegion& region(int kind, int index = 0) {
        for (const HitRegion& r : panel.ui.regions)
            if (r.kind == kind && r.index == index) return r;
        ADD_FAILURE() << "no region of kind " << kind;
        static HitRegion none;
        return none;
    }
    void click(int kind, int index = 0) {
        const HitRegion& r = region(kind, index);
        onLeftButtonDown(panel, (r.left + r.right) / 2, (r.top + r.bottom) / 2);
        paint();
    }
};

TEST(VirtualCameraCard, AClickElsewhereOnlyClosesIt) {
    PaintedPanel p;
    p.paint();
    p.click(kHitVirtualCameraButton);
    ASSERT_TRUE(p.panel.ui.cardOpen);
    p.forgetSave();

    p.click(kHitVirtualCameraCard);  // the card swallows clicks
    EXPECT_TRUE(p.panel.ui.cardOpen);
    EXPECT_FALSE(p.saved());

    p.click(kHitTab, 3);  // first click: only closes
    EXPECT_FALSE(p.panel.ui.cardOpen);
    EXPECT_EQ(p.state.tab, 0);
    EXPECT_FALSE(p.saved());
    p.click(kHitTab, 3);  // second click: switches
    EXPECT_EQ(p.state.tab, 3);

    p.click(kHitVirtualCameraButton);
    onLeftButtonDown(p.panel, 5, 735);  // on nothing
    EXPECT_FALSE(p.panel.ui.cardOpen);
    p.paint();
    p.click(kHitVirtualCameraButton);
    p.click(kHitVirtualCameraButton);  // the button toggles it shut
    EXPECT_FALSE(p.panel.ui.cardOpen);
}

TEST(ControlClick, TabAndFiltersSwitchSaveAndClearTheScene) {
    PaintedPanel p;
    p.paint();
    p.panel.ui.activeScene = "s5";
    p.click(kHitTab, 4);
    EXPECT_EQ(p.state.tab, 4);
    EXPECT_TRUE(p.panel.ui.activeScene.empty());
    EXPECT_TRUE(p.saved());

    p.forgetSave();
    p.click(kHitFiltersSwitch);
    EXPECT_FALSE(p.state.filters);
    EXPECT_FALSE(p.shared.filters.filtersOn);
    EXPECT_TRUE(p.saved());
}

TEST(ControlClick, OwnPathsDoNotApplyOrClearTheScene) {
    PanelFixture f;
    f.panel.ui.activeScene = "s1";
    f.state.filters = false;
    // A scene tile outside the list does nothing (saving a scene is a change of its own).
    for (int kind : {kHitCameraChip, kHitResetAll, kHitSceneTile})
        onControlClick(f.panel, {0, 0, 1, 1, kind, 0});
    EXPECT_EQ(f.host.cameraMenus, 1);
    EXPECT_EQ(f.host.resets, 1);
    EXPECT_TRUE(f.shared.filters.filtersOn);  // nothing published
    EXPECT_FALSE(f.saved());
    EXPECT_EQ(f.panel.ui.activeScene, "s1");
}

TEST(ControlClick, ListChoicesIgnoreIndexesOutsideTheirLists) {
    PanelFixture f;
    f.lists.backgrounds = {"beach.jpg"};
    f.lists.torsos = {"suit"};
    f.lists.visitors = {"cat"};
    onControlClick(f.panel, {0, 0, 1, 1, kHitBackgroundTile, 2});
    EXPECT_EQ(f.state.background, "beach.jpg");
    EXPECT_EQ(f.panel.ui.lastBackground, "beach.jpg");
    onControlClick(f.panel, {0, 0, 1, 1, kHitBackgroundTile, 7});
    EXPECT_EQ(f.state.background, "beach.jpg");
    onControlClick(f.panel, {0, 0, 1, 1, kHitTorsoTile, 1});
    onControlClick(f.panel, {0, 0, 1, 1, kHitTorsoTile, 2});
    EXPECT_EQ(f.state.torso, "suit");
    onControlClick(f.panel, {0, 0, 1, 1, kHitVisitorSegment, 1});
    EXPECT_EQ(f.state.visitor, "cat");
    onControlClick(f.panel, {0, 0, 1, 1, kHitVisitorSegment, 0});
    EXPECT_EQ(f.state.visitor, "");
}

TEST(ControlClick, BackgroundSwitchReturnsToTheLastChoiceWhileItExists) {
    PanelFixture f;
    f.lists.backgrounds = {"beach.jpg"};
    onControlClick(f.panel, {0, 0, 1, 1, kHitBackgroundTile, 2});
    onControlClick(f.panel, {0, 0, 1, 1, kHitBackgroundSwitch, 0});
    EXPECT_EQ(f.state.background, "none");
    EXPECT_EQ(f.panel.ui.lastBackground, "beach.jpg");  // "none" is never remembered
    onControlClick(f.panel, {0, 0, 1, 1, kHitBackgroundSwitch, 0});
    EXPECT_EQ(f.state.background, "beach.jpg");
    onControlClick(f.panel, {0, 0, 1, 1, kHitBackgroundSwitch, 0});
    f.lists.backgrounds.clear();  // the picture was removed meanwhile
    onControlClick(f.panel, {0, 0, 1, 1, kHitBackgroundSwitch, 0});
    EXPECT_EQ(f.state.background, "blur");
}

TEST(ControlClick, RemoveAllFiltersKeepsFitsVisitorAndSwitches) {
    PanelFixture f;
    f.state.face = kFaceOrange;
    f.state.faceFit = {1.3f, 0.1f, 0, 0};
    f.state.wear[kWearHat] = "cap";
    f.state.look = kLookGlam;
    f.state.visitor = "cat";
    f.state.background = "blur";
    onControlClick(f.panel, {0, 0, 1, 1, kHitRemoveAllFilters, 0});
    EXPECT_EQ(f.state.face, kFaceNone);
    EXPECT_EQ(f.state.wear[kWearHat], "");
    EXPECT_EQ(f.state.look, kLookNone);
    EXPECT_EQ(f.state.background, "none");
    EXPECT_EQ(f.state.faceFit.scale, 1.3f);
    EXPECT_EQ(f.state.visitor, "cat");
    EXPECT_TRUE(f.state.filters);
    EXPECT_EQ(f.panel.ui.statusMessage, "All filters off. Your saved faces and backgrounds are still here.");
}

TEST(Hover, CardAndMissesCountAsNothing) {
    PanelFixture f;
    f.panel.ui.regions = {{0, 0, 10, 10, kHitTab, 2}, {20, 0, 30, 10, kHitVirtualCameraCard, 0}};
    onMouseMove(f.panel, 5, 5);
    EXPECT_EQ(f.panel.ui.hoverKind, kHitTab);
    EXPECT_EQ(f.panel.ui.hoverIndex, 2);
    EXPECT_EQ(f.host.repaints, 1);
    onMouseMove(f.panel, 6, 6);  // same control: no repaint
    EXPECT_EQ(f.host.repaints, 1);
    onMouseMove(f.panel, 25, 5);
    EXPECT_EQ(f.panel.ui.hoverKind, kHitNothing);
    onMouseLeave(f.panel);
    EXPECT_EQ(f.host.repaints, 2);
}

TEST(RightClick, TilesWithoutAMenuDoNothing) {
    PanelFixture f;
    f.lists.backgrounds = {"beach.jpg"};
    f.panel.ui.regions = {{0, 0, 10, 10, kHitBackgroundTile, 1},
                          {10, 0, 20, 10, kHitBackgroundTile, 2},
                          {20, 0, 30, 10, kHitUserFaceTile, 0},
                          {30, 0, 40, 10, kHitFaceTile, 0}};
    for (float x : {5.0f, 15.0f, 25.0f, 35.0f, 95.0f})
        onRightButtonUp(f.panel, x, 5);
    // Only the picture tile has a menu ("Remove"); dismissed, it changes nothing.
    EXPECT_EQ(f.host.menus, 1);
    EXPECT_EQ(f.state.background, "none");
    EXPECT_FALSE(f.saved());
}

TEST(Timer, CountdownRequestsTheRoomCaptureOnceAtZero) {
    PanelFixture f;
    f.panel.ui.roomCountdown = 2;
    onTimerTick(f.panel);
    EXPECT_FALSE(f.shared.captureRoomRequest.load());
    onTimerTick(f.panel);
    EXPECT_TRUE(f.shared.captureRoomRequest.exchange(false));
    onTimerTick(f.panel);
    EXPECT_FALSE(f.shared.captureRoomRequest.load());
    EXPECT_EQ(f.host.repaints, 3);
}

TEST(Timer, TheEnginesWordOnAFacePhotoIsShownOnce) {
    PanelFixture f;
    f.shared.facePhotoNews = kPhotoNoFace;
    onTimerTick(f.panel);
    EXPECT_EQ(f.panel.ui.statusMessage, "No face found in that picture: your own eyes and mouth go on it.");
    f.panel.ui.statusMessage.clear();
    onTimerTick(f.panel);
    EXPECT_EQ(f.panel.ui.statusMessage, "");
    f.shared.facePhotoNews = kPhotoUnreadable;
    onTimerTick(f.panel);
    EXPECT_EQ(f.panel.ui.statusMessage, "Couldn't read that picture.");
    f.shared.facePhotoNews = kPhotoWorn;
    onTimerTick(f.panel);
    EXPECT_EQ(f.panel.ui.statusMessage, "Couldn't read that picture.") << "a photo worn says nothing";
}

TEST(EngineNotices, NewFrameIsTakenOnceAndStatusChangeHidesIt) {
    PanelFixture f;
    std::vector<uint8_t> copy;
    f.shared.previewPosted = true;
    EXPECT_FALSE(takePreviewFrame(f.shared, copy));  // nothing ready: no repaint
    EXPECT_FALSE(f.shared.previewPosted.load());

    f.shared.previewBuffer.assign(16, 7);
    f.shared.previewReady = true;
    EXPECT_TRUE(takePreviewFrame(f.shared, copy));
    EXPECT_EQ(copy, f.shared.previewBuffer);
    EXPECT_FALSE(f.shared.previewReady);
    EXPECT_FALSE(takePreviewFrame(f.shared, copy));  // already consumed

    f.panel.ui.hasPreviewFrame = true;
    f.shared.status = kStatusRunning;
    onStatusNotice(f.panel);
    EXPECT_TRUE(f.panel.ui.hasPreviewFrame);
    f.shared.status = kStatusTurnedOff;
    onStatusNotice(f.panel);
    EXPECT_FALSE(f.panel.ui.hasPreviewFrame);
}

}  // namespace
}  // namespace qm
