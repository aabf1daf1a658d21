#include "base/log.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

#include "base/failure.h"
#include "tests/support/temp_dir.h"

namespace qm {
namespace {

using test::readText;

class LogTest : public ::testing::Test {
protected:
    void TearDown() override { setLogPath({}); }
    test::TempDir temp_;
    std::string dir_ = temp_.folder();
};

TEST_F(LogTest, LineFormat) {
    EXPECT_EQ(formatLogLine(3, 4, 5, 6, "starting"), "03:04:05.006 starting");
    EXPECT_EQ(formatLogLine(23, 59, 59, 999, "x"), "23:59:59.999 x");
    setLogPath(dir_ + "Quillmere.log");
    logLine("source: %u x %u", 1280u, 720u);
    std::string text = readText(dir_ + "Quillmere.log");
    ASSERT_EQ(text.size(), 13 + std::string("source: 1280 x 720\n").size());
    EXPECT_EQ(text.substr(2, 1), ":");
    EXPECT_EQ(text.substr(8, 1), ".");
    EXPECT_EQ(text.substr(12), " source: 1280 x 720\n");
}

TEST_F(LogTest, LongMessagesAreCutAndStillEndTheLine) {
    setLogPath(dir_ + "Quillmere.log");
    logLine("%s", std::string(5000, 'a').c_str());
    // A multi-byte character straddling the cut is dropped whole.
    logLine("%s\xC3\xA9tail", std::string(2046, 'b').c_str());
    std::string text = readText(dir_ + "Quillmere.log");
    size_t first = text.find('\n');
    ASSERT_NE(first, std::string::npos);
    EXPECT_EQ(first, 13u + 2047u);
    std::string second = text.substr(first + 1);
    EXPECT_EQ(second.size(), 13u + 2046u + 1u);
    EXPECT_EQ(second.back(), '\n');
}

TEST_F(LogTest, ProgramFolderIsUsedAndKeptAcrossRuns) {
    std::ofstream(dir_ + "Quillmere.log") << "old line\n";
    EXPECT_EQ(chooseLogFile(dir_, dir_ + "fallback/"), dir_ + "Quillmere.log");
    logLine("new line");
    std::string text = readText(dir_ + "Quillmere.log");
    EXPECT_EQ(text.find("old line\n"), 0u);
    EXPECT_NE(text.find(" new line\n"), std::string::npos);
}

TEST_F(LogTest, AFullLogMovesAsideAndTheNextLineStartsANewOne) {
    const std::string path = dir_ + "Quillmere.log";
    std::ofstream(path + ".1") << "the generation before\n";
    std::ofstream(path) << std::string(4 * 1024 * 1024 - 10, 'x') << "\n";
    setLogPath(path);
    logLine("the line that fills it");  // now past 4 MiB: moved aside after it is written
    logLine("the first line of the new file");
    const std::string older = readText(path + ".1");
    EXPECT_GT(older.size(), 4u * 1024 * 1024);
    EXPECT_NE(older.find(" the line that fills it\n"), std::string::npos);
    const std::string fresh = readText(path);
    EXPECT_EQ(fresh.size(), 13 + std::string("the first line of the new file\n").size())
        << fresh.substr(0, 200);
}

TEST_F(LogTest, UnwritableProgramFolderFallsBackToAnEmptiedLog) {
    std::string fallback = dir_ + "state/Quillmere/";
    ASSERT_EQ(
        std::system(
            ("mkdir -p '" + fallback + "' && echo previous-run > '" + fallback + "Quillmere.log'").c_str()),
        0);
    // A program "folder" below a plain file can never be written, even by root.
    std::ofstream(dir_ + "plain-file") << "x";
    EXPECT_EQ(chooseLogFile(dir_ + "plain-file/", fallback), fallback + "Quillmere.log");
    logLine("this run");
    std::string text = readText(fallback + "Quillmere.log");
    EXPECT_EQ(text.find("previous-run"), std::string::npos);
    EXPECT_NE(text.find(" this run\n"), std::string::npos);
}

TEST_F(LogTest, NoUsableFolderDropsLinesQuietly) {
    std::ofstream(dir_ + "plain-file") << "x";
    EXPECT_EQ(chooseLogFile(dir_ + "plain-file/", dir_ + "plain-file/sub/"), "");
    logLine("goes nowhere");  // must not crash or throw
}

TEST_F(LogTest, ThreadsWriteWholeLines) {
    setLogPath(dir_ + "Quillmere.log");
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([t] {
            for (int i = 0; i < 200; ++i)
                logLine("thread %d line %d %s", t, i, std::string(100, 'a' + t).c_str());
        });
    for (std::thread& thread : threads)
        thread.join();
    std::istringstream lines(readText(dir_ + "Quillmere.log"));
    std::string line;
    int count = 0;
    while (std::getline(lines, line)) {
        ++count;
        ASSERT_EQ(line.size(), 13 + line.substr(13).size());
        std::string tail = line.substr(line.size() - 100);
        EXPECT_EQ(tail, std::string(100, tail[0])) << line;
    }
    EXPECT_EQ(count, 800);
}

TEST_F(LogTest, FailureReportsAreLoggedWithTheirDetails) {
    FailureReport report{"Engine", 123, 0x80070002, "cannot open"};
    std::string text = describeFailure(report, 0x1f);
    EXPECT_EQ(text, "Engine(123) tid(1f) 80070002 No such file or directory    Msg:[cannot open]");
    report.message = nullptr;
    EXPECT_EQ(describeFailure(report, 0x1f), "Engine(123) tid(1f) 80070002 No such file or directory");

    setLogPath(dir_ + "Quillmere.log");
    installFailureCallback(logFailure);
    installFailureCallback(logFailure);  // the same callback again is harmless
    EXPECT_EQ(reportFailure("Window", 7, kNotFound, "no camera"), kNotFound);
    std::string log = readText(dir_ + "Quillmere.log");
    EXPECT_NE(log.find(" ERROR Window(7) tid("), std::string::npos);
    EXPECT_NE(log.find(") 80070490 Element not found.    Msg:[no camera]\n"), std::string::npos);
}

void otherCallback(const FailureReport&) {}

TEST(FailureDeathTest, ASecondDifferentCallbackTerminates) {
    EXPECT_DEATH(
        {
            installFailureCallback(logFailure);
            installFailureCallback(otherCallback);
        },
        "");
}

TEST(Status, MessagesForErrnoAndKnownCodes) {
    EXPECT_EQ(hresultFromErrno(2), 0x80070002u);
    EXPECT_EQ(statusMessage(hresultFromErrno(13)), "Permission denied");
    EXPECT_EQ(statusMessage(kNotFound), "Element not found.");
    EXPECT_EQ(statusMessage(0x8ABC0001), "Unknown error 0x8ABC0001");
    addStatusTranslator([](HResult hr, std::string* message) {
        if (hr != 0x8ABC0001) return false;
        *message = "library says no";
        return true;
    });
    EXPECT_EQ(statusMessage(0x8ABC0001), "library says no");
}

}  // namespace
}  // namespace qm
