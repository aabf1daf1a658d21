// Small real video files for tests, made with the ffmpeg program in a private temporary folder.
#pragma once

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

namespace qm::test {

// A fresh temporary folder, removed when the object goes.
class TempDir {
public:
    TempDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "qmtest-XXXXXX").string();
        path_ = mkdtemp(pattern.data()) ? pattern : std::string();
    }
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    std::string file(const std::string& name) const { return path_ + "/" + name; }
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

// Runs ffmpeg quietly; true on success.
inline bool ffmpeg(const std::string& arguments) {
    return std::system(("ffmpeg -v error -y " + arguments + " </dev/null").c_str()) == 0;
}

// `frames` frames of a moving test pattern, width × height, 30 per second.
inline bool makeTestVideo(const std::string& path, int width, int height, int frames) {
    return ffmpeg("-f lavfi -i testsrc2=size=" + std::to_string(width) + "x" + std::to_string(height) +
                  ":rate=30 -frames:v " + std::to_string(frames) +
                  " -pix_fmt yuv420p -c:v libx264 -preset ultrafast " + path);
}

// A transport stream whose frame size changes after `framesEach` frames.
inline bool makeSizeChangingVideo(const std::string& folder, const std::string& path, int framesEach) {
    std::string a = folder + "/a.ts", b = folder + "/b.ts";
    return makeTestVideo(a, 64, 48, framesEach) && makeTestVideo(b, 96, 64, framesEach) &&
           std::system(("cat " + a + " " + b + " > " + path).c_str()) == 0;
}

// Output of a command (stdout), trailing newline removed.
inline std::string commandOutput(const std::string& command) {
    std::string output;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char buffer[512];
        while (fgets(buffer, sizeof buffer, pipe))
            output += buffer;
        pclose(pipe);
    }
    while (!output.empty() && (output.back() == '\n' || output.back() == '\r'))
        output.pop_back();
    return output;
}

}  // namespace qm::test
