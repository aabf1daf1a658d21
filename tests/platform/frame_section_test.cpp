// The frame section's protocol between its two sides: readiness only for the owner's published section,
// a concurrent reader that never gets a torn or an older frame, and a pacing reader that sees every frame.
#include "platform/frame_section.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

namespace qm {
namespace {

TEST(FrameSection, ReadyOnlyOncePublishedWithItsOwnersId) {
    const std::string name = "/qmtest-ready-" + std::to_string(getpid());
    EXPECT_FALSE(frameSectionReady(name, getpid()));
    FrameSection section;
    int error = 0;
    ASSERT_TRUE(section.create(name, &error)) << error;
    EXPECT_FALSE(frameSectionReady(name, getpid()));  // no magic yet
    section.publish();
    EXPECT_TRUE(frameSectionReady(name, getpid()));
    EXPECT_FALSE(frameSectionReady(name, getpid() + 1));  // another companion's, or a stale one
    FrameLink link;
    EXPECT_TRUE(link.tryOpen(name));
    section.destroy();
    EXPECT_FALSE(frameSectionReady(name, getpid()));
}

TEST(FrameSection, ConcurrentReaderNeverGetsATornFrame) {
    const std::string name = "/qmtest-torn-" + std::to_string(getpid());
    FrameSection section;
    int error = 0;
    ASSERT_TRUE(section.create(name, &error));
    section.publish();
    FrameLink link;
    ASSERT_TRUE(link.tryOpen(name));

    constexpr int kFrames = 3000;
    std::atomic<bool> done{false};
    std::atomic<int> read{0};
    int torn = 0, backwards = 0;
    std::thread reader([&] {
        std::vector<uint8_t> copy(kFrameBytes);
        uint32_t last = 0;
        while (!done.load()) {
            uint32_t sequence = 0;
            uint64_t stamp = 0;
            if (copyCompleteFrame(section.view(), last, copy.data(), &sequence, &stamp) != CopyResult::Copied)
                continue;
            if (sequence & 1 || sequence <= last) ++backwards;
            last = sequence;
            ++read;
            // Every frame is one grey level, so any mix of two frames shows.
            uint8_t level = copy[0];
            for (size_t i = 0; i < kFrameBytes; i += 4093)
                if (copy[i] != level || copy[kFrameBytes - 1 - i] != level) {
                    ++torn;
                    break;
                }
        }
    });
    std::vector<uint8_t> frame(kFrameBytes);
    // On a loaded machine the reader may get little time: the writer goes on until it has copied enough
    // frames (within a bound).
    int written = 0;
    while (written < kFrames || (read.load() < 100 && written < 20 * kFrames)) {
        const int n = ++written;
        std::memset(frame.data(), n % 251, frame.size());
        link.write(frame.data(), static_cast<long>(kFrameRowBytes));
        // Mostly back to back (copies race with writes), with short pauses so complete copies happen too.
        if (n % 8 == 0) std::this_thread::sleep_for(std::chrono::microseconds(400));
    }
    done = true;
    reader.join();
    EXPECT_EQ(readSequence(section.view()), 2u * written);
    EXPECT_GE(read.load(), 100);
    EXPECT_EQ(torn, 0);
    EXPECT_EQ(backwards, 0);
}

TEST(FrameSection, APacingReaderSeesEveryFrameAndAStalledOneDelaysTheWriterOnlyBriefly) {
    const std::string name = "/qmtest-pace-" + std::to_string(getpid());
    FrameSection section;
    int error = 0;
    ASSERT_TRUE(section.create(name, &error));
    section.publish(true);
    FrameLink link;
    ASSERT_TRUE(link.tryOpen(name));

    // A reader that naps longer than the writer's interval still gets every frame, in order.
    constexpr int kFrames = 40;
    std::atomic<bool> done{false};
    std::vector<int> levels;
    std::thread reader([&] {
        std::vector<uint8_t> copy(kFrameBytes);
        uint32_t last = 0;
        while (!done.load() || readSequence(section.view()) != last) {
            uint32_t sequence = 0;
            uint64_t stamp = 0;
            if (copyCompleteFrame(section.view(), last, copy.data(), &sequence, &stamp) ==
                CopyResult::Copied) {
                last = sequence;
                levels.push_back(copy[0]);
                markTaken(section.view(), sequence);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(3));
        }
    });
    std::vector<uint8_t> frame(kFrameBytes);
    for (int n = 1; n <= kFrames; ++n) {
        std::memset(frame.data(), n, frame.size());
        link.write(frame.data(), static_cast<long>(kFrameRowBytes));
    }
    done = true;
    reader.join();
    ASSERT_EQ(levels.size(), size_t(kFrames));
    for (int n = 1; n <= kFrames; ++n)
        EXPECT_EQ(levels[n - 1], n);

    // The reader has gone: the first write after it finds its frame taken, the one after waits its moment
    // for a frame nobody takes, then goes ahead; later writes do not wait at all while nobody reads.
    auto timedWrite = [&] {
        const auto started = std::chrono::steady_clock::now();
        link.write(frame.data(), static_cast<long>(kFrameRowBytes));
        return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - started).count();
    };
    timedWrite();
    const double waitedMs = timedWrite();
    EXPECT_GE(waitedMs, kFrameTakeWaitMs * 0.9);
    EXPECT_LT(waitedMs, kFrameTakeWaitMs * 20.0);
    double laterMs = 0;
    for (int n = 0; n < 5; ++n)
        laterMs += timedWrite();
    EXPECT_LT(laterMs, kFrameTakeWaitMs * 0.9);
    EXPECT_EQ(readSequence(section.view()), 2u * (kFrames + 7));
    // Once the reader takes the latest frame again, the writer waits for it again.
    markTaken(section.view(), readSequence(section.view()));
    timedWrite();
    EXPECT_GE(timedWrite(), kFrameTakeWaitMs * 0.9);
}

}  // namespace
}  // namespace qm
