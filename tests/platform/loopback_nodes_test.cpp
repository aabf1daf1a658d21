// v4l2loopback's devices read from a fake sysfs tree, and the processes that hold a device open.
#include "platform/loopback_nodes.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "tests/support/temp_dir.h"

namespace qm {
namespace {

void writeFile(const std::string& path, const std::string& text) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream(path) << text;
}

TEST(LoopbackNodes, NamesAndModuleVersionComeFromSysfs) {
    test::TempDir sys;
    EXPECT_TRUE(listLoopbackNodes(sys.path()).empty());
    EXPECT_EQ(loopbackModuleVersion(sys.path()), "");
    const std::string folder = sys.path() + "/devices/virtual/video4linux/";
    writeFile(folder + "video10/name", "Quillmere\n");
    writeFile(folder + "video2/name", "OBS Virtual Camera\n");
    writeFile(folder + "video3x/name", "not a node\n");
    std::filesystem::create_directories(folder + "video7");  // a name that cannot be read
    std::filesystem::create_directories(sys.path() + "/module/v4l2loopback");
    EXPECT_EQ(loopbackModuleVersion(sys.path()), "unknown");
    writeFile(sys.path() + "/module/v4l2loopback/version", "0.12.7\n");
    EXPECT_EQ(loopbackModuleVersion(sys.path()), "0.12.7");

    const std::vector<LoopbackNode> nodes = listLoopbackNodes(sys.path());
    ASSERT_EQ(nodes.size(), 3u);
    EXPECT_EQ(nodes[0].path, "/dev/video2");
    EXPECT_EQ(nodes[0].name, "OBS Virtual Camera");
    EXPECT_EQ(nodes[1].path, "/dev/video7");
    EXPECT_EQ(nodes[1].name, "");
    EXPECT_EQ(nodes[2].path, "/dev/video10");
    EXPECT_EQ(nodes[2].name, "Quillmere");
}

TEST(LoopbackNodes, ProcessesHoldingADeviceAreFoundWithTheirAccess) {
    test::TempDir dir;
    const std::string device = dir.file("video9");
    writeFile(device, "");
    EXPECT_TRUE(processesUsing(device).empty());
    // A reader and a writer, each holding the file open while it sleeps.
    auto hold = [&](const char* redirect) {
        const pid_t pid = fork();
        if (pid == 0) {
            const std::string script = std::string("exec 5") + redirect + "'" + device + "'; exec sleep 30";
            execl("/bin/sh", "sh", "-c", script.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        return pid;
    };
    const pid_t reader = hold("<"), writer = hold(">>");
    std::vector<NodeUser> users;
    auto settled = [&] {
        return users.size() == 2 && users[0].command == "sleep" && users[1].command == "sleep";
    };
    for (int i = 0; i < 200 && !settled(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        users = processesUsing(device);
    }
    kill(reader, SIGKILL);
    kill(writer, SIGKILL);
    waitpid(reader, nullptr, 0);
    waitpid(writer, nullptr, 0);
    ASSERT_EQ(users.size(), 2u);
    for (const NodeUser& user : users) {
        EXPECT_EQ(user.command, "sleep");
        EXPECT_EQ(user.writes, user.pid == writer) << user.pid;
    }
    EXPECT_TRUE(processesUsing(dir.file("missing")).empty());
}

}  // namespace
}  // namespace qm
