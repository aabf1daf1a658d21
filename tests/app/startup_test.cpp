// The start and stop sequence: in-process with recording services, and the real program as a process
// (copied into a temporary folder so its log is its own).
#include "app/main/startup.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

#include "base/log.h"
#include "platform/event.h"
#include "platform/paths.h"
#include "platform/single_instance.h"
#include "tests/support/temp_dir.h"

extern char** environ;

namespace qm {
namespace {

using namespace std::chrono_literals;

std::string readFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

int run(std::vector<std::string> args, const StartupServices& services) {
    args.insert(args.begin(), "quillmere");
    std::vector<char*> argv;
    for (std::string& arg : args)
        argv.push_back(arg.data());
    return runQuillmere(static_cast<int>(argv.size()), argv.data(), services);
}

class StartupTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = folder_.folder();
        ASSERT_TRUE(ensureDirectory(dir_ + "runtime/") && ensureDirectory(dir_ + "config/"));
        setenv("XDG_RUNTIME_DIR", (dir_ + "runtime").c_str(), 1);
        setenv("XDG_CONFIG_HOME", (dir_ + "config").c_str(), 1);
        setenv("XDG_STATE_HOME", (dir_ + "state").c_str(), 1);
    }
    void TearDown() override {}

    // Services that record the order in which start-up calls them.
    StartupServices recordingServices() {
        StartupServices s;
        s.loadSettings = [this](LaunchOptions&) { calls_ += "settings "; };
        s.startVirtualCamera = [this](const LaunchOptions&, bool) {
            calls_ += "camera ";
            return cameraWorks_;
        };
        s.removeVirtualCamera = [this] {
            calls_ += "remove ";
            return HResult{0};
        };
        s.startEngine = [this](const LaunchOptions&) -> const Event* {
            calls_ += "engine ";
            return &ended_;
        };
        s.stopEngine = [this] { calls_ += "stop "; };
        s.runWindow = [this](LaunchOptions&) { calls_ += "window "; };
        return s;
    }

    test::TempDir folder_;
    std::string dir_;
    std::string calls_;
    bool cameraWorks_ = true;
    Event ended_;
};

TEST_F(StartupTest, HeadlessStartsInOrderAndStopsInReverse) {
    size_t logStart = readFile(executableDir() + "Quillmere.log").size();
    std::thread engine([this] {
        std::this_thread::sleep_for(100ms);
        ended_.set();
    });
    // With --frames the run ends when the engine has ended.
    EXPECT_EQ(run({"--headless", "--frames", "5"}, recordingServices()), 0);
    engine.join();
    EXPECT_EQ(calls_, "camera engine stop remove ");
    std::string log = readFile(logPath()).substr(logStart);
    size_t starting = log.find(" starting (headless)\n");
    size_t removed = log.find(" camera removed, hr 0x00000000\n", starting);
    size_t exiting = log.find(" exiting, code 0\n", removed);
    EXPECT_NE(starting, std::string::npos);
    EXPECT_NE(removed, std::string::npos);
    EXPECT_NE(exiting, std::string::npos);
}

TEST_F(StartupTest, HeadlessWithoutFramesIgnoresTheEndedEngineAndStopsOnSigterm) {
    ended_.set();
    std::atomic<bool> returned{false};
    std::thread sender([&] {
        std::this_thread::sleep_for(300ms);
        EXPECT_FALSE(returned.load());  // an ended engine alone does not end the run
        kill(getpid(), SIGTERM);
    });
    EXPECT_EQ(run({"--headless"}, recordingServices()), 0);
    returned = true;
    sender.join();
    EXPECT_EQ(calls_, "camera engine stop remove ");
}

TEST_F(StartupTest, HeadlessWhoseEngineEndedOnAnErrorEndsWithOne) {
    ended_.set();
    StartupServices services = recordingServices();
    services.engineFailed = [] { return true; };
    EXPECT_EQ(run({"--headless"}, services), 1);  // returns at once: no signal is sent
    EXPECT_EQ(calls_, "camera engine stop remove ");
}

TEST_F(StartupTest, WindowModeLoadsSettingsAndRunsTheWindow) {
    EXPECT_EQ(run({"--face", "orange"}, recordingServices()), 0);
    EXPECT_EQ(calls_, "settings camera engine window stop remove ");
}

TEST_F(StartupTest, SwitchesSkipTheCameraAndTheEngine) {
    EXPECT_EQ(run({"--no-camera", "--no-engine"}, recordingServices()), 0);
    EXPECT_EQ(calls_, "settings window ");
}

TEST_F(StartupTest, CameraFailureExitsWithOneWithoutEngineOrWindow) {
    cameraWorks_ = false;
    size_t logStart = readFile(executableDir() + "Quillmere.log").size();
    EXPECT_EQ(run({}, recordingServices()), 1);
    EXPECT_EQ(calls_, "settings camera ");
    EXPECT_NE(readFile(logPath()).substr(logStart).find(" exiting, code 1\n"), std::string::npos);
}

TEST_F(StartupTest, SecondWindowStartPresentsTheFirstAndExitsZero) {
    Event presented;
    StartupServices services = recordingServices();
    services.runWindow = [&](LaunchOptions&) {
        setPresentHandler([&] { presented.set(); });
        presented.waitFor(10s);
        setPresentHandler({});
    };
    std::thread first([&] { EXPECT_EQ(run({"--no-camera", "--no-engine"}, services), 0); });
    std::this_thread::sleep_for(200ms);

    std::string program = executableDir() + "quillmere";
    char* argv[] = {program.data(), const_cast<char*>("--no-camera"), const_cast<char*>("--no-engine"),
                    nullptr};
    pid_t pid = 0;
    ASSERT_EQ(posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv, environ), 0);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_TRUE(presented.waitFor(5s));
    first.join();
}

// The real program in a folder of its own.
class ProgramTest : public StartupTest {
protected:
    void SetUp() override {
        StartupTest::SetUp();
        program_ = dir_ + "bin/quillmere";
        ASSERT_TRUE(ensureDirectory(dir_ + "bin/"));
        ASSERT_EQ(std::system(("cp '" + executableDir() + "quillmere' '" + program_ + "'").c_str()), 0);
    }
    pid_t start(std::vector<std::string> args) {
        args.insert(args.begin(), program_);
        std::vector<char*> argv;
        for (std::string& arg : args)
            argv.push_back(arg.data());
        argv.push_back(nullptr);
        pid_t pid = 0;
        EXPECT_EQ(posix_spawn(&pid, program_.c_str(), nullptr, nullptr, argv.data(), environ), 0);
        return pid;
    }
    // The exit code, or -1 when the process is still running after the time-out (it is then killed).
    int waitExit(pid_t pid, std::chrono::milliseconds timeout) {
        auto deadline = std::chrono::steady_clock::now() + timeout;
        int status = 0;
        while (std::chrono::steady_clock::now() < deadline) {
            if (waitpid(pid, &status, WNOHANG) == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : 128;
            std::this_thread::sleep_for(10ms);
        }
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
        return -1;
    }
    std::string log() { return readFile(dir_ + "bin/Quillmere.log"); }
    size_t logCount(const std::string& needle) {
        const std::string text = log();
        size_t count = 0;
        for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1))
            ++count;
        return count;
    }
    // Waits until the log holds `needle` `count` times (a loaded machine may take a while to start us).
    bool waitForLog(const std::string& needle, size_t count) {
        for (int waited = 0; waited < 20000; waited += 20) {
            if (logCount(needle) >= count) return true;
            std::this_thread::sleep_for(20ms);
        }
        return false;
    }
    std::string program_;
};

TEST_F(ProgramTest, StopAndSigtermEndHeadlessRunsInOrder) {
    pid_t pid = start({"--headless", "--no-engine", "--no-camera"});
    // A stop raised before the run has opened the signal is stale by design, so ask again until it ends.
    int exitCode = -1;
    for (int attempt = 0; attempt < 25 && exitCode == -1; ++attempt) {
        EXPECT_EQ(waitExit(start({"--stop"}), 5s), 0);
        int status = 0;
        for (int poll = 0; poll < 20 && exitCode == -1; ++poll) {
            if (waitpid(pid, &status, WNOHANG) == pid)
                exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128;
            else
                std::this_thread::sleep_for(10ms);
        }
    }
    EXPECT_EQ(exitCode, 0);
    std::string text = log();
    EXPECT_NE(text.find(" starting (headless)\n"), std::string::npos);
    EXPECT_NE(text.find(" exiting, code 0\n"), std::string::npos);
    EXPECT_EQ(text.find("camera removed"), std::string::npos);

    // SIGTERM once the run has started (its handler is in place before the first log line).
    const size_t startsBefore = logCount(" starting (headless)\n");
    pid = start({"--headless", "--no-engine", "--no-camera"});
    ASSERT_TRUE(waitForLog(" starting (headless)\n", startsBefore + 1));
    kill(pid, SIGTERM);
    EXPECT_EQ(waitExit(pid, 5s), 0);
    text = log();
    EXPECT_EQ(text.rfind(" exiting, code 0\n"), text.size() - std::string(" exiting, code 0\n").size());
}

TEST_F(ProgramTest, AStaleStopSignalDoesNotStopALaterRun) {
    EXPECT_EQ(waitExit(start({"--stop"}), 5s), 0);
    pid_t pid = start({"--headless", "--no-engine", "--no-camera"});
    EXPECT_EQ(waitExit(pid, 600ms), -1) << "a signal raised before the run must not stop it";
}

TEST_F(ProgramTest, HelpAndVersionAnswerWithoutStarting) {
    EXPECT_EQ(waitExit(start({"--help"}), 5s), 0);
    EXPECT_EQ(waitExit(start({"--version"}), 5s), 0);
    EXPECT_EQ(log(), "");
}

}  // namespace
}  // namespace qm
