// The loopback output against a stand-in for the v4l2loopback 0.12 driver: a device announces output
// only while nobody feeds it (exclusive_caps), a producer that writes without STREAMON leaves it
// announcing capture after it closes, and S_FMT answers with a format another program fixed.
#include "vcam/loopback.h"

#include <gtest/gtest.h>
#include <linux/videodev2.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <vector>

#include "platform/frame_section.h"
#include "tests/support/temp_dir.h"

namespace qm {
namespace {

struct FakeDevice {
    int readyForCapture = 0;   // producers streaming; the device announces capture while it is above 0
    bool formatFixed = false;  // another program's format stays
    v4l2_pix_format format{};
    bool refuseWrites = false;
    size_t frameBytesWritten = 0;
};

struct FakeDriver {
    std::map<std::string, FakeDevice> devices;
    std::map<int, std::string> open;  // descriptor → device
    std::map<int, bool> streaming;    // descriptor → STREAMON seen
    std::vector<std::string> calls;   // "open", "S_FMT", "STREAMON", "write", "STREAMOFF", "close"
    int nextFd = 1000;
    int interruptNextWrite = 1;
};
FakeDriver* driver = nullptr;

int fakeOpen(const char* path, int) {
    if (!driver->devices.count(path)) {
        errno = ENOENT;
        return -1;
    }
    driver->calls.push_back("open");
    driver->open[driver->nextFd] = path;
    return driver->nextFd++;
}

int fakeIoctl(int fd, unsigned long request, void* arg) {
    FakeDevice& device = driver->devices.at(driver->open.at(fd));
    switch (request) {
        case VIDIOC_QUERYCAP: {
            auto* caps = static_cast<v4l2_capability*>(arg);
            caps->capabilities = V4L2_CAP_DEVICE_CAPS | V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_VIDEO_OUTPUT;
            caps->device_caps = device.readyForCapture > 0 ? V4L2_CAP_VIDEO_CAPTURE : V4L2_CAP_VIDEO_OUTPUT;
            return 0;
        }
        case VIDIOC_S_FMT: {
            driver->calls.push_back("S_FMT");
            auto* format = static_cast<v4l2_format*>(arg);
            if (device.formatFixed)
                format->fmt.pix = device.format;
            else
                device.format = format->fmt.pix;
            return 0;
        }
        case VIDIOC_S_PARM:
            return 0;
        case VIDIOC_STREAMON:
            driver->calls.push_back("STREAMON");
            if (!driver->streaming[fd]) ++device.readyForCapture;
            driver->streaming[fd] = true;
            return 0;
        case VIDIOC_STREAMOFF:
            driver->calls.push_back("STREAMOFF");
            if (driver->streaming[fd]) --device.readyForCapture;
            driver->streaming[fd] = false;
            return 0;
        default:
            errno = ENOTTY;
            return -1;
    }
}

ssize_t fakeWrite(int fd, const void*, size_t bytes) {
    FakeDevice& device = driver->devices.at(driver->open.at(fd));
    if (driver->interruptNextWrite > 0) {
        --driver->interruptNextWrite;
        errno = EINTR;
        return -1;
    }
    if (device.refuseWrites) {
        errno = EIO;
        return -1;
    }
    // A producer that never said STREAMON starts the device on its first write, and nothing undoes it.
    if (!driver->streaming[fd] && device.readyForCapture == 0) device.readyForCapture = 1;
    const size_t taken = std::min<size_t>(bytes, 1 << 20);  // partial writes
    device.frameBytesWritten += taken;
    if (driver->calls.empty() || driver->calls.back() != "write") driver->calls.push_back("write");
    return static_cast<ssize_t>(taken);
}

int fakeClose(int fd) {
    driver->calls.push_back("close");
    driver->open.erase(fd);
    driver->streaming.erase(fd);
    return 0;
}

class Loopback : public ::testing::Test {
protected:
    void SetUp() override { driver = &fake; }
    void TearDown() override { driver = nullptr; }
    void addDevice(int number, const std::string& name) {
        const std::string folder = sys.path() + "/devices/virtual/video4linux/video" + std::to_string(number);
        std::filesystem::create_directories(folder);
        std::ofstream(folder + "/name") << name << "\n";
        fake.devices["/dev/video" + std::to_string(number)];
    }
    LoopbackOutput output() {
        return LoopbackOutput({fakeOpen, fakeIoctl, fakeWrite, fakeClose}, {sys.path(), proc});
    }

    FakeDriver fake;
    test::TempDir sys;
    std::string proc = "/nonexistent-proc";
};

TEST_F(Loopback, EveryStartClaimsTheDeviceAndLeavesItFreeForTheNext) {
    addDevice(0, "Integrated Camera");
    addDevice(4, "Quillmere");
    const std::vector<uint8_t> bgra(kFrameBytes, 200);
    for (int start = 0; start < 3; ++start) {
        LoopbackOutput out = output();
        std::string message;
        ASSERT_TRUE(out.open("Quillmere", &message)) << "start " << start << ": " << message;
        EXPECT_EQ(out.path(), "/dev/video4");
        out.setFrame(bgra.data(), kFrameRowBytes);
        for (int frame = 0; frame < 3; ++frame)
            ASSERT_TRUE(out.writeFrame());
        out.close();
        EXPECT_EQ(fake.devices["/dev/video4"].readyForCapture, 0) << "start " << start;
    }
    // Whole frames only, continued across partial and interrupted writes.
    EXPECT_EQ(fake.devices["/dev/video4"].frameBytesWritten, 9u * kFrameWidth * kFrameHeight * 2);
    const std::vector<std::string> once = {"open", "S_FMT", "STREAMON", "write", "STREAMOFF", "close"};
    EXPECT_EQ(std::vector<std::string>(fake.calls.begin(), fake.calls.begin() + 6), once);
    const v4l2_pix_format& format = fake.devices["/dev/video4"].format;
    EXPECT_EQ(format.width, kFrameWidth);
    EXPECT_EQ(format.height, kFrameHeight);
    EXPECT_EQ(format.pixelformat, static_cast<uint32_t>(V4L2_PIX_FMT_YUYV));
    EXPECT_EQ(format.bytesperline, kFrameWidth * 2);
    // The camera device beside it was never opened.
    EXPECT_EQ(fake.calls.size(), 3u * once.size() + 0u);
}

TEST_F(Loopback, BusyMissingAndForeignFormatDevicesAreRefusedWithTheirReason) {
    std::string message;
    EXPECT_FALSE(output().open("Quillmere", &message));
    EXPECT_EQ(message, "no v4l2loopback device labelled \"Quillmere\"");

    // Another program feeds the first device labelled like ours: the second one is used.
    addDevice(2, "Quillmere");
    addDevice(3, "Quillmere");
    fake.devices["/dev/video2"].readyForCapture = 1;
    {
        LoopbackOutput out = output();
        ASSERT_TRUE(out.open("Quillmere", &message)) << message;
        EXPECT_EQ(out.path(), "/dev/video3");
    }
    fake.devices["/dev/video3"].readyForCapture = 1;
    EXPECT_FALSE(output().open("Quillmere", &message));
    EXPECT_NE(message.find("/dev/video3 is busy: another program already feeds it"), std::string::npos)
        << message;

    // A device that keeps another program's format would scramble every frame.
    fake.devices["/dev/video3"].readyForCapture = 0;
    FakeDevice& foreign = fake.devices["/dev/video3"];
    foreign.formatFixed = true;
    foreign.format.width = 640;
    foreign.format.height = 480;
    foreign.format.pixelformat = V4L2_PIX_FMT_MJPEG;
    EXPECT_FALSE(output().open("Quillmere", &message));
    EXPECT_NE(message.find("/dev/video3 keeps 640 x 480 MJPG set by another program"), std::string::npos)
        << message;
    EXPECT_EQ(foreign.readyForCapture, 0);  // refused before STREAMON: the device is left as it was

    // A device that stops taking frames says so.
    foreign.formatFixed = false;
    foreign.refuseWrites = true;
    LoopbackOutput out = output();
    ASSERT_TRUE(out.open("Quillmere", &message)) << message;
    EXPECT_FALSE(out.writeFrame());
}

TEST_F(Loopback, AProducerThatOnlyWritesLeavesTheDeviceUnlisted) {
    // The driver's fault the output avoids: without STREAMON/STREAMOFF the device stays "fed" after close.
    addDevice(5, "Quillmere");
    const int fd = fakeOpen("/dev/video5", 0);
    const uint8_t frame[16] = {};
    fake.interruptNextWrite = 0;
    fakeWrite(fd, frame, sizeof frame);
    fakeClose(fd);
    std::string message;
    EXPECT_FALSE(output().open("Quillmere", &message));
    EXPECT_NE(message.find("busy"), std::string::npos);
}

}  // namespace
}  // namespace qm
