// `cmake --install` into a private prefix: the layout (programs and their data together, a relative
// bin/ link, nothing from the tests), the desktop entry and metainfo through their validators, the
// manifest that uninstalling reads, and the installed program run headless on the sample video.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <set>
#include <sstream>

#include "tests/source/test_videos.h"
#include "tests/support/temp_dir.h"

namespace qm {
namespace {

namespace fs = std::filesystem;
using test::commandOutput;
using test::readText;

const std::string kBuild = QM_BUILD_DIR;
const std::string kSource = QM_SOURCE_DIR;
const std::string kId = "io.github.quillmere.Quillmere";

// Runs a shell command; its exit code, with stdout and stderr in *output.
int run(const std::string& command, std::string* output) {
    *output = commandOutput("(" + command + ") 2>&1; echo \"exit=$?\"");
    const size_t at = output->rfind("exit=");
    const int code = at == std::string::npos ? -1 : std::atoi(output->c_str() + at + 5);
    output->resize(at == std::string::npos ? output->size() : at);
    return code;
}

// Installs into `prefix` under the staging folder `destdir`, as a package build does. The manifest cmake
// writes lands in the build folder, where it describes the user's own install: it is kept aside and put back,
// and this install's manifest returned instead.
bool install(const std::string& destdir, const std::string& prefix, std::string* manifest,
             std::string* output) {
    const std::string kept = kBuild + "/install_manifest.txt";
    const std::string aside = kept + ".qmtest-" + std::to_string(getpid());
    std::error_code ignored;
    const bool hadOne = fs::exists(kept);
    if (hadOne) fs::rename(kept, aside, ignored);
    const int code =
        run("DESTDIR='" + destdir + "' cmake --install '" + kBuild + "' --prefix '" + prefix + "'", output);
    *manifest = readText(kept);
    fs::remove(kept, ignored);
    if (hadOne) fs::rename(aside, kept, ignored);
    return code == 0;
}

std::set<std::string> filesUnder(const std::string& folder) {
    std::set<std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(folder))
        if (!entry.is_directory() || entry.is_symlink()) files.insert(entry.path().string());
    return files;
}

TEST(Install, LaysOutAWorkingProgramThatValidatesAndUninstallsCleanly) {
    if (!fs::exists(kBuild + "/bin/quillmere")) GTEST_SKIP() << "not built";
    test::TempDir dir;
    // The tree lands in DESTDIR + /usr; the manifest lists the files as they will be on the target
    // (/usr/...).
    const std::string destdir = dir.path() + "/stage", prefix = destdir + "/usr";
    std::string manifest, output;
    ASSERT_TRUE(install(destdir, "/usr", &manifest, &output)) << output;

    // The programs and their data together; bin/quillmere a relative link to the program.
    const std::string lib = prefix + "/lib/quillmere/";
    EXPECT_EQ(fs::read_symlink(prefix + "/bin/quillmere").string(), "../lib/quillmere/quillmere");
    for (const char* program : {"quillmere", "quillmere-vcam", "quillmere-track"})
        EXPECT_EQ(access((lib + program).c_str(), X_OK), 0) << program;
    for (const auto& entry : fs::directory_iterator(kBuild + "/bin")) {
        const std::string ext = entry.path().extension().string();
        const std::string name = entry.path().filename().string();
        // What the program reads beside itself; tests leave nothing of these kinds in the build's folder.
        if (ext == ".onnx" || ext == ".so" || ext == ".json" || ext == ".png") {
            EXPECT_TRUE(fs::exists(lib + name)) << name << " is missing from the install";
        }
    }
    for (const auto& entry : fs::directory_iterator(lib)) {
        const std::string name = entry.path().filename().string();
        EXPECT_EQ(name.find("test"), std::string::npos) << name << " comes from the tests";
        EXPECT_EQ(name.find("bench"), std::string::npos) << name;
    }

    // Desktop integration, through the tools that distributions run.
    const std::string desktop = prefix + "/share/applications/" + kId + ".desktop";
    EXPECT_EQ(run("desktop-file-validate '" + desktop + "'", &output), 0) << output;
    EXPECT_EQ(output, "") << "no warnings either";
    const std::string metainfo = prefix + "/share/metainfo/" + kId + ".metainfo.xml";
    EXPECT_EQ(run("appstreamcli validate --no-net --pedantic '" + metainfo + "'", &output), 0) << output;
    EXPECT_NE(output.find("Validation was successful"), std::string::npos) << output;
    EXPECT_NE(readText(desktop).find("\nExec=quillmere\n"), std::string::npos);
    EXPECT_NE(readText(desktop).find("\nIcon=" + kId + "\n"), std::string::npos);
    EXPECT_TRUE(fs::exists(prefix + "/share/icons/hicolor/scalable/apps/" + kId + ".svg"));
    const std::string png = readText(prefix + "/share/icons/hicolor/128x128/apps/" + kId + ".png");
    ASSERT_GE(png.size(), 24u);
    EXPECT_EQ(png.substr(1, 3), "PNG");
    EXPECT_EQ(png.substr(16, 8), std::string("\0\0\0\x80\0\0\0\x80", 8)) << "128 x 128";
    EXPECT_NE(readText(prefix + "/share/doc/quillmere/examples/modprobe.d/quillmere.conf")
                  .find("\noptions v4l2loopback devices=1 card_label=\"Quillmere\" exclusive_caps=1\n"),
              std::string::npos);
    EXPECT_NE(readText(prefix + "/share/doc/quillmere/examples/modules-load.d/quillmere.conf")
                  .find("\nv4l2loopback\n"),
              std::string::npos);

    // The manifest names every installed file, the link included: `xargs rm < install_manifest.txt`
    // leaves only folders.
    std::set<std::string> listed;
    std::istringstream lines(manifest);
    for (std::string line; std::getline(lines, line);)
        if (!line.empty()) listed.insert(destdir + line);
    EXPECT_EQ(listed, filesUnder(prefix));

    // The installed program finds its models and pictures beside itself and records the sample.
    const std::string recording = dir.file("session.mp4");
    EXPECT_EQ(run("'" + prefix + "/bin/quillmere' --headless --file '" + kSource +
                      "/data/sample.mp4' --frames 20 --record '" + recording + "'",
                  &output),
              0)
        << output << readText(lib + "Quillmere.log");
    const std::string log = readText(lib + "Quillmere.log");
    EXPECT_EQ(log.find("ERROR"), std::string::npos) << log;
    EXPECT_EQ(commandOutput("ffprobe -v error -select_streams v:0 -count_frames -show_entries "
                            "stream=width,height,nb_read_frames -of csv=p=0 '" +
                            recording + "'"),
              "1280,720,20")
        << log;

    // The installed camera check points at the installed samples when it prints the loopback fix.
    run("'" + prefix + "/bin/quillmere' --check-camera", &output);
    if (output.find("no device labelled") != std::string::npos) {
        EXPECT_NE(
            output.find("sudo cp " + prefix + "/share/doc/quillmere/examples/modules-load.d/quillmere.conf"),
            std::string::npos)
            << output;
    }
}

}  // namespace
}  // namespace qm
