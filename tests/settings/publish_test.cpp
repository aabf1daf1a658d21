#include "settings/publish.h"

#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace qm {
namespace {

SettingsPaths testPaths() {
    static test::TempDir dir;
    SettingsPaths paths;
    paths.folder = dir.folder();
    paths.settingsFile = paths.folder + "settings.ini";
    return paths;
}

TEST(Publish, CopiesTheStateWithItsRules) {
    SharedState shared;
    FilterState state;
    state.face = kFaceCustom;
    state.faceId = "me.png";
    state.faceFit = {1.5f, 0.3f, 0.4f, 0};
    state.photoFit = {0.1f, -0.2f, 90, 0.5f, -0.5f, 0.25f, false, true};
    state.background = "sea.png";
    state.wear[kWearHair] = "bald";
    state.wear[kWearGlasses] = "round";
    state.wearFit[kWearGlasses] = {1.1f, 0, 0, 0.2f};
    state.head = 1.3f;
    publishFilters(state, testPaths(), shared);
    const EngineFilters& f = shared.filters;
    EXPECT_EQ(f.faceKind.load(), kFaceCustom);
    EXPECT_EQ(f.faceFit, (Fit{1.5f, 0.1f, -0.2f, 0})) << "a photo face takes x and y from its own fit";
    EXPECT_EQ(f.facePicture, testPaths().folder + "faces/me.png");
    EXPECT_NEAR(f.photo.tilt, -1.5707963f, 1e-6);
    EXPECT_FALSE(f.photo.photoEyes);
    EXPECT_EQ(f.backgroundPicture, testPaths().folder + "backgrounds/sea.png");
    EXPECT_FALSE(f.blur.load());
    EXPECT_EQ(f.wear[kWearHair], "") << "bald is worn only without a face";
    EXPECT_EQ(f.wear[kWearGlasses], "round");
    EXPECT_EQ(f.wearFit[kWearGlasses], state.wearFit[kWearGlasses]);
    EXPECT_FLOAT_EQ(f.headScale.load(), 1.3f);

    state.face = kFaceKitten;
    state.background = "blur";
    publishFilters(state, testPaths(), shared);
    EXPECT_EQ(f.faceFit, state.faceFit);
    for (int slot = 0; slot < kWearSlots; ++slot)
        EXPECT_EQ(f.wear[slot], "") << "the kitten wears nothing";
    EXPECT_TRUE(f.blur.load());
    EXPECT_EQ(f.backgroundPicture, "");

    state.face = kFaceNone;
    publishFilters(state, testPaths(), shared);
    EXPECT_EQ(f.wear[kWearHair], "bald");
    std::system("rm -rf /tmp/qm-publish-test");
}

// The engine copies the locked fields once per frame while the window publishes: every copy taken under
// the lock must be one the window actually wrote (never a torn string or fit).
TEST(Publish, EngineCopiesUnderTheLockAreNeverTorn) {
    SharedState shared;
    std::atomic<bool> done{false};
    std::thread window([&] {
        FilterState state;
        for (int i = 0; i < 4000; ++i) {
            bool even = i % 2 == 0;
            state.visitor = even ? std::string(200, 'a') : std::string(3, 'b');
            state.visitorFit = even ? Fit{2, 2, 2, 2} : Fit{0.5f, -1, -1, -1};
            state.wear[kWearHat] = even ? "crown" : "a-much-longer-hat-name-that-allocates";
            publishFilters(state, testPaths(), shared);
        }
        done = true;
    });
    int copies = 0;
    while (!done.load() || copies < 1000) {
        std::string visitor, hat;
        Fit fit;
        {
            std::lock_guard lock(shared.filterLock);
            visitor = shared.filters.visitor;
            fit = shared.filters.visitorFit;
            hat = shared.filters.wear[kWearHat];
        }
        ++copies;
        ASSERT_TRUE(visitor.empty() || visitor == std::string(200, 'a') || visitor == "bbb");
        ASSERT_TRUE(fit == Fit{} || fit == (Fit{2, 2, 2, 2}) || fit == (Fit{0.5f, -1, -1, -1}));
        ASSERT_TRUE(hat.empty() || hat == "crown" || hat == "a-much-longer-hat-name-that-allocates");
    }
    window.join();
    EXPECT_GT(copies, 0);
    std::system("rm -rf /tmp/qm-publish-test");
}

}  // namespace
}  // namespace qm
