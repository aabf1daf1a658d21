#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "base/launch_options.h"
#include "platform/paths.h"
#include "settings/ini.h"
#include "settings/libraries.h"
#include "settings/settings_file.h"
#include "tests/support/temp_dir.h"

namespace qm {
namespace {

using test::readText;

class SettingsTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string dir = temp_.folder();
        paths_.folder = dir + "Quillmere/";
        paths_.settingsFile = paths_.folder + "settings.ini";
        paths_.assetDir = dir + "bin/";
        ASSERT_TRUE(ensureDirectory(paths_.folder) && ensureDirectory(paths_.assetDir));
    }
    void writeSettings(const std::string& text) { std::ofstream(paths_.settingsFile) << text; }
    void touch(const std::string& path) { std::ofstream(path) << "x"; }
    FilterState load(LaunchOptions& options) {
        FilterState state;
        loadSettings(paths_, state, lists_, options);
        return state;
    }
    FilterState load() {
        LaunchOptions options;
        return load(options);
    }

    test::TempDir temp_;
    SettingsPaths paths_;
    SettingsLists lists_;
};

TEST_F(SettingsTest, MissingFileGivesDefaults) {
    LaunchOptions options;
    FilterState state = load(options);
    FilterState defaults;
    EXPECT_EQ(state.face, defaults.face);
    EXPECT_TRUE(state.filters && state.mirror);
    EXPECT_EQ(state.background, "none");
    EXPECT_FLOAT_EQ(state.visitorEvery, 15);
    EXPECT_FLOAT_EQ(state.strength, 1);
    EXPECT_FLOAT_EQ(state.head, 1);
    EXPECT_EQ(state.faceFit, Fit{});
    EXPECT_EQ(options.face, kFaceMorvel);
}

TEST_F(SettingsTest, NumbersAreClamped) {
    writeSettings(
        "[quillmere]\nface=9\ntab=-3\n[visitor]\nevery=2\n[look]\nlook=7\nstrength=9\n[body]\nhead=0.1\n");
    FilterState state = load();
    EXPECT_EQ(state.face, kFaceNone) << "face 9 clamps to 6, which without a photo becomes none";
    EXPECT_EQ(state.tab, 0);
    EXPECT_FLOAT_EQ(state.visitorEvery, 6);
    EXPECT_EQ(state.look, 3);
    EXPECT_FLOAT_EQ(state.strength, 1.5f);
    EXPECT_FLOAT_EQ(state.head, 0.6f);
    writeSettings("[quillmere]\nface=-1\ntab=9\n[visitor]\nevery=500\n[body]\nhead=7\n");
    state = load();
    EXPECT_EQ(state.face, 0);
    EXPECT_EQ(state.tab, 4);
    EXPECT_FLOAT_EQ(state.visitorEvery, 120);
    EXPECT_FLOAT_EQ(state.head, 1.6f);
}

TEST_F(SettingsTest, CustomFaceNeedsAListedPhoto) {
    std::string faces = paths_.folder + "faces/";
    ensureDirectory(faces);
    touch(faces + "me.jpg");
    touch(faces + "me.jpg.cut.png");
    writeSettings("[quillmere]\nface=6\nface_id=me.jpg\n[face.me.jpg]\nfit=0.5 -0.4 40 2 -2 1.5 0 7\n");
    FilterState state = load();
    EXPECT_EQ(state.face, 6);
    EXPECT_EQ(state.faceId, "me.jpg");
    EXPECT_EQ(lists_.faceIds, (std::vector<std::string>{"me.jpg"}));
    EXPECT_EQ(state.photoFit, (PhotoFit{0.25f, -0.25f, 25, 1, -1, 1, false, true}));

    writeSettings("[quillmere]\nface=6\nface_id=gone.jpg\n");
    state = load();
    EXPECT_EQ(state.face, 0);
    EXPECT_EQ(state.faceId, "");
}

TEST_F(SettingsTest, PhotoFitNeedsAllEightValues) {
    IniDocument ini =
        IniDocument::parse("[face.a]\nfit=0.1 0.1 5 0 0 0 1\n[face.b]\nfit=0.1 nan 5 0 0 0 1 1\n");
    EXPECT_EQ(readPhotoFit(ini, "a"), PhotoFit{});
    EXPECT_EQ(readPhotoFit(ini, "b"), PhotoFit{});
    PhotoFit fit{0.1234f, -0.1f, 12.345f, 0.5f, -0.5f, 0.25f, true, false};
    writePhotoFit(ini, "c", fit);
    EXPECT_EQ(ini.getString("face.c", "fit", ""), "0.123 -0.100 12.35 0.500 -0.500 0.250 1 0");
}

TEST_F(SettingsTest, FitValuesNeedFourNumbersAndASaneScale) {
    writeSettings(
        "[quillmere]\nface_fit=0.1 0 0 0\n[visitor]\nfit=1.5 0.2 -0.1 0\n[body]\ntorso_fit=1 2\n"
        "[wear]\nhat_fit=3.5 0 0 0\nglasses_fit=1.2 0.01 0.02 0.3\nbeard_fit=inf 0 0 0\n");
    FilterState state = load();
    EXPECT_EQ(state.faceFit, Fit{}) << "scale below 0.2 is ignored";
    EXPECT_EQ(state.visitorFit, (Fit{1.5f, 0.2f, -0.1f, 0}));
    EXPECT_EQ(state.torsoFit, Fit{});
    EXPECT_EQ(state.wearFit[kWearHat], Fit{});
    EXPECT_EQ(state.wearFit[kWearGlasses], (Fit{1.2f, 0.01f, 0.02f, 0.3f}));
    EXPECT_EQ(state.wearFit[kWearBeard], Fit{});
}

TEST_F(SettingsTest, NamesThatNoLongerExistAreCleared) {
    ensureDirectory(paths_.folder + "backgrounds/");
    touch(paths_.folder + "backgrounds/beach.jpg");
    touch(paths_.assetDir + "torso_suit.json");
    touch(paths_.assetDir + "visitor_hot_air_balloon.json");
    writeSettings("[background]\nselected=beach.jpg\n[visitor]\nname=hot_air_balloon\n[body]\ntorso=suit\n");
    FilterState state = load();
    EXPECT_EQ(state.background, "beach.jpg");
    EXPECT_EQ(state.visitor, "hot_air_balloon");
    EXPECT_EQ(state.torso, "suit");
    EXPECT_EQ(lists_.visitorNames, (std::vector<std::string>{"Hot Air Balloon"}));
    EXPECT_EQ(lists_.torsos, (std::vector<std::string>{"suit"}));

    writeSettings("[background]\nselected=mountain.jpg\n[visitor]\nname=ghost\n[body]\ntorso=dress\n");
    state = load();
    EXPECT_EQ(state.background, "none");
    EXPECT_EQ(state.visitor, "");
    EXPECT_EQ(state.torso, "");
    writeSettings("[background]\nselected=blur\n");
    EXPECT_EQ(load().background, "blur");
}

TEST_F(SettingsTest, CommandLineMergesBothWays) {
    writeSettings(
        "[quillmere]\nface=3\ncamera=Stored Cam\n[look]\nlook=1\nmasculine=1\n"
        "[wear]\nhair=bob\nhat=cap\nglasses_fit=1.1 0 0 0\n");
    LaunchOptions options = parseLaunchOptions({"--face", "kitten", "--look", "glam", "--hair", "none",
                                                "--hat", "crown", "--bodyless", "--torso", "suit"});
    FilterState state = load(options);
    EXPECT_EQ(state.face, kFaceBanana);
    EXPECT_EQ(options.face, kFaceBanana) << "the stored face wins over --face";
    EXPECT_EQ(state.look, kLookGlam);
    EXPECT_FALSE(state.masculine) << "--look brings the command line's masculine flag";
    EXPECT_EQ(state.wear[kWearHair], "");
    EXPECT_EQ(state.wear[kWearHat], "crown");
    EXPECT_EQ(options.wear[kWearHat], "crown");
    EXPECT_EQ(options.wearFit[kWearGlasses], (Fit{1.1f, 0, 0, 0}));
    EXPECT_TRUE(state.bodyless && options.bodyless);
    EXPECT_EQ(state.torso, "suit") << "a command-line torso replaces the stored one";
    EXPECT_EQ(options.camera, "Stored Cam");

    options = parseLaunchOptions({"--camera", "Other"});
    state = load(options);
    EXPECT_EQ(state.look, kLookNatural);
    EXPECT_TRUE(options.masculine) << "without --look the stored look and flag reach the launch record";
    EXPECT_EQ(options.camera, "Other");
    EXPECT_EQ(state.camera, "Stored Cam");
}

TEST_F(SettingsTest, KittenAndBaldDecideTheEffectiveWear) {
    FilterState state;
    state.wear[kWearHair] = "bald";
    state.wear[kWearHat] = "cap";
    state.face = kFaceMorvel;
    EXPECT_EQ(effectiveWearItem(state, kWearHair), "");
    EXPECT_EQ(effectiveWearItem(state, kWearHat), "cap");
    state.face = kFaceNone;
    EXPECT_EQ(effectiveWearItem(state, kWearHair), "bald");
    state.face = kFaceKitten;
    for (int slot = 0; slot < kWearSlots; ++slot)
        EXPECT_EQ(effectiveWearItem(state, slot), "");
}

TEST_F(SettingsTest, SaveWritesTheFixedLayoutAndRoundTrips) {
    ensureDirectory(paths_.folder + "faces/");
    touch(paths_.folder + "faces/me.png");
    ensureDirectory(paths_.folder + "backgrounds/");
    touch(paths_.folder + "backgrounds/sea.png");
    touch(paths_.assetDir + "visitor_cat.json");
    touch(paths_.assetDir + "torso_suit.json");
    FilterState state;
    state.face = 6;
    state.filters = false;
    state.camera = "Cam";
    state.tab = 2;
    state.mirror = false;
    state.faceFit = {1.25f, 0.1f, -0.2f, 0};
    state.faceId = "me.png";
    state.photoFit = {0.1f, 0.2f, 10.5f, 0.3f, -0.3f, 0.5f, false, true};
    state.background = "sea.png";
    state.visitor = "cat";
    state.visitorFit = {0.5f, 0, 0, 0};
    state.visitorEvery = 30;
    state.ghost = true;
    state.look = 2;
    state.masculine = true;
    state.strength = 0.75f;
    state.torso = "suit";
    state.bodyless = true;
    state.head = 1.2f;
    state.wear[kWearGlasses] = "round";
    state.wearFit[kWearGlasses] = {1, 0, 0, 0.5f};
    ASSERT_TRUE(saveSettings(paths_, state));
    EXPECT_EQ(
        readText(paths_.settingsFile),
        "[quillmere]\nface=6\nfilters=0\ncamera=Cam\ntab=2\nmirror=0\nface_fit=1.250 0.100 -0.200 0.000\n"
        "face_id=me.png\n[face.me.png]\nfit=0.100 0.200 10.50 0.300 -0.300 0.500 0 1\n"
        "[background]\nselected=sea.png\n"
        "[visitor]\nname=cat\nfit=0.500 0.000 0.000 0.000\nevery=30.000000\nghost=1\n"
        "[look]\nlook=2\nmasculine=1\nstrength=0.750000\n"
        "[body]\ntorso=suit\ntorso_fit=1.000 0.000 0.000 0.000\nbodyless=1\nhead=1.200000\n"
        "[wear]\nhair=\nhair_fit=1.000 0.000 0.000 0.000\nhat=\nhat_fit=1.000 0.000 0.000 0.000\n"
        "glasses=round\nglasses_fit=1.000 0.000 0.000 0.500\nbeard=\nbeard_fit=1.000 0.000 0.000 0.000\n");
    LaunchOptions options;
    FilterState loaded = load(options);
    EXPECT_EQ(loaded.face, 6);
    EXPECT_EQ(loaded.faceId, "me.png");
    EXPECT_EQ(loaded.photoFit, state.photoFit);
    EXPECT_EQ(loaded.background, "sea.png");
    EXPECT_EQ(loaded.visitor, "cat");
    EXPECT_TRUE(loaded.ghost && loaded.bodyless && loaded.masculine);
    EXPECT_FLOAT_EQ(loaded.head, 1.2f);
    EXPECT_EQ(loaded.wearFit[kWearGlasses], state.wearFit[kWearGlasses]);

    // Other keys and sections survive a save.
    std::ofstream(paths_.settingsFile, std::ios::app) << "[mine]\nkeep=yes\n";
    ASSERT_TRUE(saveSettings(paths_, loaded));
    EXPECT_EQ(profileString(paths_.settingsFile, "mine", "keep", ""), "yes");
}

TEST_F(SettingsTest, HostileFilesStillLoad) {
    std::string text = "[quillmere]\n";
    for (int i = 0; i < 2000; ++i)
        text += "[quillmere]\nface=" + std::to_string(i % 9) + "\n";
    text += std::string(1000, '\0') + "\n[look]\nstrength=1e999\n[visitor]\nevery=-nan\n";
    writeSettings(text);
    FilterState state = load();
    EXPECT_EQ(state.face, 1) << "the first duplicate face wins... of the first section, which has none";
    EXPECT_FLOAT_EQ(state.strength, 0) << "a number that is not finite reads as 0, then clamps";
    EXPECT_FLOAT_EQ(state.visitorEvery, 6);
}

TEST(SettingsForLaunch, ATooLargeFileIsReportedKeptAsideAndNotReportedAgain) {
    test::TempDir temp;
    std::string saved = std::getenv("XDG_CONFIG_HOME") ? std::getenv("XDG_CONFIG_HOME") : "";
    setenv("XDG_CONFIG_HOME", temp.folder().c_str(), 1);
    ASSERT_TRUE(ensureDirectory(temp.folder() + "Quillmere/"));
    std::string file = temp.folder() + "Quillmere/settings.ini";
    std::ofstream(file) << "[quillmere]\nface=3\n" << std::string(kMaxIniBytes, ';') << "\n";

    LaunchOptions options;
    loadSettingsForLaunch(options);
    WindowSettings& settings = windowSettings();
    EXPECT_NE(settings.startNotice.find("too large"), std::string::npos);
    EXPECT_EQ(settings.state.face, kFaceMorvel) << "the defaults are on";

    ASSERT_TRUE(saveSettings(settings.paths, settings.state));
    EXPECT_GT(readText(file + ".too-large").size(), kMaxIniBytes) << "the user's file is kept";
    loadSettingsForLaunch(options);
    EXPECT_EQ(settings.startNotice, "");

    if (saved.empty())
        unsetenv("XDG_CONFIG_HOME");
    else
        setenv("XDG_CONFIG_HOME", saved.c_str(), 1);
}

TEST(Libraries, ListsFollowTheFolderRules) {
    test::TempDir temp;
    std::string dir = temp.folder();
    for (const char* name : {"b.jpg", "a.png", "a.png.cut.png", "cut.png", "x.cut.png", "torso_suit.json",
                             "torso_.json", "visitor_zebra.json", "visitor_cat.json", "torso_dress.json"})
        std::ofstream(dir + name) << "x";
    ensureDirectory(dir + "folder.jpg/");
    EXPECT_EQ(listFaces(dir),
              (std::vector<std::string>{"a.png", "b.jpg", "cut.png", "torso_.json", "torso_dress.json",
                                        "torso_suit.json", "visitor_cat.json", "visitor_zebra.json"}));
    EXPECT_EQ(listTorsos(dir), (std::vector<std::string>{"dress", "suit"}));
    EXPECT_EQ(listVisitors(dir), (std::vector<std::string>{"cat", "zebra"}));
    EXPECT_EQ(listBackgrounds(""), std::vector<std::string>{});
    EXPECT_EQ(visitorDisplayName("hot_air_balloon"), "Hot Air Balloon");
    EXPECT_EQ(visitorDisplayName("_x__y"), " X  Y");
}

// Adding a photo copies it under a free name; removing it deletes exactly the photo, its cut-out and its
// section, never a neighbour or anything outside the folder.
TEST(Libraries, FacesAreAddedAsNumberedCopiesAndRemovedWithWhatBelongsToThem) {
    test::TempDir temp;
    const std::string faces = temp.folder() + "faces/";
    const std::string source = temp.file("a.png");
    std::ofstream(source) << "picture";
    std::string error;
    EXPECT_EQ(addFace(faces, source, &error), "a.png");
    EXPECT_EQ(addFace(faces, source, &error), "a 2.png");
    std::ofstream(faces + "a 3.png.cut.png") << "an orphaned cut-out keeps its name taken";
    EXPECT_EQ(addFace(faces, source, &error), "a 4.png");
    const std::string cutLooking = temp.file("x.cut.png");
    std::ofstream(cutLooking) << "picture";
    EXPECT_EQ(addFace(faces, cutLooking, &error), "x.cut 2.png") << "listed, not taken for a cut-out";
    EXPECT_EQ(listFaces(faces), (std::vector<std::string>{"a 2.png", "a 4.png", "a.png", "x.cut 2.png"}));
    std::ifstream copy(faces + "a 2.png");
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(copy), {}), "picture");

    // Pictures that can't be added say why and leave nothing behind.
    EXPECT_EQ(addFace(faces, temp.file("gone.png"), &error), "");
    EXPECT_EQ(error, "the picture cannot be read");
    EXPECT_EQ(addFace(faces, temp.path(), &error), "") << "a folder";
    std::ofstream(temp.file("file")) << "x";
    EXPECT_EQ(addFace(temp.file("file") + "/faces/", source, &error), "");
    EXPECT_EQ(error, "the faces folder cannot be made");
    EXPECT_EQ(listFaces(faces).size(), 4u);
    // Numbered names end at 99: then the copy is refused.
    const std::string busy = temp.file("b.png");
    std::ofstream(busy) << "picture";
    for (int i = 1; i <= 99; ++i)
        ASSERT_EQ(addFace(faces, busy, &error), i == 1 ? "b.png" : "b " + std::to_string(i) + ".png");
    EXPECT_EQ(addFace(faces, busy, &error), "");
    IniDocument none;
    for (int i = 1; i <= 99; ++i)
        removeFace(faces, none, i == 1 ? "b.png" : "b " + std::to_string(i) + ".png");

    IniDocument settings;
    writePhotoFit(settings, "a.png", PhotoFit{0.1f, 0, 5, 0, 0, 0.5f, false, true});
    writePhotoFit(settings, "a 2.png", PhotoFit{0.2f, 0, 0, 0, 0, 0, true, true});
    std::ofstream(faces + "a.png.cut.png") << "cut";
    std::ofstream(temp.file("outside.png")) << "x";
    EXPECT_TRUE(removeFace(faces, settings, "a.png"));
    EXPECT_EQ(listFaces(faces), (std::vector<std::string>{"a 2.png", "a 4.png", "x.cut 2.png"}));
    EXPECT_FALSE(isRegularFile(faces + "a.png.cut.png"));
    EXPECT_EQ(readPhotoFit(settings, "a.png"), PhotoFit{});
    EXPECT_FLOAT_EQ(readPhotoFit(settings, "a 2.png").x, 0.2f) << "a neighbour's section stays";
    // Hostile ids delete nothing.
    for (const char* id : {"", ".", "..", "../outside.png", "a 2.png/", "x]\n[face.a 4.png"})
        EXPECT_FALSE(removeFace(faces, settings, id)) << id;
    EXPECT_TRUE(isRegularFile(temp.file("outside.png")));
    EXPECT_EQ(listFaces(faces).size(), 3u);
    EXPECT_TRUE(removeFace(faces, settings, "a.png")) << "a photo already gone is fine";
}

}  // namespace
}  // namespace qm
