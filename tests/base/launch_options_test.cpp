#include "base/launch_options.h"

#include <gtest/gtest.h>

namespace qm {
namespace {

LaunchOptions parse(std::vector<std::string> args, LaunchSwitches* switches = nullptr) {
    return parseLaunchOptions(args, switches);
}

TEST(LaunchOptions, DefaultsWhenNothingIsGiven) {
    LaunchOptions o = parse({});
    EXPECT_EQ(o.face, kFaceMorvel);
    EXPECT_EQ(o.dumpAt, 60);
    EXPECT_EQ(o.frames, 0);
    EXPECT_EQ(o.look, kLookNone);
    EXPECT_TRUE(o.photoEyes);
    EXPECT_TRUE(o.photoMouth);
    EXPECT_FLOAT_EQ(o.open, -1);
    for (const Fit& fit : o.wearFit)
        EXPECT_EQ(fit, Fit{});
}

TEST(LaunchOptions, FaceAndLookNames) {
    EXPECT_EQ(parse({"--face", "orange"}).face, kFaceOrange);
    EXPECT_EQ(parse({"--face", "banana"}).face, kFaceBanana);
    EXPECT_EQ(parse({"--face", "kitten"}).face, kFaceKitten);
    EXPECT_EQ(parse({"--face", "googly"}).face, kFaceGoogly);
    EXPECT_EQ(parse({"--face", "custom"}).face, kFaceCustom);
    EXPECT_EQ(parse({"--face", "none"}).face, kFaceNone);
    // Unknown face names mean morvel, unknown looks mean none; a missing value is empty text.
    EXPECT_EQ(parse({"--face", "Orange"}).face, kFaceMorvel);
    EXPECT_EQ(parse({"--face", "none", "--face"}).face, kFaceMorvel);
    EXPECT_EQ(parse({"--look", "glam"}).look, kLookGlam);
    EXPECT_EQ(parse({"--look", "natural"}).look, kLookNatural);
    EXPECT_EQ(parse({"--look", "bold"}).look, kLookBold);
    EXPECT_EQ(parse({"--look", "sparkly"}).look, kLookNone);
    EXPECT_EQ(parse({"--look"}).look, kLookNone);
}

TEST(LaunchOptions, NumbersAndTheirFallbacks) {
    EXPECT_NEAR(parse({"--tilt", "90"}).tilt, 1.5707963f, 1e-6);
    EXPECT_EQ(parse({"--frames", "100"}).frames, 100);
    EXPECT_EQ(parse({"--frames", "12abc"}).frames, 12);
    EXPECT_EQ(parse({"--frames", "abc"}).frames, 0);
    EXPECT_EQ(parse({"--frames"}).frames, 0);
    EXPECT_EQ(parse({"--dump-at"}).dumpAt, 0);
    EXPECT_FLOAT_EQ(parse({"--neck", "0.25"}).neck, 0.25f);
    EXPECT_FLOAT_EQ(parse({"--open", "nan"}).open, 0);
    EXPECT_FLOAT_EQ(parse({"--exposure", "inf"}).exposure, 0);
    EXPECT_FLOAT_EQ(parse({"--warmth", "-0.5"}).warmth, -0.5f);
    EXPECT_EQ(parse({"--threads", "99999999999"}).threads, INT32_MAX);
}

TEST(LaunchOptions, ValuesAreConsumedWholeAndLaterOccurrencesWin) {
    // A value is the next argument even when it looks like an option.
    LaunchOptions o = parse({"--camera", "--cpu", "--file", "a.mp4", "--file", "b.mp4"});
    EXPECT_EQ(o.camera, "--cpu");
    EXPECT_FALSE(o.cpu);
    EXPECT_EQ(o.file, "b.mp4");
    // Names compare whole and case-sensitively; unknown arguments are skipped.
    o = parse({"--CPU", "--cpux", "--bogus", "--plain", "--hair", "bob", "--beard", "none"});
    EXPECT_FALSE(o.cpu);
    EXPECT_TRUE(o.plain);
    EXPECT_EQ(o.wear[kWearHair], "bob");
    EXPECT_EQ(o.wear[kWearBeard], "none");
    o = parse({"--my-eyes", "--my-mouth", "--blink", "--bodyless", "--blur", "--masculine", "--software"});
    EXPECT_FALSE(o.photoEyes);
    EXPECT_FALSE(o.photoMouth);
    EXPECT_TRUE(o.blink && o.bodyless && o.blur && o.masculine && o.software);
}

TEST(LaunchOptions, SwitchesOutsideTheRecord) {
    LaunchSwitches s;
    parse({"--no-camera", "--no-engine"}, &s);
    EXPECT_TRUE(s.noCamera);
    EXPECT_TRUE(s.noEngine);
    EXPECT_FALSE(s.headless);  // headless comes only from the raw command line
    EXPECT_FALSE(s.checkCamera);
    parse({"--check-camera"}, &s);
    EXPECT_TRUE(s.checkCamera);
    parse({"--file", "--check-camera"}, &s);
    EXPECT_FALSE(s.checkCamera) << "the value of --file, not a switch";
}

TEST(LaunchOptions, HeadlessIsFoundAnywhereInTheCommandLine) {
    char program[] = "quillmere";
    char glued[] = "xx--headlessyy";
    char* argv[] = {program, glued};
    EXPECT_TRUE(commandLineSelectsHeadless(joinCommandLine(2, argv)));
    EXPECT_TRUE(commandLineSelectsHeadless("quillmere --file a--headless.mp4"));
    EXPECT_FALSE(commandLineSelectsHeadless("quillmere --head less"));
    EXPECT_FALSE(commandLineSelectsHeadless("quillmere --HEADLESS"));
}

}  // namespace
}  // namespace qm
