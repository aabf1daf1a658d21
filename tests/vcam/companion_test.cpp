// The companion and the program end to end: recording every frame written (N in, N out, playable),
// the camera failure path (exit code 1), a companion that dies mid-session, and --record from the
// program with ffprobe as the independent reader.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fcntl.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>

#include "engine/hand_over.h"
#include "platform/frame_section.h"
#include "tests/source/test_videos.h"

namespace qm {
namespace {

using test::commandOutput;
using test::TempDir;

std::string binDir() {
    return std::filesystem::canonical("/proc/self/exe").parent_path().string() + "/";
}

// "width,height,frames" of the first video stream, as ffprobe decodes it.
std::string probeVideo(const std::string& path) {
    return commandOutput(
        "ffprobe -v error -select_streams v:0 -count_frames -show_entries "
        "stream=width,height,nb_read_frames -of csv=p=0 '" +
        path + "'");
}

pid_t spawn(std::vector<std::string> args, const std::string& errFile = "/dev/null") {
    pid_t pid = fork();
    if (pid == 0) {
        int err = open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (err >= 0) dup2(err, 2);
        std::vector<char*> argv;
        for (auto& arg : args)
            argv.push_back(arg.data());
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    return pid;
}

int waitExit(pid_t pid, int timeoutMs) {
    for (int waited = 0; waited < timeoutMs; waited += 10) {
        int status = 0;
        if (waitpid(pid, &status, WNOHANG) == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : 128;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    return -1;
}

bool sectionExists(const std::string& name) {
    int fd = shm_open(name.c_str(), O_RDONLY, 0);
    if (fd < 0) return false;
    close(fd);
    return true;
}

// Whether any program run of this user still has a frame section (the integration tests run one at a time).
bool programSectionLeft() {
    const std::string prefix = std::string(kFrameSectionName + 1) + "." + std::to_string(getuid()) + ".";
    for (const auto& entry : std::filesystem::directory_iterator("/dev/shm"))
        if (entry.path().filename().string().rfind(prefix, 0) == 0) return true;
    return false;
}

// Maps the companion's section once it is published.
uint8_t* waitForSection(const std::string& name, int timeoutMs) {
    for (int waited = 0; waited < timeoutMs; waited += 10) {
        FrameLink probe;
        int fd = shm_open(name.c_str(), O_RDWR, 0);
        if (fd >= 0) {
            void* view = mmap(nullptr, kSectionBytes, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
            close(fd);
            if (view != MAP_FAILED) {
                uint32_t magic;
                std::memcpy(&magic, view, sizeof magic);
                if (magic == kFrameMagic) return static_cast<uint8_t*>(view);
                munmap(view, kSectionBytes);
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return nullptr;
}

TEST(Companion, RecordsEachFrameOnceAndLeavesAPlayableFile) {
    TempDir dir;
    const std::string name = "/qmtest-vcam-" + std::to_string(getpid());
    const std::string output = dir.file("session.mp4"), errors = dir.file("stderr.txt");
    pid_t companion = spawn({binDir() + "quillmere-vcam", "--section", name, "--output", output}, errors);
    uint8_t* view = waitForSection(name, 5000);
    ASSERT_NE(view, nullptr);
    struct stat info {};
    int fd = shm_open(name.c_str(), O_RDONLY, 0);
    ASSERT_EQ(fstat(fd, &info), 0);
    close(fd);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    EXPECT_EQ(static_cast<size_t>(info.st_size), kSectionBytes);

    FrameLink link;
    ASSERT_TRUE(link.tryOpen(name));
    std::vector<uint8_t> frame(kFrameBytes);
    constexpr int kFrames = 45;
    for (int n = 0; n < kFrames; ++n) {
        std::memset(frame.data(), n * 5, frame.size());
        link.write(frame.data(), static_cast<long>(kFrameRowBytes));
        std::this_thread::sleep_for(std::chrono::milliseconds(12));
    }
    // Nothing new for a while: no repeated frames may be recorded.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    kill(companion, SIGTERM);
    EXPECT_EQ(waitExit(companion, 10000), 0);
    munmap(view, kSectionBytes);
    EXPECT_FALSE(sectionExists(name));  // removed when the companion ends
    EXPECT_EQ(probeVideo(output), "1280,720," + std::to_string(kFrames));
    std::ifstream err(errors);
    std::string report(std::istreambuf_iterator<char>(err), {});
    EXPECT_NE(report.find("45 frames, 0 missed"), std::string::npos)
        << report
        << commandOutput("ffprobe -v error -show_entries packet=pts -of csv=p=0 " + output +
                         " | tr '\\n' ' '");
}

TEST(Companion, BadArgumentsAndUnwritableOutput) {
    EXPECT_EQ(waitExit(spawn({binDir() + "quillmere-vcam", "--bogus", "x"}), 5000), 2);
    EXPECT_EQ(
        waitExit(spawn({binDir() + "quillmere-vcam", "--section", "no-slash", "--output", "/tmp/x.mp4"}),
                 5000),
        2);
    EXPECT_EQ(
        waitExit(spawn({binDir() + "quillmere-vcam", "--section", "/qmtest-bad-" + std::to_string(getpid()),
                        "--output", "/no/such/folder/x.mp4"}),
                 5000),
        4);
}

// Program runs share the program's fixed section name; these tests hold the lock named in CMake.
struct ProgramRun {
    int exitCode = -1;
    std::string log;
};

// Runs the program in `folder` (default: the build's), headless, and returns its exit code and what it
// added to the log beside it.
ProgramRun runProgram(const std::vector<std::string>& args, const std::function<void(pid_t)>& during = {},
                      const std::string& folder = binDir()) {
    const std::string logPath = folder + "Quillmere.log";
    size_t before = std::filesystem::exists(logPath) ? std::filesystem::file_size(logPath) : 0;
    std::vector<std::string> argv = {folder + "quillmere", "--headless"};
    argv.insert(argv.end(), args.begin(), args.end());
    pid_t pid = spawn(argv);
    if (during) during(pid);
    ProgramRun run;
    run.exitCode = waitExit(pid, 60000);
    std::ifstream in(logPath);
    in.seekg(static_cast<std::streamoff>(before));
    run.log.assign(std::istreambuf_iterator<char>(in), {});
    return run;
}

bool quillmereDeviceExists() {
    for (const auto& entry : std::filesystem::directory_iterator(
             "/sys/class/video4linux", std::filesystem::directory_options::skip_permission_denied)) {
        std::ifstream name(entry.path() / "name");
        std::string label;
        std::getline(name, label);
        if (label == "Quillmere") return true;
    }
    return false;
}

// Waits until the file has grown past `bytes` (frames are flowing into it), at most 20 s.
void waitForGrowth(const std::string& path, uintmax_t bytes) {
    std::error_code missing;
    for (int waited = 0; waited < 20000; waited += 50) {
        const uintmax_t size = std::filesystem::file_size(path, missing);
        if (!missing && size >= bytes) return;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

// Waits until the file stops changing size for half a second (its writer has finished), at most 20 s.
void waitUntilSettled(const std::string& path) {
    std::error_code ignored;
    uintmax_t last = static_cast<uintmax_t>(-1);
    for (int waited = 0, still = 0; waited < 20000 && still < 500; waited += 50) {
        const uintmax_t size = std::filesystem::file_size(path, ignored);
        still = size == last ? still + 50 : 0;
        last = size;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

TEST(Program, NoCameraDeviceTakesTheFailurePathWithExitCodeOne) {
    std::error_code ignored;
    if (std::filesystem::exists("/sys/class/video4linux", ignored) && quillmereDeviceExists())
        GTEST_SKIP() << "this machine has a Quillmere device";
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime && std::filesystem::exists(std::string(runtime) + "/pipewire-0", ignored))
        GTEST_SKIP() << "a PipeWire daemon runs for this user";
    TempDir dir;
    std::string clip = dir.file("clip.mp4");
    ASSERT_TRUE(test::makeTestVideo(clip, 64, 48, 10));
    ProgramRun run = runProgram({"--file", clip, "--frames", "10"});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.log.find("MFCreateVirtualCamera ok, clsid {"), std::string::npos) << run.log;
    EXPECT_NE(
        run.log.find(
            "could not start the camera: 0x8A560003 No PipeWire daemon for this user and no v4l2loopback "
            "device labelled \"Quillmere\""),
        std::string::npos)
        << run.log;
    EXPECT_EQ(run.log.find("engine"), std::string::npos);  // the engine never started
    EXPECT_NE(run.log.find("exiting, code 1"), std::string::npos);
}

TEST(Program, RecordProducesTheFramesSentAndSurvivesADeadCompanion) {
    TempDir dir;
    std::string clip = dir.file("clip.mp4"), recording = dir.file("out.mp4");
    ASSERT_TRUE(test::makeTestVideo(clip, 320, 240, 20));
    ProgramRun run = runProgram({"--file", clip, "--frames", "50", "--plain", "--record", recording});
    EXPECT_EQ(run.exitCode, 0) << run.log;
    EXPECT_EQ(probeVideo(recording), "1280,720,50") << run.log;
    EXPECT_NE(run.log.find("camera started"), std::string::npos);
    EXPECT_NE(run.log.find("camera removed, hr 0x00000000"), std::string::npos) << run.log;
    EXPECT_FALSE(programSectionLeft());

    // The companion is killed mid-session: the program carries on and reports the removal's result.
    ProgramRun killed =
        runProgram({"--file", clip, "--frames", "300", "--record", dir.file("killed.mp4")}, [&](pid_t pid) {
            // Killed once its first fragments are written.
            waitForGrowth(dir.file("killed.mp4"), 20000);
            std::string children = commandOutput("cat /proc/" + std::to_string(pid) + "/task/*/children");
            for (char* token = std::strtok(children.data(), " "); token; token = std::strtok(nullptr, " "))
                kill(std::atoi(token), SIGKILL);
        });
    EXPECT_EQ(killed.exitCode, 0) << killed.log;
    EXPECT_NE(killed.log.find("engine stopped"), std::string::npos) << killed.log;
    // The death is reported as the camera's removal, a new companion takes over (recording to a file of
    // its own), the engine links to it, and the new one is removed in order at the end.
    const size_t death = killed.log.find("camera removed, hr 0x8A5600FF");
    ASSERT_NE(death, std::string::npos) << killed.log;
    const size_t restart = killed.log.find("camera started", death);
    EXPECT_NE(restart, std::string::npos) << killed.log;
    EXPECT_NE(killed.log.find("camera: recording continues in " + dir.file("killed-2.mp4"), death),
              std::string::npos)
        << killed.log;
    EXPECT_NE(killed.log.find("engine: camera link up again", death), std::string::npos) << killed.log;
    EXPECT_NE(killed.log.find("camera removed, hr 0x00000000", death), std::string::npos) << killed.log;
    EXPECT_FALSE(programSectionLeft());
    // The first MP4 plays up to the last fragment it wrote; the second holds the frames sent after the
    // new link.
    for (const char* name : {"killed.mp4", "killed-2.mp4"}) {
        waitUntilSettled(dir.file(name));
        const std::string probe = probeVideo(dir.file(name));
        ASSERT_EQ(probe.rfind("1280,720,", 0), 0u) << name << ": " << probe;
        EXPECT_GT(std::atoi(probe.c_str() + 9), 0) << name << ": " << probe;
    }
}

TEST(Program, RunsAtTheSameTimeKeepTheirFramesApart) {
    TempDir dir;
    std::string clip = dir.file("clip.mp4");
    ASSERT_TRUE(test::makeTestVideo(clip, 320, 240, 20));
    // Three runs at once: two recordings of different lengths and one without a camera. Each recording
    // holds its own run's frames only, and the run without a camera sends to nobody's.
    ProgramRun second, quiet;
    ProgramRun first =
        runProgram({"--file", clip, "--frames", "60", "--plain", "--record", dir.file("a.mp4")}, [&](pid_t) {
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            quiet = runProgram({"--file", clip, "--frames", "30", "--no-camera"});
            second = runProgram({"--file", clip, "--frames", "40", "--plain", "--record", dir.file("b.mp4")});
        });
    EXPECT_EQ(first.exitCode, 0);
    EXPECT_EQ(second.exitCode, 0);
    EXPECT_EQ(quiet.exitCode, 0);
    // Three engines and two encoders at once overload a small machine: a recording companion kept from
    // running for longer than an engine waits for it loses a frame (the single-run tests count every frame
    // exactly). What must hold is that no recording takes frames from another run.
    auto recordedFrames = [&](const char* name) {
        const std::string probe = probeVideo(dir.file(name));
        EXPECT_EQ(probe.rfind("1280,720,", 0), 0u) << probe;
        return probe.size() > 9 ? std::atoi(probe.c_str() + 9) : 0;
    };
    const int a = recordedFrames("a.mp4"), b = recordedFrames("b.mp4");
    EXPECT_LE(a, 60);
    EXPECT_GE(a, 54);
    EXPECT_LE(b, 40);
    EXPECT_GE(b, 36);
    EXPECT_FALSE(programSectionLeft());
}

TEST(Program, AHeadlessRunWhoseEngineFailsExitsWithOne) {
    TempDir dir;
    std::ofstream(dir.file("notes.mp4")) << "not a video at all\n";
    // With a frame count the engine gives up on a source that never opens; without one it keeps trying.
    ProgramRun run = runProgram({"--file", dir.file("notes.mp4"), "--frames", "60", "--no-camera"});
    EXPECT_EQ(run.exitCode, 1) << run.log;
    EXPECT_NE(run.log.find("the engine stopped on an error"), std::string::npos) << run.log;
    EXPECT_NE(run.log.find("exiting, code 1"), std::string::npos) << run.log;

    std::string clip = dir.file("clip.mp4");
    ASSERT_TRUE(test::makeTestVideo(clip, 320, 240, 20));
    ProgramRun good = runProgram({"--file", clip, "--frames", "20", "--no-camera", "--plain"});
    EXPECT_EQ(good.exitCode, 0) << good.log;
}

// A program folder of its own: the programs copied (so the program's folder is this one), everything
// else linked from the build, except the files a case damages.
std::string programFolder(TempDir& dir, const std::string& name) {
    const std::string folder = dir.file(name) + "/";
    std::filesystem::create_directory(folder);
    for (const auto& entry : std::filesystem::directory_iterator(binDir())) {
        const std::string file = entry.path().filename().string();
        if (!entry.is_regular_file() || file == "Quillmere.log" || file.rfind("Quillmere.log", 0) == 0)
            continue;
        if (file == "quillmere" || file == "quillmere-vcam")
            std::filesystem::copy_file(entry.path(), folder + file);
        else
            std::filesystem::create_symlink(entry.path(), folder + file);
    }
    return folder;
}

// Replaces a linked file with the first `keep` bytes of the original, with `flip` bytes from the middle on
// inverted; keep 0 removes it.
void damage(const std::string& folder, const std::string& file, size_t keep, size_t flip = 0) {
    std::ifstream in(binDir() + file, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), {});
    std::filesystem::remove(folder + file);
    if (keep == 0) return;
    bytes.resize(std::min(keep, bytes.size()));
    for (size_t i = bytes.size() / 2; i < bytes.size() / 2 + flip && i < bytes.size(); ++i)
        bytes[i] = static_cast<char>(~bytes[i]);
    std::ofstream(folder + file, std::ios::binary) << bytes;
}

TEST(Program, DamagedModelsAndRuntimeAreReportedAndTheRestCarriesOn) {
    TempDir dir;
    std::string clip = dir.file("clip.mp4");
    ASSERT_TRUE(test::makeTestVideo(clip, 320, 240, 20));
    auto runIn = [&](const std::string& folder, const std::string& recording) {
        return runProgram({"--file", clip, "--frames", "30", "--blur", "--record", recording}, {}, folder);
    };
    // Without the person mask the face filters run on and the frames are all sent; the blur is off.
    const std::string noMask = programFolder(dir, "nomask");
    damage(noMask, "person_mask.onnx", 0);
    ProgramRun run = runIn(noMask, dir.file("nomask.mkv"));
    EXPECT_EQ(run.exitCode, 0) << run.log;
    EXPECT_NE(run.log.find("person mask model not loaded: "), std::string::npos) << run.log;
    EXPECT_EQ(probeVideo(dir.file("nomask.mkv")), "1280,720,30") << run.log;

    // A face model cut short or scrambled, or a runtime library missing or cut short: a model error with
    // the reason, the engine stops, and the run ends with 1 (never a signal, never a silent 0).
    struct Case {
        const char* name;
        const char* file;
        size_t keep, flip;
    } cases[] = {{"cutmesh", "face_mesh.onnx", 100000, 0},
                 {"scrambled", "face_detector.onnx", size_t(-1), 4096},
                 {"noruntime", "libonnxruntime.so", 0, 0},
                 {"cutruntime", "libonnxruntime.so", 3 << 20, 0}};
    for (const Case& c : cases) {
        const std::string folder = programFolder(dir, c.name);
        damage(folder, c.file, c.keep, c.flip);
        ProgramRun broken = runIn(folder, dir.file(std::string(c.name) + ".mkv"));
        if (broken.exitCode == 0) {
            // Flipped weights may still make a model that runs: then the frames must all be there.
            EXPECT_EQ(probeVideo(dir.file(std::string(c.name) + ".mkv")), "1280,720,30") << c.name;
            continue;
        }
        EXPECT_EQ(broken.exitCode, 1) << c.name << "\n" << broken.log;
        EXPECT_NE(broken.log.find("engine: face model error: "), std::string::npos) << c.name << "\n"
                                                                                    << broken.log;
        EXPECT_NE(broken.log.find("the engine stopped on an error"), std::string::npos) << c.name;
    }
}

TEST(Program, KilledProgramStillLeavesAPlayableRecording) {
    TempDir dir;
    std::string clip = dir.file("clip.mp4"), recording = dir.file("out.mkv");
    ASSERT_TRUE(test::makeTestVideo(clip, 320, 240, 20));
    runProgram({"--file", clip, "--plain", "--record", recording}, [&](pid_t pid) {
        // Killed once frames flow (a loaded machine may take a while to get there).
        waitForGrowth(recording, 20000);
        kill(pid, SIGKILL);  // no orderly shutdown: the companion learns of it from the kernel
    });
    // The companion finishes the file on its own once its parent is gone.
    for (int waited = 0; waited < 10000 && programSectionLeft(); waited += 50)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(programSectionLeft());
    waitUntilSettled(recording);
    std::string probe = probeVideo(recording);
    ASSERT_EQ(probe.rfind("1280,720,", 0), 0u) << probe;
    EXPECT_GT(std::atoi(probe.c_str() + 9), 10) << probe;
}

}  // namespace
}  // namespace qm
