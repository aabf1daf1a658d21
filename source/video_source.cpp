#include "source/video_source.h"

#include <cstring>
#include <mutex>

#include "base/failure.h"
#include "base/log.h"
#include "source/format_choice.h"

namespace qm {
namespace {

constexpr int kReadAttempts = 200;

bool quiet(const SourceContext& context) {
    return context.shared.status.load() == kStatusNoFrames;
}

void setLabel(SharedState& shared, const std::string& label) {
    std::lock_guard lock(shared.filterLock);
    shared.sourceLabel = label;
}

// Reads back the output size and sizes the frame buffer.
HResult startOutput(SourceState& source, SourceContext& context) {
    uint32_t width = 0, height = 0;
    HResult hr = source.reader->startOutput(&width, &height);
    if (failed(hr)) {
        source.reader.reset();
        return reportFailure("Engine", __LINE__, hr, "the source cannot give RGB frames");
    }
    source.frameWidth = width;
    source.frameHeight = height;
    source.frame.assign(static_cast<size_t>(width) * height * 4, 0);
    if (!quiet(context)) logLine("source: %u x %u", width, height);
    return kOk;
}

HResult openFile(SourceState& source, SourceContext& context) {
    source.isFile = true;
    source.reader.reset();
    HResult hr = context.backend.openFile(source.file, &source.reader);
    if (failed(hr) || !source.reader) {
        source.reader.reset();
        hr = failed(hr) ? hr : kFail;
        if (source.failedFile == source.file && source.failedFileStatus == hr) return hr;
        source.failedFile = source.file;
        source.failedFileStatus = hr;
        return reportFailure("Engine", __LINE__, hr, "cannot open the video file");
    }
    source.failedFile.clear();
    source.failedFileStatus = kOk;
    logLine("source: file %s", source.file.c_str());
    setLabel(context.shared, fileNamePart(source.file));
    return startOutput(source, context);
}

HResult openCamera(SourceState& source, SourceContext& context) {
    std::unique_ptr<VideoReader> taken;
    std::string takenName;
    for (const CameraDevice& device : context.backend.cameras()) {
        bool own = device.name.find(kOwnCameraWord) != std::string::npos;
        if (own) continue;
        if (!source.camera.empty() && device.name.find(source.camera) == std::string::npos) continue;
        std::unique_ptr<VideoReader> reader;
        if (failed(context.backend.openCamera(device, source.shareCamera, &reader)) || !reader) continue;
        taken = std::move(reader);
        takenName = device.name;
        break;
    }
    if (!taken) return kNotFound;

    if (!quiet(context))
        logLine("source: camera %s%s", takenName.c_str(),
                source.shareCamera ? " (shared with another app)" : "");
    setLabel(context.shared, takenName);

    source.reader = std::move(taken);
    if (!source.shareCamera) {
        std::vector<NativeFormat> formats = source.reader->nativeFormats();
        if (!formats.empty()) {
            HResult hr = source.reader->setNativeFormat(chooseNativeFormat(formats));
            if (failed(hr)) {
                source.reader.reset();
                return reportFailure("Engine", __LINE__, hr, "cannot choose the camera format");
            }
        }
    }
    return startOutput(source, context);
}

// Copies a sample into the frame buffer: whole rows when the sample holds them all, otherwise the frame
// keeps its previous contents.
void copySample(SourceState& source, const ReadResult& sample) {
    size_t rowBytes = static_cast<size_t>(source.frameWidth) * 4;
    size_t rows = source.frameHeight;
    if (!sample.pixels || rowBytes == 0) return;
    long pitch = sample.pitch != 0 ? sample.pitch : static_cast<long>(rowBytes);
    size_t absPitch = static_cast<size_t>(pitch < 0 ? -pitch : pitch);
    if (absPitch < rowBytes) return;
    if (sample.bytes < absPitch * (rows - 1) + rowBytes) return;
    if (sample.pixels == source.frame.data()) return;  // the reader wrote it there itself
    const uint8_t* row = sample.pixels;
    for (size_t y = 0; y < rows; ++y, row += pitch)
        std::memcpy(&source.frame[y * rowBytes], row, rowBytes);
}

}  // namespace

std::string fileNamePart(const std::string& path) {
    size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

HResult openSource(SourceState& source, SourceContext& context) {
    if (!source.file.empty()) return openFile(source, context);
    source.isFile = false;
    return openCamera(source, context);
}

bool readFrame(SourceState& source, SourceContext& context) {
    if (!source.reader) return false;
    for (int attempt = 0; attempt < kReadAttempts; ++attempt) {
        if (context.stop.load()) return false;
        ReadResult result = source.reader->readSampleInto(source.frame);
        if (result.kind == ReadKind::Failed) {
            if (!quiet(context)) logLine("ReadSample failed 0x%08X", result.hr);
            return false;
        }
        if (result.kind == ReadKind::EndOfStream) {
            if (!source.isFile) return false;
            if (failed(source.reader->rewind())) return false;
            continue;
        }
        if (result.sizeChanged &&
            (result.width != source.frameWidth || result.height != source.frameHeight)) {
            logLine("source: now %u x %u", result.width, result.height);
            source.frameWidth = result.width;
            source.frameHeight = result.height;
            source.frame.assign(static_cast<size_t>(result.width) * result.height * 4, 0);
            if (context.frameSizeChanged && !context.frameSizeChanged()) return false;
        }
        if (result.kind == ReadKind::Sample) {
            copySample(source, result);
            return true;
        }
    }
    return false;
}

std::vector<std::string> listCameras(VideoBackend& backend) {
    std::vector<std::string> names;
    for (const CameraDevice& device : backend.cameras())
        if (device.name.find(kOwnCameraWord) == std::string::npos) names.push_back(device.name);
    return names;
}

std::vector<std::string> listCameras() {
    std::unique_ptr<VideoBackend> backend = makeSystemVideoBackend();
    return listCameras(*backend);
}

}  // namespace qm
