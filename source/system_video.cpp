// The system video backend: V4L2 cameras found and inspected with plain ioctls, frames from cameras and
// files decoded by FFmpeg (libavdevice's v4l2 input for cameras) and converted to BGRA by libswscale.
#include <fcntl.h>
#include <linux/videodev2.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <thread>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavdevice/avdevice.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
#include <libswscale/swscale.h>
}

#include "source/ffmpeg_status.h"
#include "source/v4l2_devices.h"
#include "source/video_device.h"

namespace qm {
namespace {

// Frames larger than this are refused as hostile input: 4K (either way up) is the largest the engine
// could decode in time anyway, and the decoder is held to it before it allocates a picture, so a file
// that declares a huge size costs nothing.
constexpr int kMaxSide = 8192;
constexpr int64_t kMaxPixels = 4096LL * 2304;
// How long a camera read waits when the device has nothing yet.
constexpr auto kCameraGapWait = std::chrono::milliseconds(10);
// Packets of other streams skipped within one read attempt before it counts as a gap.
constexpr int kPacketsPerAttempt = 64;
// The read buffer between a video file and its demuxer.
constexpr int kFileBufferBytes = 64 * 1024;
// libswscale's vector converters write whole blocks of pixels, so a row whose width is not a multiple of
// the block runs past its end (32 bytes at 2120 pixels, found by fuzzing): the last row past the buffer.
// Our own buffer keeps this much to spare, and only rows a whole number of blocks wide are converted
// straight into a caller's frame, which has none.
constexpr size_t kConverterSlackBytes = 256;
constexpr int kConverterBlockPixels = 32;
#ifdef QM_FUZZ_BUILD
// The sanitizers do not see writes made by the system's libraries, so the fuzzing build converts every
// frame into our own buffer and traps when the converter wrote past what the spare bytes allow: anything
// past a block-wide row, and more than one row's overrun past any other.
constexpr bool kGuardConverterSlack = true;
#else
constexpr bool kGuardConverterSlack = false;
#endif
constexpr uint8_t kSlackPattern = 0xA5;
// The containers a chosen video file may be read as. Playlists and references (hls, dash, concat, ...)
// are not among them: they name other files or addresses and a live one waits for new entries for good.
constexpr const char* kFileContainers =
    "mov,mp4,matroska,webm,avi,asf,mpegts,mpeg,flv,ogg,nut,gif,dv,mxf,yuv4mpegpipe,h264,hevc,m4v,"
    "mpegvideo,mjpeg";
// No single open, probe or read of a file may take longer than this; FFmpeg checks it wherever it
// could wait.
constexpr auto kFileCallLimit = std::chrono::seconds(5);

bool sizeAcceptable(int width, int height) {
    return width > 0 && height > 0 && width <= kMaxSide && height <= kMaxSide &&
           static_cast<int64_t>(width) * height <= kMaxPixels;
}

// One FFmpeg input (a file or a camera node) decoded to BGRA.
class FfmpegReader final : public VideoReader {
public:
    FfmpegReader(std::string url, bool camera) : url_(std::move(url)), camera_(camera) {}
    ~FfmpegReader() override { closeInput(); }

    // Files: open the container now, so a file that is not a video fails at once.
    HResult openInput(const AVInputFormat* inputFormat, AVDictionary** options) {
        format_ = avformat_alloc_context();
        if (!format_) return hresultFromErrno(ENOMEM);
        // A camera that has nothing to give answers EAGAIN instead of blocking the engine.
        if (camera_) format_->flags |= AVFMT_FLAG_NONBLOCK;
        if (!camera_) {
            HResult hr = attachFile();
            if (failed(hr)) {
                avformat_free_context(format_);
                format_ = nullptr;
                return hr;
            }
        }
        startCall();
        int result = avformat_open_input(&format_, url_.c_str(), inputFormat, options);
        if (result < 0) {
            format_ = nullptr;  // freed by avformat_open_input
            return statusFromAv(result);
        }
        return kOk;
    }

    // Camera format chosen before streaming starts (the input is opened in startOutput).
    void setCameraOptions(std::string videoSize, std::string frameRate, std::string pixelFormat) {
        videoSize_ = std::move(videoSize);
        frameRate_ = std::move(frameRate);
        pixelFormat_ = std::move(pixelFormat);
    }

    std::vector<NativeFormat> nativeFormats() override {
        std::vector<NativeFormat> list;
        for (const V4l2Format& entry : cameraFormats_)
            list.push_back(entry.format);
        return list;
    }
    HResult setNativeFormat(size_t index) override {
        if (index >= cameraFormats_.size()) return hresultFromErrno(EINVAL);
        const V4l2Format& chosen = cameraFormats_[index];
        std::string rate;
        if (chosen.format.rateNumerator && chosen.format.rateDenominator)
            rate = std::to_string(chosen.format.rateNumerator) + "/" +
                   std::to_string(chosen.format.rateDenominator);
        setCameraOptions(std::to_string(chosen.format.width) + "x" + std::to_string(chosen.format.height),
                         rate, ffmpegInputFormatName(chosen.pixelFormat));
        return kOk;
    }
    void setCameraFormats(std::vector<V4l2Format> formats) { cameraFormats_ = std::move(formats); }

    HResult startOutput(uint32_t* width, uint32_t* height) override {
        if (camera_ && !format_) {
            const AVInputFormat* v4l2 = av_find_input_format("video4linux2");
            if (!v4l2) return statusFromAv(AVERROR_DEMUXER_NOT_FOUND);
            AVDictionary* options = nullptr;
            if (!videoSize_.empty()) av_dict_set(&options, "video_size", videoSize_.c_str(), 0);
            if (!frameRate_.empty()) av_dict_set(&options, "framerate", frameRate_.c_str(), 0);
            if (!pixelFormat_.empty()) av_dict_set(&options, "input_format", pixelFormat_.c_str(), 0);
            HResult hr = openInput(v4l2, &options);
            av_dict_free(&options);
            if (failed(hr)) return hr;
        }
        if (!format_) return kFail;
        // A camera's stream is described by its header; probing would wait for frames.
        if (!camera_) {
            startCall();
            int probe = avformat_find_stream_info(format_, nullptr);
            if (probe < 0) return statusFromAv(probe);
        }
        const AVCodec* decoder = nullptr;
        stream_ = av_find_best_stream(format_, AVMEDIA_TYPE_VIDEO, -1, -1, &decoder, 0);
        if (stream_ < 0) return statusFromAv(stream_);
        if (!decoder) return statusFromAv(AVERROR_DECODER_NOT_FOUND);
        codec_ = avcodec_alloc_context3(decoder);
        if (!codec_) return hresultFromErrno(ENOMEM);
        int result = avcodec_parameters_to_context(codec_, format_->streams[stream_]->codecpar);
        codec_->max_pixels = kMaxPixels;
        // A file's next frame decodes on a second thread while the engine works on this one; a camera's
        // frames stay decoded on the engine thread, since a frame held back would show a moment late.
        if (!camera_ && std::thread::hardware_concurrency() > 1) {
            codec_->thread_count = 2;
            codec_->thread_type = FF_THREAD_FRAME;
        }
        if (result >= 0) result = avcodec_open2(codec_, decoder, nullptr);
        if (result < 0) return statusFromAv(result);
        packet_ = av_packet_alloc();
        decoded_ = av_frame_alloc();
        if (!packet_ || !decoded_) return hresultFromErrno(ENOMEM);
        if (!sizeAcceptable(codec_->width, codec_->height)) return statusFromAv(AVERROR_INVALIDDATA);
        width_ = codec_->width;
        height_ = codec_->height;
        *width = static_cast<uint32_t>(width_);
        *height = static_cast<uint32_t>(height_);
        return kOk;
    }

    ReadResult readSample() override {
        ReadResult result;
        if (!codec_) {
            result.kind = ReadKind::Failed;
            result.hr = kFail;
            return result;
        }
        startCall();
        for (int packets = 0; packets < kPacketsPerAttempt; ++packets) {
            int received = avcodec_receive_frame(codec_, decoded_);
            if (received == 0) return convert();
            if (received == AVERROR_EOF) {
                result.kind = ReadKind::EndOfStream;
                return result;
            }
            if (received != AVERROR(EAGAIN)) return gapOrFailure(received);
            if (draining_) {
                result.kind = ReadKind::EndOfStream;
                return result;
            }
            int read = av_read_frame(format_, packet_);
            if (read == AVERROR(EAGAIN)) {
                std::this_thread::sleep_for(kCameraGapWait);
                return result;  // a gap
            }
            if (read == AVERROR_EOF || (read < 0 && !camera_ && avio_feof(format_->pb))) {
                // Drain the frames the decoder still holds, then report the end.
                avcodec_send_packet(codec_, nullptr);
                draining_ = true;
                continue;
            }
            if (read < 0) {
                result.kind = ReadKind::Failed;
                result.hr = statusFromAv(read);
                return result;
            }
            bool ours = packet_->stream_index == stream_;
            int sent = ours ? avcodec_send_packet(codec_, packet_) : 0;
            av_packet_unref(packet_);
            // Damaged data is skipped; the next packet may decode.
            if (sent < 0 && sent != AVERROR(EAGAIN) && sent != AVERROR_INVALIDDATA) return gapOrFailure(sent);
        }
        return result;
    }

    ReadResult readSampleInto(std::vector<uint8_t>& frame) override {
        destination_ = &frame;
        ReadResult result = readSample();
        destination_ = nullptr;
        return result;
    }

    HResult rewind() override {
        if (!format_ || stream_ < 0) return kFail;
        startCall();
        AVStream* stream = format_->streams[stream_];
        int64_t start = stream->start_time != AV_NOPTS_VALUE ? stream->start_time : 0;
        int result = av_seek_frame(format_, stream_, start, AVSEEK_FLAG_BACKWARD);
        if (result < 0) result = avformat_seek_file(format_, -1, INT64_MIN, 0, INT64_MAX, 0);
        if (result < 0) return statusFromAv(result);
        avcodec_flush_buffers(codec_);
        draining_ = false;
        return kOk;
    }

private:
    // A video file is opened here, not by the demuxer: only a regular file is read (a FIFO or a device
    // would hold the engine thread for good), and the demuxer may open nothing else (a playlist or a
    // reference naming other files or addresses).
    HResult attachFile() {
        file_ = open(url_.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
        if (file_ < 0) return hresultFromErrno(errno);
        struct stat info {};
        if (fstat(file_, &info) != 0) return hresultFromErrno(errno);
        if (!S_ISREG(info.st_mode)) return hresultFromErrno(S_ISDIR(info.st_mode) ? EISDIR : EINVAL);
        fcntl(file_, F_SETFL, fcntl(file_, F_GETFL) & ~O_NONBLOCK);
        auto* buffer = static_cast<uint8_t*>(av_malloc(kFileBufferBytes));
        if (!buffer) return hresultFromErrno(ENOMEM);
        io_ = avio_alloc_context(buffer, kFileBufferBytes, 0, this, &readFile, nullptr, &seekFile);
        if (!io_) {
            av_free(buffer);
            return hresultFromErrno(ENOMEM);
        }
        format_->pb = io_;
        format_->flags |= AVFMT_FLAG_CUSTOM_IO;
        format_->format_whitelist = av_strdup(kFileContainers);
        if (!format_->format_whitelist) return hresultFromErrno(ENOMEM);
        format_->interrupt_callback = {&pastCallLimit, this};
        format_->io_open = [](AVFormatContext*, AVIOContext**, const char*, int, AVDictionary**) {
            return AVERROR(EPERM);
        };
        return kOk;
    }

    void startCall() { callDeadline_ = std::chrono::steady_clock::now() + kFileCallLimit; }
    static int pastCallLimit(void* opaque) {
        return std::chrono::steady_clock::now() > static_cast<FfmpegReader*>(opaque)->callDeadline_;
    }

    static int readFile(void* opaque, uint8_t* buffer, int size) {
        auto* self = static_cast<FfmpegReader*>(opaque);
        ssize_t got;
        do {
            got = read(self->file_, buffer, static_cast<size_t>(size));
        } while (got < 0 && errno == EINTR);
        if (got < 0) return AVERROR(errno);
        return got == 0 ? AVERROR_EOF : static_cast<int>(got);
    }

    static int64_t seekFile(void* opaque, int64_t offset, int whence) {
        auto* self = static_cast<FfmpegReader*>(opaque);
        if (whence & AVSEEK_SIZE) {
            struct stat info {};
            return fstat(self->file_, &info) == 0 ? static_cast<int64_t>(info.st_size) : AVERROR(errno);
        }
        off_t at = lseek(self->file_, offset, whence & ~AVSEEK_FORCE);
        return at < 0 ? AVERROR(errno) : static_cast<int64_t>(at);
    }

    ReadResult gapOrFailure(int averror) {
        ReadResult result;
        if (averror == AVERROR_INVALIDDATA) return result;  // one damaged frame: a gap
        result.kind = ReadKind::Failed;
        result.hr = statusFromAv(averror);
        return result;
    }

    ReadResult convert() {
        ReadResult result;
        int width = decoded_->width, height = decoded_->height;
        if (!sizeAcceptable(width, height)) {
            av_frame_unref(decoded_);
            return result;  // a gap: this frame is refused
        }
        if (width != width_ || height != height_) {
            width_ = width;
            height_ = height;
            result.sizeChanged = true;
        }
        // Straight into the caller's frame when it has this size; a frame of a new size goes into our own
        // buffer, since the caller only resizes its frame once it learns the size from this sample.
        const size_t bytes = static_cast<size_t>(width) * height * 4;
        std::vector<uint8_t>* output = &bgra_;
        if (!kGuardConverterSlack && destination_ && destination_->size() == bytes && !result.sizeChanged &&
            width % kConverterBlockPixels == 0) {
            output = destination_;
            if (!bgra_.empty()) std::vector<uint8_t>().swap(bgra_);
        } else if (bgra_.size() != bytes + kConverterSlackBytes) {
            bgra_.assign(bytes + kConverterSlackBytes, kSlackPattern);
        }
        scaler_ =
            sws_getCachedContext(scaler_, width, height, static_cast<AVPixelFormat>(decoded_->format), width,
                                 height, AV_PIX_FMT_BGRA, SWS_BILINEAR, nullptr, nullptr, nullptr);
        if (!scaler_) {
            av_frame_unref(decoded_);
            return result;
        }
        if (kGuardConverterSlack) std::fill(bgra_.begin() + bytes, bgra_.end(), kSlackPattern);
        uint8_t* planes[4] = {output->data(), nullptr, nullptr, nullptr};
        int strides[4] = {width * 4, 0, 0, 0};
        sws_scale(scaler_, decoded_->data, decoded_->linesize, 0, height, planes, strides);
        if (kGuardConverterSlack) {
            const size_t allowed = width % kConverterBlockPixels == 0 ? 0 : kConverterBlockPixels * 4;
            for (size_t i = bytes + allowed; i < bgra_.size(); ++i)
                if (bgra_[i] != kSlackPattern) __builtin_trap();
        }
        av_frame_unref(decoded_);
        result.kind = ReadKind::Sample;
        result.width = static_cast<uint32_t>(width);
        result.height = static_cast<uint32_t>(height);
        result.pixels = output->data();
        result.pitch = width * 4;
        result.bytes = bytes;
        return result;
    }

    void closeInput() {
        sws_freeContext(scaler_);
        av_frame_free(&decoded_);
        av_packet_free(&packet_);
        avcodec_free_context(&codec_);
        if (format_) avformat_close_input(&format_);
        if (io_) {
            av_freep(&io_->buffer);
            avio_context_free(&io_);
        }
        if (file_ >= 0) close(file_);
        file_ = -1;
    }

    std::string url_;
    bool camera_;
    int file_ = -1;
    AVIOContext* io_ = nullptr;
    std::chrono::steady_clock::time_point callDeadline_ = std::chrono::steady_clock::time_point::max();
    std::vector<V4l2Format> cameraFormats_;
    std::string videoSize_, frameRate_, pixelFormat_;
    AVFormatContext* format_ = nullptr;
    AVCodecContext* codec_ = nullptr;
    AVPacket* packet_ = nullptr;
    AVFrame* decoded_ = nullptr;
    SwsContext* scaler_ = nullptr;
    int stream_ = -1;
    int width_ = 0, height_ = 0;
    bool draining_ = false;
    std::vector<uint8_t> bgra_;  // frames that cannot go straight into the caller's
    std::vector<uint8_t>* destination_ = nullptr;
};

class SystemVideoBackend final : public VideoBackend {
public:
    SystemVideoBackend() {
        avdevice_register_all();
        av_log_set_level(AV_LOG_FATAL);
    }

    std::vector<CameraDevice> cameras() override { return listCaptureDevices(); }

    HResult openFile(const std::string& path, std::unique_ptr<VideoReader>* reader) override {
        auto file = std::make_unique<FfmpegReader>(path, false);
        HResult hr = file->openInput(nullptr, nullptr);
        if (failed(hr)) return hr;
        *reader = std::move(file);
        return kOk;
    }

    HResult openCamera(const CameraDevice& device, bool shared,
                       std::unique_ptr<VideoReader>* reader) override {
        // Activation: the node opens and still captures. Its formats are read now, while we hold it.
        int fd = open(device.path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) return hresultFromErrno(errno);
        auto camera = std::make_unique<FfmpegReader>(device.path, true);
        if (!shared) camera->setCameraFormats(enumerateV4l2Formats(fd));
        close(fd);
        *reader = std::move(camera);
        return kOk;
    }
};

}  // namespace

std::unique_ptr<VideoBackend> makeSystemVideoBackend() {
    return std::make_unique<SystemVideoBackend>();
}

}  // namespace qm
