// The Wear tab without a display: the painted tiles, what a click on them stores, the fit sliders of
// the open slot, the kitten's note and the slot chips' scrolling.
#include <gtest/gtest.h>

#include <algorithm>

#include "base/wear_catalogue.h"
#include "fake_painter.h"
#include "recording_host.h"
#include "settings/settings_file.h"
#include "ui/window_paint.h"

namespace qm {
namespace {

using test::FakePainter;
using test::PanelFixture;

struct WearTab : PanelFixture {
    FakePainter painter;
    std::vector<std::pair<ThumbnailGroup, int>> missing;

    WearTab() {
        state.tab = 1;
        state.face = kFaceNone;
        paint();
    }
    void paint() {
        painter = FakePainter{};
        painter.missingThumbnails = missing;
        paintWindow(painter, panel, 1200, 740, EngineView{});
    }
    const HitRegion* find(int kind, int index) const {
        for (const HitRegion& r : panel.ui.regions)
            if (r.kind == kind && r.index == index) return &r;
        return nullptr;
    }
    // The tile region of a slot's choice; an empty id is the empty choice.
    const HitRegion* tile(int slot, const std::string& id) const {
        int item = id.empty() ? 0 : findWearEntry(slot, id) + 1;
        return find(kHitWearTile, slot * 1000 + item);
    }
    void clickAt(const HitRegion& r) {
        onLeftButtonDown(panel, (r.left + r.right) / 2, (r.top + r.bottom) / 2);
        paint();
    }
    void choose(int slot, const std::string& id) {
        const HitRegion* r = tile(slot, id);
        ASSERT_NE(r, nullptr) << "no tile for " << id;
        clickAt(*r);
    }
    // Whether the accent ring is drawn around the region's tile.
    bool ringed(const HitRegion* r) const {
        if (!r) return false;
        Rect ring{r->left + 1.5f, r->top + 1.5f, r->right - 1.5f, r->bottom - 1.5f};
        return std::find(painter.strokes.begin(), painter.strokes.end(), ring) != painter.strokes.end();
    }
    int count(int kind) const {
        return static_cast<int>(std::count_if(panel.ui.regions.begin(), panel.ui.regions.end(),
                                              [&](const HitRegion& r) { return r.kind == kind; }));
    }
    bool shows(const std::string& text) const {
        return std::any_of(painter.texts.begin(), painter.texts.end(),
                           [&](const test::TextCall& t) { return t.text == text; });
    }
};

TEST(WearTab, ChoosingAnItemInEachSlotStoresPublishesAndSavesIt) {
    WearTab t;
    const char* items[kWearSlots] = {"curls", "santa", "heart", "santa"};
    t.panel.ui.activeScene = "s2";
    for (int slot = 0; slot < kWearSlots; ++slot) {
        // Every catalogue entry of the slot is offered on the own face, in a grid of three.
        int tiles = 0;
        for (const HitRegion& r : t.panel.ui.regions)
            if (r.kind == kHitWearTile && r.index / 1000 == slot) {
                EXPECT_NEAR(r.right - r.left, 272.0f / 3, 1e-3);
                EXPECT_FLOAT_EQ(r.bottom - r.top, 74);
                ++tiles;
            }
        int entries = static_cast<int>(std::count_if(std::begin(kWearCatalogue), std::end(kWearCatalogue),
                                                     [&](const WearEntry& e) { return e.kind == slot; }));
        EXPECT_EQ(tiles, entries + 1);

        t.forgetSave();
        // Scrolled to the section: the tile stays under the pointer though the sliders above it close.
        t.clickAt(*t.find(kHitWearSlotChip, slot));
        const float tileTop = t.tile(slot, items[slot])->top;
        t.choose(slot, items[slot]);
        EXPECT_FLOAT_EQ(t.tile(slot, items[slot])->top, tileTop) << items[slot];
        EXPECT_EQ(t.state.wear[slot], items[slot]);
        EXPECT_EQ(t.shared.filters.wear[slot], items[slot]);
        EXPECT_TRUE(t.saved());
        EXPECT_TRUE(t.panel.ui.activeScene.empty());
        EXPECT_TRUE(t.ringed(t.tile(slot, items[slot])));
        EXPECT_FALSE(t.ringed(t.tile(slot, "")));
        // The slot just changed shows its sliders; every other worn slot offers "Adjust fit" instead.
        EXPECT_EQ(t.panel.ui.fitSlot, slot);
        EXPECT_EQ(t.panel.ui.sliders.size(), 4u);
        EXPECT_EQ(t.count(kHitFitSlot), slot);
        EXPECT_EQ(t.find(kHitFitSlot, slot), nullptr);
    }
    // The saved file gives every item back.
    FilterState loaded;
    SettingsLists lists;
    LaunchOptions options;
    loadSettings(t.paths, loaded, lists, options);
    for (int slot = 0; slot < kWearSlots; ++slot)
        EXPECT_EQ(loaded.wear[slot], items[slot]);

    t.clickAt(*t.find(kHitWearSlotChip, kWearHat));
    t.choose(kWearHat, "");  // "None" takes it off again
    EXPECT_EQ(t.state.wear[kWearHat], "");
    EXPECT_TRUE(t.ringed(t.tile(kWearHat, "")));
    EXPECT_EQ(t.find(kHitFitSlot, kWearHat), nullptr);
    EXPECT_TRUE(t.shows("My hair"));
    EXPECT_TRUE(t.shows("None"));
}

TEST(WearTab, BaldIsOfferedOnlyWithMyFaceAndCountsAsMyHairElsewhere) {
    WearTab t;
    t.choose(kWearHair, "bald");
    t.choose(kWearHat, "cap");
    ASSERT_EQ(t.state.wear[kWearHair], "bald");
    EXPECT_NE(t.painter.findText("Hair \u2022"), nullptr);
    EXPECT_NE(t.find(kHitFitSlot, kWearHair), nullptr);
    EXPECT_GT(t.painter.lines, 0);  // the crossed-out rings of the empty choices

    t.state.face = kFaceMorvel;  // a replacement face: no cap, and no tile for it
    t.paint();
    EXPECT_EQ(t.tile(kWearHair, "bald"), nullptr);
    EXPECT_FALSE(t.shows("Bald"));
    EXPECT_TRUE(t.ringed(t.tile(kWearHair, "")));  // "My hair" is what the face wears
    EXPECT_EQ(t.find(kHitFitSlot, kWearHair), nullptr);
    EXPECT_EQ(t.painter.findText("Hair \u2022"), nullptr);
    EXPECT_NE(t.painter.findText("Hat \u2022"), nullptr);
    EXPECT_EQ(t.state.wear[kWearHair], "bald");  // kept for when the own face returns

    t.state.face = kFaceNone;
    t.paint();
    EXPECT_TRUE(t.ringed(t.tile(kWearHair, "bald")));

    // A picture that failed to load is treated like the cap: offered only on the own face.
    t.missing = {{ThumbnailGroup::Wear, findWearEntry(kWearHat, "crown")}};
    t.paint();
    ASSERT_NE(t.tile(kWearHat, "crown"), nullptr);
    t.state.face = kFaceOrange;
    t.paint();
    EXPECT_EQ(t.tile(kWearHat, "crown"), nullptr);
    EXPECT_NE(t.tile(kWearHat, "wizard"), nullptr);
}

TEST(WearTab, FitSlidersEditTheOpenSlotMirroredWhereTheScreenFlips) {
    WearTab t;
    t.choose(kWearGlasses, "round");
    t.choose(kWearBeard, "full");
    ASSERT_EQ(t.panel.ui.fitSlot, kWearBeard);
    const HitRegion* adjust = t.find(kHitFitSlot, kWearGlasses);
    ASSERT_NE(adjust, nullptr);
    EXPECT_NE(t.painter.findText("Adjust fit"), nullptr);
    t.clickAt(*adjust);
    ASSERT_EQ(t.panel.ui.fitSlot, kWearGlasses);
    ASSERT_EQ(t.panel.ui.sliders.size(), 4u);

    // Each slider drags its field of the glasses' fit to the track's right end.
    t.state.mirror = true;
    t.paint();
    const Fit before = t.state.wearFit[kWearBeard];
    for (int i = 0; i < 4; ++i) {
        const SliderBinding& s = t.panel.ui.sliders[i];
        onLeftButtonDown(t.panel, s.right + 5, (s.top + s.bottom) / 2);
        endSliderDrag(t.panel, true);
        t.paint();
    }
    const Fit& fit = t.state.wearFit[kWearGlasses];
    EXPECT_FLOAT_EQ(fit.scale, 1.6f);
    EXPECT_FLOAT_EQ(fit.x, -0.4f);  // "Right" on the mirrored screen is the picture's left
    EXPECT_FLOAT_EQ(fit.y, 0.4f);
    EXPECT_FLOAT_EQ(fit.fourth, -0.5236f);
    EXPECT_EQ(t.state.wearFit[kWearBeard], before);
    EXPECT_EQ(t.shared.filters.wearFit[kWearGlasses], fit);
    EXPECT_TRUE(t.shows("Left / right"));
    EXPECT_TRUE(t.shows("Tilt"));

    // Unmirrored, the same position stores the position's own value; "Reset" restores the default.
    t.state.mirror = false;
    t.paint();
    const SliderBinding& x = t.panel.ui.sliders[1];
    onLeftButtonDown(t.panel, x.right + 5, (x.top + x.bottom) / 2);
    endSliderDrag(t.panel, true);
    t.paint();
    EXPECT_FLOAT_EQ(fit.x, 0.4f);
    const HitRegion* reset = t.find(kHitSliderReset, 1);
    ASSERT_NE(reset, nullptr);
    t.clickAt(*reset);
    EXPECT_FLOAT_EQ(fit.x, 0);
    EXPECT_EQ(t.find(kHitSliderReset, 1), nullptr);
}

TEST(WearTab, TheKittenTakesNothingAndSaysWhere) {
    WearTab t;
    t.choose(kWearHat, "tophat");
    onControlClick(t.panel, {0, 0, 1, 1, kHitFaceTile, 4});  // the kitten, from the Faces tab
    ASSERT_EQ(t.state.face, kFaceKitten);
    t.paint();
    EXPECT_EQ(t.count(kHitWearTile), 0);
    EXPECT_EQ(t.count(kHitWearSlotChip), 0);
    EXPECT_EQ(t.count(kHitSliderTrack), 0);
    EXPECT_TRUE(t.shows("Accessories"));
    const test::TextCall* note = t.painter.findText("This face doesn't take accessories.");
    ASSERT_NE(note, nullptr);
    EXPECT_TRUE(note->style.wrap);
    EXPECT_EQ(t.shared.filters.wear[kWearHat], "");  // nothing reaches the engine either...
    EXPECT_EQ(t.state.wear[kWearHat], "tophat");     // ...but the choice waits for another face
}

TEST(WearTab, SlotChipsScrollTheirSectionToTheTopAsFarAsTheContentAllows) {
    WearTab t;
    const float top = 134 + 1 + 16;  // the content's first line with the chips shown
    EXPECT_FLOAT_EQ(t.panel.ui.wearSectionTop[kWearHair], 0);
    for (int slot = 1; slot < kWearSlots; ++slot)
        EXPECT_GT(t.panel.ui.wearSectionTop[slot], t.panel.ui.wearSectionTop[slot - 1]);

    t.clickAt(*t.find(kHitWearSlotChip, kWearHat));
    EXPECT_FLOAT_EQ(t.panel.ui.tabScroll[1], t.panel.ui.wearSectionTop[kWearHat]);
    const test::TextCall* heading = nullptr;
    for (const test::TextCall& text : t.painter.texts)
        if (text.text == "Hat" && text.style.font == Font::Heading) heading = &text;
    ASSERT_NE(heading, nullptr);
    EXPECT_FLOAT_EQ(heading->rect.top, top);

    // The beard's section is near the end: the scroll stops where the content's end meets the bottom.
    t.clickAt(*t.find(kHitWearSlotChip, kWearBeard));
    t.paint();
    EXPECT_LT(t.panel.ui.tabScroll[1], t.panel.ui.wearSectionTop[kWearBeard]);
    EXPECT_FLOAT_EQ(t.panel.ui.tabScroll[1], t.panel.ui.contentHeight - t.panel.ui.viewportHeight);
}

TEST(WearTab, ClicksOutsideTheCatalogueChangeNothing) {
    WearTab t;
    for (int index : {-1, 1000 + 1, 1000 + 24, 4 * 1000 + 1}) {  // a hair entry under the hat, past the end
        onControlClick(t.panel, {0, 0, 1, 1, kHitWearTile, index});
        onControlClick(t.panel, {0, 0, 1, 1, kHitFitSlot, index});
        onControlClick(t.panel, {0, 0, 1, 1, kHitWearSlotChip, index});
    }
    for (int slot = 0; slot < kWearSlots; ++slot)
        EXPECT_EQ(t.state.wear[slot], "");
    EXPECT_EQ(t.panel.ui.fitSlot, -1);
    EXPECT_FALSE(t.saved());
}

}  // namespace
}  // namespace qm
