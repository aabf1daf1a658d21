// A scripted camera and file backend for driving the source and the engine without devices. The script
// is shared with the test (it stays readable after the engine took the backend) and guarded by a mutex,
// because the engine thread reads it while the test changes it.
#pragma once

#include <chrono>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "base/clock.h"
#include "source/video_device.h"

namespace qm::test {

struct FakeCamera {
    std::string name;
    std::vector<NativeFormat> formats;
    uint32_t width = 64, height = 48;
    bool activationFails = false;
    bool silent = false;    // opens, never gives a frame (busy with another application)
    int unplugAfter = -1;   // frames read before every read fails; -1 never
    int sizeChangeAt = -1;  // frame from which the size is newWidth × newHeight
    uint32_t newWidth = 0, newHeight = 0;
};

struct FakeFile {
    uint32_t width = 64, height = 48;
    int frames = 10;      // frames before the end of the stream
    int failOnceAt = -1;  // the read of this frame fails once (then the file works again)
};

struct FakeOpen {
    std::string name;
    bool shared = false;
    double atMs = 0;
    int chosenFormat = -1;  // index given to setNativeFormat, -1 when none
};

struct FakeScript {
    std::mutex mutex;
    std::vector<FakeCamera> cameras;
    std::map<std::string, FakeFile> files;
    std::vector<FakeOpen> opens;
    std::vector<double> enumerations;  // times cameras() was asked
    int framesDelivered = 0;

    std::vector<FakeOpen> openLog() {
        std::lock_guard lock(mutex);
        return opens;
    }
};

// Pixel value of frame n: every byte of the upper half is n & 0xFF, of the lower half 255 - (n & 0xFF).
inline void fillFakeFrame(std::vector<uint8_t>& pixels, uint32_t width, uint32_t height, int n) {
    pixels.resize(size_t(width) * height * 4);
    size_t half = size_t(width) * (height / 2) * 4;
    std::memset(pixels.data(), n & 0xFF, half);
    std::memset(pixels.data() + half, 255 - (n & 0xFF), pixels.size() - half);
}

class FakeReader final : public VideoReader {
public:
    FakeReader(std::shared_ptr<FakeScript> script, size_t openIndex, FakeCamera camera)
        : script_(std::move(script)), openIndex_(openIndex), camera_(std::move(camera)), isFile_(false) {}
    FakeReader(std::shared_ptr<FakeScript> script, size_t openIndex, std::string path, FakeFile file)
        : script_(std::move(script)),
          openIndex_(openIndex),
          path_(std::move(path)),
          file_(file),
          isFile_(true) {
        camera_.width = file.width;
        camera_.height = file.height;
    }

    std::vector<NativeFormat> nativeFormats() override {
        return isFile_ ? std::vector<NativeFormat>{} : camera_.formats;
    }
    HResult setNativeFormat(size_t index) override {
        std::lock_guard lock(script_->mutex);
        script_->opens[openIndex_].chosenFormat = static_cast<int>(index);
        return kOk;
    }
    HResult startOutput(uint32_t* width, uint32_t* height) override {
        *width = width_ = camera_.width;
        *height = height_ = camera_.height;
        return kOk;
    }
    ReadResult readSample() override {
        ReadResult result;
        if (isFile_) {
            if (position_ >= file_.frames) {
                result.kind = ReadKind::EndOfStream;
                return result;
            }
            std::lock_guard lock(script_->mutex);
            FakeFile& script = script_->files[path_];
            if (script.failOnceAt >= 0 && delivered() == script.failOnceAt) {
                script.failOnceAt = -1;
                result.kind = ReadKind::Failed;
                result.hr = 0x80070005;
                return result;
            }
        } else {
            std::lock_guard lock(script_->mutex);
            const FakeCamera* live = findCamera();
            if (live && live->unplugAfter >= 0 && script_->framesDelivered >= live->unplugAfter) {
                result.kind = ReadKind::Failed;
                result.hr = 0x80070013;  // ENODEV
                return result;
            }
            if (camera_.silent || (live && live->silent)) {
                std::this_thread::sleep_for(std::chrono::microseconds(200));
                return result;  // a gap
            }
        }
        int n = countDelivered();
        if (!isFile_ && camera_.sizeChangeAt >= 0 && n >= camera_.sizeChangeAt &&
            (width_ != camera_.newWidth || height_ != camera_.newHeight)) {
            width_ = camera_.newWidth;
            height_ = camera_.newHeight;
            result.sizeChanged = true;
        }
        ++position_;
        fillFakeFrame(pixels_, width_, height_, n);
        result.kind = ReadKind::Sample;
        result.width = width_;
        result.height = height_;
        result.pixels = pixels_.data();
        result.pitch = long(width_) * 4;
        result.bytes = pixels_.size();
        return result;
    }
    HResult rewind() override {
        position_ = 0;
        return kOk;
    }

private:
    const FakeCamera* findCamera() const {
        for (const FakeCamera& camera : script_->cameras)
            if (camera.name == camera_.name) return &camera;
        return nullptr;
    }
    int delivered() const { return script_->framesDelivered; }
    int countDelivered() {
        std::lock_guard lock(script_->mutex);
        return script_->framesDelivered++;
    }

    std::shared_ptr<FakeScript> script_;
    size_t openIndex_;
    FakeCamera camera_;
    std::string path_;
    FakeFile file_;
    bool isFile_;
    int position_ = 0;
    uint32_t width_ = 0, height_ = 0;
    std::vector<uint8_t> pixels_;
};

class FakeVideoBackend final : public VideoBackend {
public:
    explicit FakeVideoBackend(std::shared_ptr<FakeScript> script) : script_(std::move(script)) {}

    std::vector<CameraDevice> cameras() override {
        std::lock_guard lock(script_->mutex);
        script_->enumerations.push_back(clockMs());
        std::vector<CameraDevice> list;
        for (const FakeCamera& camera : script_->cameras)
            list.push_back({camera.name, "fake:" + camera.name});
        return list;
    }
    HResult openFile(const std::string& path, std::unique_ptr<VideoReader>* reader) override {
        std::lock_guard lock(script_->mutex);
        auto found = script_->files.find(path);
        if (found == script_->files.end()) return 0x80070002;  // ENOENT
        script_->opens.push_back({path, false, clockMs(), -1});
        *reader = std::make_unique<FakeReader>(script_, script_->opens.size() - 1, path, found->second);
        return kOk;
    }
    HResult openCamera(const CameraDevice& device, bool shared,
                       std::unique_ptr<VideoReader>* reader) override {
        std::lock_guard lock(script_->mutex);
        for (const FakeCamera& camera : script_->cameras) {
            if (camera.name != device.name) continue;
            if (camera.activationFails) return 0x80070010;  // EBUSY
            script_->opens.push_back({camera.name, shared, clockMs(), -1});
            *reader = std::make_unique<FakeReader>(script_, script_->opens.size() - 1, camera);
            return kOk;
        }
        return kNotFound;
    }

private:
    std::shared_ptr<FakeScript> script_;
};

}  // namespace qm::test
