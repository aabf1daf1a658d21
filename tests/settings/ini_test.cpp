#include "settings/ini.h"
#include "base/log.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <chrono>

#include <cstdlib>
#include <fstream>
#include <sstream>

namespace qm {
namespace {

using test::readText;

TEST(Ini, LookupsAreCaseInsensitiveAndTheFirstDuplicateWins) {
    IniDocument ini = IniDocument::parse(
        "; comment\n"
        "stray=before any section\n"
        "[Quillmere]\n"
        "  Face = 3 \r\n"
        "face=5\n"
        "camera=\"USB Cam\"\n"
        "[quillmere]\n"
        "tab=4\n"
        "[other]\n"
        "key\n"
        "=novalue\n"
        "name='quoted'\n");
    EXPECT_EQ(ini.getInt("QUILLMERE", "FACE", 1), 3);
    EXPECT_EQ(ini.getString("quillmere", "camera", ""), "USB Cam");
    EXPECT_EQ(ini.getInt("quillmere", "tab", 0), 0) << "keys of a duplicate section are not seen";
    EXPECT_EQ(ini.getString("other", "name", ""), "quoted");
    EXPECT_EQ(ini.getString("other", "key", "fallback"), "fallback");
    EXPECT_EQ(ini.getString("missing", "stray", "fallback"), "fallback");
    EXPECT_EQ(ini.sectionNames(), (std::vector<std::string>{"Quillmere", "other"}));
}

TEST(Ini, IntegersTakeTheLeadingDigits) {
    IniDocument ini = IniDocument::parse("[s]\na=12abc\nb=abc\nc=-7\nd=\ne=99999999999999\nf=+4\n");
    EXPECT_EQ(ini.getInt("s", "a", 9), 12);
    EXPECT_EQ(ini.getInt("s", "b", 9), 0);
    EXPECT_EQ(ini.getInt("s", "c", 9), -7);
    EXPECT_EQ(ini.getInt("s", "d", 9), 9) << "an empty value reads as the default";
    EXPECT_EQ(ini.getInt("s", "e", 9), INT32_MAX);
    EXPECT_EQ(ini.getInt("s", "f", 9), 4);
    EXPECT_EQ(ini.getInt("s", "missing", 9), 9);
}

TEST(Ini, LineBreaksOfTheFileAreKept) {
    const std::string windows = "[a]\r\nx=1\r\n\r\r\n[b]\ny=2";
    IniDocument ini = IniDocument::parse(windows);
    EXPECT_EQ(ini.serialize(), windows);
    EXPECT_EQ(ini.getInt("a", "x", 0), 1);
    ini.set("b", "z", "3");
    EXPECT_EQ(ini.serialize(), "[a]\r\nx=1\r\n\r\r\n[b]\ny=2\nz=3\n");
}

TEST(Ini, StringsAreCutToTheirLimitWithoutBreakingCharacters) {
    IniDocument ini = IniDocument::parse("[s]\nname=\xC3\xA9\xC3\xA9\xC3\xA9\n");
    EXPECT_EQ(ini.getString("s", "name", "", 2), "\xC3\xA9\xC3\xA9");
}

TEST(Ini, WritesKeepEverythingElse) {
    const std::string original =
        "; keep me\n[a]\nx=1\n; a comment in a\n\n[B]\ny=2\nunknown line\n[c]\nz=3\n";
    IniDocument ini = IniDocument::parse(original);
    EXPECT_EQ(ini.serialize(), original) << "an untouched document round-trips byte for byte";
    ini.set("A", "X", "10");
    ini.set("a", "new", "4");
    ini.set("b", "y", "  spaced  ");
    ini.set("d", "w", "5");
    EXPECT_EQ(
        ini.serialize(),
        "; keep me\n[a]\nX=10\nnew=4\n; a comment in a\n\n[B]\ny=spaced\nunknown line\n[c]\nz=3\n[d]\nw=5\n");
    ini.removeKey("a", "new");
    ini.removeSection("C");
    EXPECT_EQ(ini.serialize(),
              "; keep me\n[a]\nX=10\n; a comment in a\n\n[B]\ny=spaced\nunknown line\n[d]\nw=5\n");
}

class IniFileTest : public ::testing::Test {
protected:
    test::TempDir temp_;
    std::string path_ = temp_.file("settings.ini");
};

TEST_F(IniFileTest, ProfileFunctionsReadAndWriteKeyByKey) {
    EXPECT_EQ(profileString(path_, "s", "k", "none"), "none") << "a missing file reads as empty";
    EXPECT_TRUE(writeProfileString(path_, "s", "k", "v"));
    EXPECT_TRUE(writeProfileString(path_, "t", "n", "7"));
    EXPECT_EQ(profileString(path_, "S", "K", ""), "v");
    EXPECT_EQ(profileInt(path_, "t", "n", 0), 7);
    EXPECT_EQ(profileSectionNames(path_), (std::vector<std::string>{"s", "t"}));
    EXPECT_TRUE(deleteProfileKey(path_, "s", "k"));
    EXPECT_TRUE(deleteProfileSection(path_, "t"));
    EXPECT_EQ(readText(path_), "[s]\n");
}

TEST_F(IniFileTest, BinaryGarbageIsReadWithoutHarmAndKeptOnWrite) {
    std::string garbage;
    for (int i = 0; i < 4096; ++i)
        garbage += static_cast<char>((i * 131) % 256);
    garbage += "\n[s]\nk=v\n";
    std::ofstream(path_, std::ios::binary) << garbage;
    EXPECT_EQ(profileString(path_, "s", "k", ""), "v");
    EXPECT_TRUE(writeProfileString(path_, "s", "k2", "w"));
    std::string text = readText(path_);
    EXPECT_EQ(text.substr(0, 4096), garbage.substr(0, 4096));
    EXPECT_EQ(profileString(path_, "s", "k2", ""), "w");
}

TEST_F(IniFileTest, OversizedFilesAreSetAsideNotDestroyed) {
    {
        std::ofstream file(path_, std::ios::binary);
        file << "[s]\nk=v\n" << std::string(kMaxIniBytes, 'x');
    }
    setLogPath(path_ + ".log");
    EXPECT_EQ(profileString(path_, "s", "k", "default"), "default");
    setLogPath({});
    EXPECT_NE(readText(path_ + ".log").find("is larger than 4194304 bytes and is not read"),
              std::string::npos);
    EXPECT_TRUE(writeProfileString(path_, "s", "k", "new"));
    EXPECT_EQ(readText(path_), "[s]\nk=new\n");
    EXPECT_GT(readText(path_ + ".too-large").size(), kMaxIniBytes);
}

TEST_F(IniFileTest, ASaveNeverWritesWhatTheNextLoadWouldRefuse) {
    IniDocument ini;
    ini.set("Quillmere", "face", "2");
    ASSERT_TRUE(writeIniFile(path_, ini));
    ini.set("Quillmere", "note", std::string(kMaxIniBytes, 'x'));
    EXPECT_FALSE(writeIniFile(path_, ini));
    EXPECT_EQ(readIniFile(path_).getString("Quillmere", "face", ""), "2");  // the old file stands
}

TEST_F(IniFileTest, AFailedWriteLeavesTheOldFile) {
    ASSERT_TRUE(writeProfileString(path_, "s", "k", "v"));
    // A folder in the way of the temporary file makes the write fail (even for root).
    std::string blocker = path_ + ".tmp-" + std::to_string(getpid());
    ASSERT_EQ(std::system(("mkdir '" + blocker + "'").c_str()), 0);
    EXPECT_FALSE(writeProfileString(path_, "s", "k", "changed"));
    EXPECT_EQ(readText(path_), "[s]\nk=v\n");
}

TEST(Ini, SectionNamesAreListedOnceEachEvenInAHugeFile) {
    std::string text;
    for (int i = 0; i < 100000; ++i)
        text += "[scene" + std::to_string(i) + "]\nname=x\n";
    text += "[SCENE7]\n[Scene99999]\n";
    const auto started = std::chrono::steady_clock::now();
    const std::vector<std::string> names = IniDocument::parse(text).sectionNames();
    EXPECT_EQ(names.size(), 100000u);
    EXPECT_EQ(names[7], "scene7");
    // Listing once took quadratic time (24 s for this file); it must stay far below a start-up's patience.
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
}

TEST(Ini, AByteOrderMarkIsNotPartOfTheFirstSection) {
    IniDocument ini = IniDocument::parse("\xEF\xBB\xBF[Quillmere]\r\nface=2\r\n");
    EXPECT_EQ(ini.getString("Quillmere", "face", ""), "2");
    ini.set("Quillmere", "tab", "3");
    EXPECT_EQ(ini.serialize(), "\xEF\xBB\xBF[Quillmere]\r\nface=2\r\ntab=3\n");  // the mark is kept
}

}  // namespace
}  // namespace qm
