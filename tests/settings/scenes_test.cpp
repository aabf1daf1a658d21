#include "settings/scenes.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <vector>

#include "platform/paths.h"
#include "settings/ini.h"
#include "settings/libraries.h"
#include "tests/support/temp_dir.h"

namespace qm {
namespace {

using test::readText;

class ScenesTest : public ::testing::Test {
protected:
    void SetUp() override {
        paths_.folder = temp_.folder();
        paths_.settingsFile = paths_.folder + "settings.ini";
        file_ = scenesFilePath(paths_);
        folder_ = libraryFolder(paths_, "scenes");
        ASSERT_FALSE(folder_.empty());
        lists_.faceIds = {"me.jpg"};
        lists_.torsos = {"robot"};
        lists_.backgrounds = {"beach.png"};
    }
    void writeFile(const std::string& text) { std::ofstream(file_, std::ios::binary) << text; }

    test::TempDir temp_;
    SettingsPaths paths_;
    SettingsLists lists_;
    std::string file_, folder_;
};

// A state with every field of the look away from its default.
FilterState everyFieldSet() {
    FilterState s;
    s.face = kFaceCustom;
    s.faceId = "me.jpg";
    s.faceFit = {1.25f, 0.1f, -0.2f, 0};
    for (int slot = 0; slot < kWearSlots; ++slot) {
        s.wear[slot] = std::string("item") + std::to_string(slot);
        s.wearFit[slot] = {0.5f + slot * 0.25f, 0.01f * slot, -0.02f * slot, 0.3f};
    }
    s.torso = "robot";
    s.torsoFit = {1.4f, -0.3f, 0.2f, 0};
    s.bodyless = true;
    s.head = 1.3f;
    s.background = "beach.png";
    s.look = kLookGlam;
    s.masculine = true;
    s.strength = 0.7f;
    return s;
}

void expectSameLook(const FilterState& a, const FilterState& b) {
    EXPECT_EQ(a.face, b.face);
    EXPECT_EQ(a.faceId, b.faceId);
    EXPECT_EQ(a.faceFit, b.faceFit);
    for (int slot = 0; slot < kWearSlots; ++slot) {
        EXPECT_EQ(a.wear[slot], b.wear[slot]);
        EXPECT_EQ(a.wearFit[slot], b.wearFit[slot]) << slot;
    }
    EXPECT_EQ(a.torso, b.torso);
    EXPECT_EQ(a.torsoFit, b.torsoFit);
    EXPECT_EQ(a.bodyless, b.bodyless);
    EXPECT_FLOAT_EQ(a.head, b.head);
    EXPECT_EQ(a.background, b.background);
    EXPECT_EQ(a.look, b.look);
    EXPECT_EQ(a.masculine, b.masculine);
    EXPECT_FLOAT_EQ(a.strength, b.strength);
}

TEST_F(ScenesTest, EveryFieldOfTheLookRoundTripsAndTheRestStays) {
    IniDocument settings;
    PhotoFit photo{0.1f, -0.1f, 12, 0.5f, -0.5f, 0.25f, false, true};
    writePhotoFit(settings, "me.jpg", photo);
    ASSERT_TRUE(writeIniFile(paths_.settingsFile, settings));

    const FilterState saved = everyFieldSet();
    const std::string id = createScene(file_, 42, "Beach day", saved);
    ASSERT_EQ(id, "s42");

    FilterState loaded;
    loaded.filters = false;
    loaded.visitor = "bird";
    ASSERT_TRUE(loadScene(file_, id, paths_, lists_, loaded));
    expectSameLook(loaded, saved);
    EXPECT_EQ(loaded.photoFit, photo);  // the photo brings its own fit
    EXPECT_FALSE(loaded.filters);       // not part of a scene
    EXPECT_EQ(loaded.visitor, "bird");

    // A second look over the first: update overwrites every key.
    FilterState plain;
    plain.face = kFaceKitten;
    plain.faceId = "kept.jpg";
    ASSERT_TRUE(updateScene(file_, id, plain));
    FilterState again = saved;
    ASSERT_TRUE(loadScene(file_, id, paths_, lists_, again));
    EXPECT_EQ(again.face, kFaceKitten);
    EXPECT_EQ(again.faceId, "me.jpg");  // the kitten leaves the chosen photo alone
    EXPECT_TRUE(again.torso.empty() && again.wear[0].empty());
    EXPECT_EQ(again.background, "none");

    std::vector<std::string> ids, names;
    readSceneList(file_, &ids, &names);
    EXPECT_EQ(ids, std::vector<std::string>{"s42"});
    EXPECT_EQ(names, std::vector<std::string>{"Beach day"});
}

TEST_F(ScenesTest, MissingThingsFallBackAndMissingFitsFollowTheirOwnRules) {
    writeFile(
        "[s1]\nface=6\nface_id=gone.jpg\ntorso=gone\nbackground=gone.png\nhair=bob\nface_fit=9 0 0 0\n"
        "look=7\nstrength=99\nhead=-4\n[s2]\nname=  \n");
    FilterState s = everyFieldSet();
    const Fit hairFit = s.wearFit[kWearHair];
    ASSERT_TRUE(loadScene(file_, "s1", paths_, lists_, s));
    EXPECT_EQ(s.face, kFaceNone);
    EXPECT_EQ(s.faceFit, Fit{});  // out of range: the default
    EXPECT_EQ(s.torso, "");
    EXPECT_EQ(s.torsoFit, Fit{});              // no torso_fit: reset
    EXPECT_EQ(s.wearFit[kWearHair], hairFit);  // no hair_fit: kept
    EXPECT_EQ(s.wear[kWearHair], "bob");
    EXPECT_EQ(s.background, "none");
    EXPECT_EQ(s.look, 3);
    EXPECT_FLOAT_EQ(s.strength, 1.5f);
    EXPECT_FLOAT_EQ(s.head, 0.6f);

    std::vector<std::string> ids, names;
    readSceneList(file_, &ids, &names);
    EXPECT_EQ(names, (std::vector<std::string>{"s1", "s2"}));  // no name: listed under the id
}

TEST_F(ScenesTest, NewIdsSkipTakenOnesAndNamesDefaultToTheCount) {
    writeFile("[s100]\nname=A\n[S101]\nname=B\n");
    FilterState s;
    EXPECT_EQ(createScene(file_, 100, "", s), "s102");
    std::vector<std::string> ids, names;
    readSceneList(file_, &ids, &names);
    EXPECT_EQ(ids, (std::vector<std::string>{"s100", "s102"}));  // "S101" is no scene id
    EXPECT_EQ(names.back(), "Scene 2");
}

TEST_F(ScenesTest, RenameUpdateAndDeleteRefuseOrForgetScenesThatAreGone) {
    FilterState s;
    const std::string id = createScene(file_, 7, "First", s);
    ASSERT_EQ(id, "s7");
    std::vector<uint8_t> frame(1280 * 720 * 4, 90);
    ASSERT_TRUE(writeSceneSnapshot(folder_, id, frame.data(), frame.size()));

    EXPECT_TRUE(renameScene(file_, id, "Second"));
    EXPECT_TRUE(renameScene(file_, id, " \t "));  // empty after cleaning: keeps the name
    std::vector<std::string> ids, names;
    readSceneList(file_, &ids, &names);
    EXPECT_EQ(names, std::vector<std::string>{"Second"});

    EXPECT_TRUE(deleteScene(file_, folder_, id));
    EXPECT_FALSE(isRegularFile(folder_ + id + ".bmp"));
    EXPECT_FALSE(renameScene(file_, id, "Third"));
    EXPECT_FALSE(updateScene(file_, id, s));
    FilterState untouched = everyFieldSet();
    EXPECT_FALSE(loadScene(file_, id, paths_, lists_, untouched));
    expectSameLook(untouched, everyFieldSet());
    EXPECT_EQ(readText(file_).find("s7"), std::string::npos);  // nothing brought it back
}

TEST_F(ScenesTest, SnapshotIsAQuarterSizeBottomUpBitmapOfThePreview) {
    std::vector<uint8_t> frame(1280 * 720 * 4);
    for (int y = 0; y < 720; ++y)
        for (int x = 0; x < 1280; ++x) {
            uint8_t* p = &frame[(static_cast<size_t>(y) * 1280 + x) * 4];
            p[0] = static_cast<uint8_t>(x), p[1] = static_cast<uint8_t>(y),
            p[2] = static_cast<uint8_t>(x ^ y);
            p[3] = 255;
        }
    EXPECT_FALSE(writeSceneSnapshot(folder_, "s1", frame.data(), frame.size() - 1));  // no full frame
    EXPECT_FALSE(isRegularFile(folder_ + "s1.bmp"));
    ASSERT_TRUE(writeSceneSnapshot(folder_, "s1", frame.data(), frame.size()));
    const std::string bmp = readText(folder_ + "s1.bmp");
    ASSERT_EQ(bmp.size(), kSnapshotFileBytes);
    const auto u32 = [&](size_t at) {
        uint32_t v = 0;
        for (int i = 3; i >= 0; --i)
            v = v << 8 | static_cast<uint8_t>(bmp[at + i]);
        return v;
    };
    EXPECT_EQ(bmp.substr(0, 2), "BM");
    EXPECT_EQ(u32(2), 172854u);
    EXPECT_EQ(u32(10), 54u);
    EXPECT_EQ(u32(18), 320u);
    EXPECT_EQ(u32(22), 180u);  // positive: bottom-up
    EXPECT_EQ(static_cast<uint8_t>(bmp[28]), 24);
    for (int r : {0, 1, 90, 179})
        for (int c : {0, 1, 160, 319}) {
            const size_t at = 54 + static_cast<size_t>(179 - r) * 960 + static_cast<size_t>(c) * 3;
            const uint8_t* p = &frame[(static_cast<size_t>(4 * r) * 1280 + 4 * c) * 4];
            EXPECT_EQ(static_cast<uint8_t>(bmp[at]), p[0]);
            EXPECT_EQ(static_cast<uint8_t>(bmp[at + 1]), p[1]);
            EXPECT_EQ(static_cast<uint8_t>(bmp[at + 2]), p[2]) << r << "," << c;
        }
}

TEST_F(ScenesTest, HostileFilesAndNamesCannotEscapeOrCorrupt) {
    // Ids that would leave the scenes folder are neither listed nor used for files.
    writeFile("[../../evil]\nname=x\n[s]\n[s123456789012345678901]\n[s5/x]\n[s9]\nname=ok\x01\xff\n");
    std::vector<std::string> ids, names;
    readSceneList(file_, &ids, &names);
    EXPECT_EQ(ids, std::vector<std::string>{"s9"});
    EXPECT_EQ(names, std::vector<std::string>{"ok\xEF\xBF\xBD"});
    std::vector<uint8_t> frame(1280 * 720 * 4);
    EXPECT_FALSE(writeSceneSnapshot(folder_, "../../evil", frame.data(), frame.size()));
    FilterState s;
    EXPECT_FALSE(loadScene(file_, "../../evil", paths_, lists_, s));

    EXPECT_EQ(sanitizeSceneName("a\nb\tc\x7f"
                                "d\xc0\xaf"
                                "e\xed\xa0\x80"),
              "abcd\xEF\xBF\xBD\xEF\xBF\xBD"
              "e\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD");
    EXPECT_EQ(sanitizeSceneName(std::string(300, 'x')).size(), 127u);
    std::string wide;
    for (int i = 0; i < 200; ++i)
        wide += "\xC3\xA9";                           // é
    EXPECT_EQ(sanitizeSceneName(wide).size(), 254u);  // 127 characters, no split character

    // A name with a line break cannot start a section of its own.
    const std::string id = createScene(file_, 1, "x\n[s2]\nface=3", s);
    readSceneList(file_, &ids, &names);
    EXPECT_EQ(ids.size(), 2u);
    EXPECT_EQ(names.back(), "x[s2]face=3");
    EXPECT_EQ(id, "s1");
}

TEST_F(ScenesTest, TheListStopsAtAThousandAndAFullFileTakesNoMore) {
    std::string text;
    for (int i = 0; i < 1005; ++i)
        text += "[s" + std::to_string(i) + "]\n";
    writeFile(text);
    std::vector<std::string> ids, names;
    readSceneList(file_, &ids, &names);
    EXPECT_EQ(ids.size(), kMaxScenes);
    FilterState s;
    EXPECT_EQ(createScene(file_, 5000, "more", s), "");
    EXPECT_EQ(readText(file_), text);
}

TEST_F(ScenesTest, AnOversizedFileIsSetAsideNotLost) {
    writeFile("[s1]\nname=" + std::string(kMaxIniBytes, 'x') + "\n");
    std::vector<std::string> ids, names;
    readSceneList(file_, &ids, &names);
    EXPECT_TRUE(ids.empty());
    FilterState s;
    EXPECT_EQ(createScene(file_, 3, "New", s), "s3");
    EXPECT_GT(readText(file_ + ".too-large").size(), kMaxIniBytes);
    readSceneList(file_, &ids, &names);
    EXPECT_EQ(names, std::vector<std::string>{"New"});
}

TEST_F(ScenesTest, AFailedWriteReportsItAndKeepsTheOldFile) {
    FilterState s;
    ASSERT_EQ(createScene(file_, 1, "Kept", s), "s1");
    const std::string before = readText(file_);
    // A folder in the way of the temporary file makes the write fail (even for root).
    const std::string blocker = file_ + ".tmp-" + std::to_string(getpid());
    ASSERT_EQ(std::system(("mkdir '" + blocker + "'").c_str()), 0);
    EXPECT_EQ(createScene(file_, 2, "Lost", s), "");
    EXPECT_FALSE(renameScene(file_, "s1", "Other"));
    EXPECT_EQ(readText(file_), before);
    std::vector<uint8_t> frame(1280 * 720 * 4);
    const std::string bmpBlocker = folder_ + "s1.bmp.tmp-" + std::to_string(getpid());
    ASSERT_EQ(std::system(("mkdir '" + bmpBlocker + "'").c_str()), 0);
    EXPECT_FALSE(writeSceneSnapshot(folder_, "s1", frame.data(), frame.size()));
}

}  // namespace
}  // namespace qm
