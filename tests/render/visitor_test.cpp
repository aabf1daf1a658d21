// Room visitors drawn: the visitor files users write refused with their log lines, and the built-in
// visitors on a canvas — each shows at once and is gone after its animation, a window visitor stays in
// its area, a ghost and its shadow are drawn at 0.45.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cmath>
#include <fstream>
#include <sstream>

#include "base/failure.h"
#include "base/log.h"
#include "render/visitor_painter.h"
#include "settings/libraries.h"
#include "test_files.h"
#include "tests/support/temp_dir.h"

namespace qm {
namespace {

using test::readText;
using testing::writeSheet;
using testing::writeText;

TEST(VisitorFiles, BadFilesGiveTheirLogLinesAndNoVisitor) {
    installFailureCallback(logFailure);
    const std::string folder = testing::temporaryFolder();
    const std::string log = folder + "test.log";
    setLogPath(log);
    const std::string good =
        R"({"frameW": 10, "frameH": 10, "cols": 4, "count": 6, "glide": 2, "box": [0, 10]})";
    struct Case {
        const char* name;
        std::string json;
        int sheetW, sheetH;
        const char* line;
    };
    const Case cases[] = {
        {"ok", good, 40, 20, "visitor ok: 6 frames, 10 x 10, glides"},
        {"absent", "", 40, 20, "visitor absent: no json"},
        {"empty", "", 40, 20, "visitor empty: cannot read it"},
        {"nuls", std::string(4096, '\0'), 40, 20, "visitor nuls: cannot read it"},
        {"truncated", R"({"frameW": 10, "frameH": 10, "cou)", 40, 20, "visitor truncated: cannot read it"},
        {"inf", R"({"frameW": 1e400, "frameH": 10, "count": 6})", 40, 20, "visitor inf: cannot read it"},
        {"nan", R"({"frameW": nan, "frameH": 10, "count": 6})", 40, 20, "visitor nan: cannot read it"},
        {"huge", R"({"frameW": 100000, "frameH": 100000, "count": 1})", 40, 20,
         "visitor huge: cannot read it"},
        {"many", R"({"frameW": 1, "frameH": 1, "count": 5000, "cols": 100})", 100, 50,
         "visitor many: cannot read it"},
        {"small", R"({"frameW": 10, "frameH": 10, "cols": 4, "count": 6})", 40, 10,
         "visitor small: cannot read it"},
        {"nosheet", good, 0, 0, "visitor nosheet: cannot read it"},
        {"notpicture", good, -1, 0, "visitor notpicture: cannot read it"},
        {"long", std::string(2 << 20, ' ') + good, 40, 20, "visitor long: no json"},
    };
    for (const Case& c : cases) {
        if (std::string(c.name) != "absent") writeText(folder + "visitor_" + c.name + ".json", c.json);
        if (c.sheetW > 0) writeSheet(folder + "visitor_" + c.name + ".png", c.sheetW, c.sheetH);
        if (c.sheetW < 0) writeText(folder + "visitor_" + c.name + ".png", std::string(100, '\0'));
        VisitorPainter painter;
        painter.choose(folder, c.name);
        EXPECT_EQ(painter.waitUntilLoaded(), std::string(c.name) == "ok") << c.name;
        EXPECT_NE(readText(log).find(c.line), std::string::npos) << c.line;
    }
    // A pipe in the file's place is refused at once rather than read until a writer comes.
    ASSERT_EQ(mkfifo((folder + "visitor_pipe.json").c_str(), 0600), 0);
    VisitorPainter painter;
    painter.choose(folder, "pipe");
    EXPECT_FALSE(painter.waitUntilLoaded());
    EXPECT_NE(readText(log).find("visitor pipe: no json"), std::string::npos);
    setLogPath("");
}

class VisitorDrawTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        graphics = new Graphics;
        ASSERT_EQ(initialiseGraphics(*graphics, GraphicsOptions{}), kOk);
        ASSERT_EQ(createSourceBitmap(*graphics, 1280, 720), kOk);
    }
    static void TearDownTestSuite() { delete graphics; }

    // Draws one frame over a plain grey room and reads the canvas back.
    void draw(VisitorPainter& painter, const FrameFilters& filters, double timeMs) {
        cairo_t* cr = graphics->cr.get();
        cairo_identity_matrix(cr);
        cairo_set_source_rgb(cr, 0.5, 0.5, 0.5);
        cairo_paint(cr);
        painter.draw(*graphics, filters, timeMs);
        canvas.resize(1280 * 720 * 4);
        readCanvas(*graphics, canvas.data());
    }
    int changedPixels() const {
        int changed = 0;
        for (size_t i = 0; i < canvas.size(); i += 4)
            changed += std::abs(canvas[i] - grey) > 2;
        return changed;
    }
    const uint8_t* at(int x, int y) const { return &canvas[(static_cast<size_t>(y) * 1280 + x) * 4]; }

    static Graphics* graphics;
    std::vector<uint8_t> canvas;
    int grey = 128;
};
Graphics* VisitorDrawTest::graphics = nullptr;

TEST_F(VisitorDrawTest, EachVisitorShowsAtOnceAndIsGoneAfterItsAnimation) {
    VisitorPainter idle;
    draw(idle, FrameFilters{}, 0);  // nothing loaded: the room as it was
    grey = canvas[0];
    const std::vector<std::string> names = listVisitors(graphics->assetFolder);
    ASSERT_GE(names.size(), 5u);
    for (const std::string& name : names) {
        VisitorPainter painter;
        painter.choose(graphics->assetFolder, name);
        ASSERT_TRUE(painter.waitUntilLoaded()) << name;
        FrameFilters filters;
        filters.visitor = name;
        filters.visitorEvery = 6;
        draw(painter, filters, 1000);  // the schedule starts at the first drawn frame
        EXPECT_TRUE(painter.lastPlacement().visible) << name;
        int framesSeen = 0, lastSeen = -1;
        for (int k = 1; k < 60; ++k) {
            draw(painter, filters, 1000 + k * 100);
            if (changedPixels() > 500) ++framesSeen, lastSeen = k;
        }
        EXPECT_GE(framesSeen, 10) << name;
        EXPECT_LT(lastSeen, 50) << name;  // every animation ends within 5 s, before the next at 6 s
        // "Send now" brings it back on the next frame.
        painter.restart();
        draw(painter, filters, 20000);
        EXPECT_TRUE(painter.lastPlacement().visible) << name;
        EXPECT_EQ(painter.lastPlacement().frame, 0) << name;
    }
}

TEST_F(VisitorDrawTest, WindowVisitorStaysInItsAreaGhostAndShadowAtHalfStrength) {
    VisitorPainter giraffe;
    giraffe.choose(graphics->assetFolder, "giraffe");
    ASSERT_TRUE(giraffe.waitUntilLoaded());
    grey = 128;
    for (const Fit& fit : {Fit{1, 0, 0, 0}, Fit{2.5f, 0.6f, 0.5f, 0}, Fit{0.3f, -0.6f, -0.5f, 0}}) {
        FrameFilters filters;
        filters.visitorFit = fit;
        for (int k = 0; k < 40; k += 3) {
            draw(giraffe, filters, k * 100.0);
            const VisitorPlacement& p = giraffe.lastPlacement();
            ASSERT_TRUE(p.visible && p.clipped);
            for (int y = 0; y < 720; y += 2)
                for (int x = 0; x < 1280; x += 2) {
                    const bool inside =
                        x >= p.clipLeft - 1 && x <= p.clipRight && y >= p.clipTop - 1 && y <= p.clipBottom;
                    if (!inside) {
                        ASSERT_LE(std::abs(at(x, y)[0] - grey), 2) << x << "," << y;
                    }
                }
        }
    }

    // The cat mid-room, opaque and as a ghost: its fur and its shadow change the room 0.45 as much.
    VisitorPainter cat;
    cat.choose(graphics->assetFolder, "cat");
    ASSERT_TRUE(cat.waitUntilLoaded());
    FrameFilters filters;
    draw(cat, filters, 0);
    draw(cat, filters, 2000);
    const VisitorPlacement p = cat.lastPlacement();
    ASSERT_TRUE(p.visible && p.shadow);
    const std::vector<uint8_t> opaque = canvas;
    filters.ghost = true;
    cat.restart();
    draw(cat, filters, 0);
    draw(cat, filters, 2000);
    int compared = 0;
    // Above the shadow: over it, the ghost's fur blends with a lighter shadow.
    const size_t aboveShadow = static_cast<size_t>(p.shadowY - p.shadowRy - 2) * 1280 * 4;
    for (size_t i = 0; i < aboveShadow; i += 4 * 7) {
        const int full = opaque[i + 2] - grey, ghost = canvas[i + 2] - grey;
        if (std::abs(full) < 60) continue;
        EXPECT_NEAR(ghost, 0.45 * full, 4 + 0.05 * std::abs(full));
        ++compared;
    }
    EXPECT_GT(compared, 100);
    const int sx = static_cast<int>(p.shadowX), sy = static_cast<int>(p.shadowY + 0.6 * p.shadowRy);
    const int fullShadow = grey - opaque[(static_cast<size_t>(sy) * 1280 + sx) * 4];
    const int ghostShadow = grey - at(sx, sy)[0];
    EXPECT_GT(fullShadow, 10);
    EXPECT_NEAR(ghostShadow, 0.45 * fullShadow, 2);
}

}  // namespace
}  // namespace qm
