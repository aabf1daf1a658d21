// The lookups as the loaders use them: keys anywhere, defaults when missing, blocks by matching brackets,
// and the hostile texts users' own files may hold.
#include "extras/json_lookup.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

namespace qm {
namespace {

TEST(JsonLookup, NumbersFlagsAndBlocks) {
    const std::string text = R"({"frameW": 256, "name": "word", "glide": true, "slow": false,
        "quoted": "true", "head": {"x": 10, "eye": {"x": 20}}, "list": [1, 2.5, -3]})";
    EXPECT_EQ(jsonNumber(text, "frameW", 9), 256);
    EXPECT_EQ(jsonNumber(text, "frameH", 9), 9);  // missing: the default
    EXPECT_EQ(jsonNumber(text, "name", 9), 0);    // a quoted word converts to nothing
    EXPECT_TRUE(jsonFlag(text, "glide"));
    EXPECT_FALSE(jsonFlag(text, "slow"));
    EXPECT_FALSE(jsonFlag(text, "quoted"));
    EXPECT_FALSE(jsonFlag(text, "missing"));
    EXPECT_EQ(jsonBlock(text, "head", '{', '}'), R"("x": 10, "eye": {"x": 20})");
    EXPECT_EQ(jsonNumbers(jsonBlock(text, "list", '[', ']')), (std::vector<double>{1, 2.5, -3}));
    // Keys are found at any depth: the first "x" of the document is the head's; a nested one needs its
    // section.
    EXPECT_EQ(jsonNumber(text, "x", 0), 10);
    EXPECT_EQ(jsonNumber(jsonBlock(text, "eye", '{', '}'), "x", 0), 20);
}

TEST(JsonLookup, OddNumbersAndBrokenTexts) {
    // strtod's rules, whatever the locale: overflow to infinity, signed zero, nan, white space first.
    EXPECT_TRUE(std::isinf(jsonNumber(R"("a": 1e400)", "a", 0)));
    const double zero = jsonNumber(R"("a": -0)", "a", 5);
    EXPECT_EQ(zero, 0);
    EXPECT_TRUE(std::signbit(zero));
    EXPECT_TRUE(std::isnan(jsonNumber(R"("a": nan)", "a", 0)));
    EXPECT_EQ(jsonNumber("\"a\":\n\t 2.5e1x", "a", 0), 25);
    // Lone minus signs and words are skipped; a number cut by the end of the text still counts.
    EXPECT_EQ(jsonNumbers("- -x 4-5 7"), (std::vector<double>{4, -5, 7}));
    EXPECT_EQ(jsonNumbers("[1, 2"), (std::vector<double>{1, 2}));
    // Truncated and unmatched texts give the defaults or nothing.
    EXPECT_EQ(jsonBlock(R"({"clips": {"idle": 3)", "clips", '{', '}'), "");
    EXPECT_EQ(jsonNumber(R"({"frameW)", "frameW", 4), 4);
    EXPECT_EQ(jsonNumber(R"("frameW")", "frameW", 4), 4);  // no colon
    EXPECT_FALSE(jsonFlag(R"("glide":)", "glide"));
    EXPECT_EQ(jsonNumbers(""), std::vector<double>{});
    // NUL bytes are ordinary characters: nothing stops at them.
    const std::string nuls("\0\"k\"\0:\0\"n\": 12\0", 15);
    EXPECT_EQ(jsonNumber(nuls, "n", 0), 12);
    EXPECT_EQ(jsonNumber(nuls, "k", 3), 0);
    // A number longer than any real one still converts and is passed over whole.
    const std::string longNumber = "\"a\": 1" + std::string(5000, '0') + " 7";
    EXPECT_TRUE(std::isinf(jsonNumber(longNumber, "a", 0)));
    EXPECT_EQ(jsonNumbers(longNumber).size(), 2u);
}

}  // namespace
}  // namespace qm
