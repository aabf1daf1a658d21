// Reading user-chosen files: only regular files, never blocking, never past the bound.
#include "platform/file_read.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>

#include "tests/support/temp_dir.h"

namespace qm {
namespace {

TEST(FileRead, ReadsRegularFilesWithinTheBoundAndRefusesEverythingElse) {
    test::TempDir dir;
    std::vector<uint8_t> bytes;
    { std::ofstream(dir.file("small.bin"), std::ios::binary) << "hello"; }
    EXPECT_EQ(readRegularFile(dir.file("small.bin"), 5, &bytes), FileRead::Ok);
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "hello");
    EXPECT_EQ(readRegularFile(dir.file("small.bin"), 4, &bytes), FileRead::TooLarge);
    EXPECT_TRUE(bytes.empty());
    EXPECT_EQ(readRegularFile(dir.file("none"), 100, &bytes), FileRead::Missing);
    EXPECT_EQ(readRegularFile(dir.path(), 100, &bytes), FileRead::NotRegular);  // a folder
    // A FIFO with no writer would block a plain open and read for good.
    ASSERT_EQ(mkfifo(dir.file("pipe").c_str(), 0600), 0);
    EXPECT_EQ(readRegularFile(dir.file("pipe"), 100, &bytes), FileRead::NotRegular);
    EXPECT_EQ(readRegularFile("/dev/zero", 100, &bytes), FileRead::NotRegular);
}

}  // namespace
}  // namespace qm
