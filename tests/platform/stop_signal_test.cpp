#include "platform/stop_signal.h"

#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "platform/event.h"

namespace qm {
namespace {

using namespace std::chrono_literals;

// A name of this test's own, so real headless runs are never touched.
struct TestSignalName {
    std::string name = "QuillmereStopTest" + std::to_string(getpid());
    ~TestSignalName() { shm_unlink(("/" + name).c_str()); }
};

TEST(StopSignal, RaisingWakesEveryWaiter) {
    TestSignalName n;
    int error = 0;
    auto first = StopSignal::open(n.name, &error);
    auto second = StopSignal::open(n.name, &error);
    ASSERT_TRUE(first && second);
    std::atomic<int> woken{0};
    std::thread a([&] {
        first->wait({});
        ++woken;
    });
    std::thread b([&] {
        second->wait({});
        ++woken;
    });
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(woken.load(), 0);
    EXPECT_TRUE(StopSignal::raise(n.name, &error));
    a.join();
    b.join();
    EXPECT_EQ(woken.load(), 2);
}

TEST(StopSignal, ARaiseBeforeOpeningDoesNotCount) {
    TestSignalName n;
    int error = 0;
    EXPECT_TRUE(StopSignal::raise(n.name, &error)) << "nobody waiting is not an error";
    auto early = StopSignal::open(n.name, &error);
    ASSERT_TRUE(early);
    EXPECT_TRUE(StopSignal::raise(n.name, &error));
    EXPECT_TRUE(early->raised());
    auto late = StopSignal::open(n.name, &error);
    ASSERT_TRUE(late);
    EXPECT_FALSE(late->raised()) << "a signal raised while this run was not waiting is stale";
}

TEST(StopSignal, OtherReasonsEndTheWaitPromptly) {
    TestSignalName n;
    int error = 0;
    auto signal = StopSignal::open(n.name, &error);
    ASSERT_TRUE(signal);
    Event ended;
    std::thread setter([&] {
        std::this_thread::sleep_for(50ms);
        ended.set();
    });
    auto start = std::chrono::steady_clock::now();
    signal->wait([&] { return ended.isSet(); });
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
    setter.join();
    EXPECT_FALSE(signal->raised());
}

}  // namespace
}  // namespace qm
