// The row helper deals a loop's rows out to two threads: every row exactly once, whatever the helper is
// doing when the loop comes (spinning, asleep, told to rest), and the caller never waits on a helper that
// has not started.
#include "base/row_helper.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

namespace qm {
namespace {

TEST(RowHelper, EveryRowOnceOnEitherThreadWhateverTheHelperIsDoing) {
    RowHelper helper;
    std::vector<int> visits(4000);
    std::vector<int> partOf(4000);
    int helperRows = 0;
    for (int loop = 0; loop < 600; ++loop) {
        const int begin = loop % 7, end = begin + 1 + (loop * 37) % 3990;
        const int band = 1 + loop % 11;
        if (loop % 50 == 10) helper.rest();
        if (loop % 50 == 20) std::this_thread::sleep_for(std::chrono::milliseconds(3));  // asleep
        if (loop % 50 == 30) helper.wake();
        std::fill(visits.begin(), visits.end(), 0);
        helper.shareRows(begin, end, band, [&](int from, int to, int part) {
            ASSERT_LE(from, to);
            ASSERT_LE(to - from, band);
            for (int y = from; y < to; ++y) {
                ++visits[y];
                partOf[y] = part;
            }
            // Now and then the caller's bands are slow, so the helper surely gets some: with bands this
            // quick a busy machine could otherwise let the caller take every one.
            if (loop % 50 == 40 && part == 0) {
                const auto until = std::chrono::steady_clock::now() + std::chrono::microseconds(20);
                while (std::chrono::steady_clock::now() < until) {
                }
            }
        });
        for (int y = 0; y < 4000; ++y) {
            ASSERT_EQ(visits[y], y >= begin && y < end ? 1 : 0) << "loop " << loop << " row " << y;
            if (y >= begin && y < end) helperRows += partOf[y];
        }
    }
    EXPECT_GT(helperRows, 0) << "the helper never took a band";
}

TEST(RowHelper, ForRowsSharesOnlyLargeLoopsAndOnlyWhenTheThreadShares) {
    auto parts = [](int rows, int64_t pixelsPerRow) {
        std::atomic<int> seen{0};
        std::vector<char> done(rows, 0);
        forRows(0, rows, pixelsPerRow, [&](int from, int to, int part) {
            // Slow enough bands that the helper gets some of a large loop.
            for (int y = from; y < to; ++y) {
                done[y] = 1;
                const auto until = std::chrono::steady_clock::now() + std::chrono::microseconds(20);
                while (std::chrono::steady_clock::now() < until) {
                }
            }
            seen.fetch_or(part ? 2 : 1);
        });
        for (char d : done)
            EXPECT_EQ(d, 1);
        return seen.load();
    };
    EXPECT_EQ(parts(400, 1000), 1) << "no helper: everything here";
    RowHelper helper;
    EXPECT_EQ(shareRowsWith(&helper), nullptr);
    EXPECT_EQ(parts(10, 10), 1) << "a small loop stays here";
    int both = 0;
    for (int i = 0; i < 20 && both != 3; ++i)
        both = parts(400, 1000);
    EXPECT_EQ(both, 3) << "a large loop is shared";
    EXPECT_EQ(shareRowsWith(nullptr), &helper);
    EXPECT_EQ(parts(400, 1000), 1);
}

}  // namespace
}  // namespace qm
