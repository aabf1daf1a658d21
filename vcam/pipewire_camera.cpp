#include "vcam/pipewire_camera.h"

#include <pipewire/pipewire.h>
#include <spa/param/video/format-utils.h>
#include <spa/pod/builder.h>
#include <spa/utils/result.h>

#include <chrono>
#include <cstdio>
#include <cstring>

#include "platform/frame_section.h"

namespace qm {
namespace {

constexpr int kWidth = static_cast<int>(kFrameWidth);
constexpr int kHeight = static_cast<int>(kFrameHeight);
constexpr int kFramesPerSecond = 30;

// The formats offered, most preferred first: NV12 and I420 are what browsers and encoders read without
// converting (and the cheapest to make); YUY2 is what cameras send, for consumers that take nothing else.
constexpr spa_video_format kOffered[] = {SPA_VIDEO_FORMAT_NV12, SPA_VIDEO_FORMAT_I420, SPA_VIDEO_FORMAT_YUY2};

int pixelFormatOf(spa_video_format format) {
    switch (format) {
        case SPA_VIDEO_FORMAT_YUY2:
            return static_cast<int>(PixelFormat::Yuyv);
        case SPA_VIDEO_FORMAT_NV12:
            return static_cast<int>(PixelFormat::Nv12);
        case SPA_VIDEO_FORMAT_I420:
            return static_cast<int>(PixelFormat::I420);
        default:
            return -1;
    }
}

const spa_pod* offeredFormat(spa_pod_builder* builder, spa_video_format format) {
    spa_rectangle size{static_cast<uint32_t>(kWidth), static_cast<uint32_t>(kHeight)};
    spa_fraction rate{kFramesPerSecond, 1};
    return static_cast<const spa_pod*>(spa_pod_builder_add_object(
        builder, SPA_TYPE_OBJECT_Format, SPA_PARAM_EnumFormat, SPA_FORMAT_mediaType,
        SPA_POD_Id(SPA_MEDIA_TYPE_video), SPA_FORMAT_mediaSubtype, SPA_POD_Id(SPA_MEDIA_SUBTYPE_raw),
        SPA_FORMAT_VIDEO_format, SPA_POD_Id(format), SPA_FORMAT_VIDEO_size, SPA_POD_Rectangle(&size),
        SPA_FORMAT_VIDEO_framerate, SPA_POD_Fraction(&rate)));
}

void ensurePipeWireInitialised() {
    static const bool initialised = [] {
        pw_init(nullptr, nullptr);
        return true;
    }();
    (void)initialised;
}

}  // namespace

struct PipeWireCamera::Hooks {
    PipeWireCamera* owner = nullptr;
    spa_hook stream{};
    spa_hook core{};
    pw_stream_events streamEvents{};
    pw_core_events coreEvents{};
};

namespace {

void onStateChanged(void* data, pw_stream_state, pw_stream_state state, const char* error) {
    auto* hooks = static_cast<PipeWireCamera::Hooks*>(data);
    if (state == PW_STREAM_STATE_ERROR)
        std::fprintf(stderr, "quillmere-vcam: PipeWire camera: %s\n", error ? error : "error");
    hooks->owner->stateChanged(state == PW_STREAM_STATE_STREAMING, state == PW_STREAM_STATE_ERROR);
}

void onParamChanged(void* data, uint32_t id, const spa_pod* param);

void onCoreError(void* data, uint32_t id, int, int res, const char* message) {
    auto* hooks = static_cast<PipeWireCamera::Hooks*>(data);
    // Errors about our own objects are the stream's business; an error on the core means the daemon went.
    if (id != PW_ID_CORE) return;
    std::fprintf(stderr, "quillmere-vcam: PipeWire: %s (%s)\n", message ? message : "error",
                 spa_strerror(res));
    hooks->owner->stateChanged(false, true);
}

}  // namespace

PipeWireCamera::PipeWireCamera() = default;

PipeWireCamera::~PipeWireCamera() {
    stop();
}

bool PipeWireCamera::start(const std::string& description, std::string* message) {
    ensurePipeWireInitialised();
    prepared_.assign(pixelFormatBytes(PixelFormat::Yuyv, kWidth, kHeight), 0);  // the largest format
    loop_ = pw_thread_loop_new("quillmere-pw", nullptr);
    if (!loop_) {
        *message = "PipeWire: cannot make a loop";
        return false;
    }
    context_ = pw_context_new(pw_thread_loop_get_loop(loop_), nullptr, 0);
    if (!context_ || pw_thread_loop_start(loop_) < 0) {
        *message = "PipeWire: cannot start";
        stop();
        return false;
    }
    pw_thread_loop_lock(loop_);
    core_ = pw_context_connect(context_, nullptr, 0);
    if (!core_) {
        const int error = errno;
        pw_thread_loop_unlock(loop_);
        *message = std::string("no PipeWire daemon for this user (") + std::strerror(error) + ")";
        stop();
        return false;
    }
    hooks_ = new Hooks;
    hooks_->owner = this;
    hooks_->coreEvents.version = PW_VERSION_CORE_EVENTS;
    hooks_->coreEvents.error = onCoreError;
    pw_core_add_listener(core_, &hooks_->core, &hooks_->coreEvents, hooks_);

    pw_properties* props =
        pw_properties_new(PW_KEY_MEDIA_TYPE, "Video", PW_KEY_MEDIA_CATEGORY, "Capture", PW_KEY_MEDIA_ROLE,
                          "Camera", PW_KEY_MEDIA_CLASS, "Video/Source", PW_KEY_NODE_NAME, "quillmere-camera",
                          PW_KEY_NODE_DESCRIPTION, description.c_str(), PW_KEY_NODE_NICK, description.c_str(),
                          PW_KEY_MEDIA_SOFTWARE, "Quillmere", nullptr);
    stream_ = pw_stream_new(core_, "quillmere-camera", props);
    if (!stream_) {
        pw_thread_loop_unlock(loop_);
        *message = "PipeWire: cannot make the camera stream";
        stop();
        return false;
    }
    hooks_->streamEvents.version = PW_VERSION_STREAM_EVENTS;
    hooks_->streamEvents.state_changed = onStateChanged;
    hooks_->streamEvents.param_changed = onParamChanged;
    pw_stream_add_listener(stream_, &hooks_->stream, &hooks_->streamEvents, hooks_);

    uint8_t buffer[2048];
    spa_pod_builder builder = SPA_POD_BUILDER_INIT(buffer, sizeof buffer);
    const spa_pod* params[std::size(kOffered)];
    for (size_t i = 0; i < std::size(kOffered); ++i)
        params[i] = offeredFormat(&builder, kOffered[i]);
    const int result =
        pw_stream_connect(stream_, PW_DIRECTION_OUTPUT, PW_ID_ANY,
                          static_cast<pw_stream_flags>(PW_STREAM_FLAG_DRIVER | PW_STREAM_FLAG_MAP_BUFFERS),
                          params, std::size(kOffered));
    pw_thread_loop_unlock(loop_);
    if (result < 0) {
        *message = std::string("PipeWire refused the camera node: ") + spa_strerror(result);
        stop();
        return false;
    }
    return true;
}

namespace {

void onParamChanged(void* data, uint32_t id, const spa_pod* param) {
    auto* hooks = static_cast<PipeWireCamera::Hooks*>(data);
    if (id != SPA_PARAM_Format) return;
    spa_video_info_raw info{};
    uint32_t mediaType = 0, mediaSubtype = 0;
    if (!param || spa_format_parse(param, &mediaType, &mediaSubtype) < 0 ||
        mediaType != SPA_MEDIA_TYPE_video || mediaSubtype != SPA_MEDIA_SUBTYPE_raw ||
        spa_format_video_raw_parse(param, &info) < 0) {
        hooks->owner->formatChosen(-1);
        return;
    }
    const int format = pixelFormatOf(info.format);
    hooks->owner->formatChosen(format);
    if (format < 0) return;
    const auto pixels = static_cast<PixelFormat>(format);
    uint8_t buffer[1024];
    spa_pod_builder builder = SPA_POD_BUILDER_INIT(buffer, sizeof buffer);
    const spa_pod* params[2];
    params[0] = static_cast<const spa_pod*>(spa_pod_builder_add_object(
        &builder, SPA_TYPE_OBJECT_ParamBuffers, SPA_PARAM_Buffers, SPA_PARAM_BUFFERS_buffers,
        SPA_POD_CHOICE_RANGE_Int(4, 2, 8), SPA_PARAM_BUFFERS_blocks, SPA_POD_Int(1), SPA_PARAM_BUFFERS_size,
        SPA_POD_Int(static_cast<int>(pixelFormatBytes(pixels, kWidth, kHeight))), SPA_PARAM_BUFFERS_stride,
        SPA_POD_Int(pixelFormatStride(pixels, kWidth)), SPA_PARAM_BUFFERS_dataType,
        SPA_POD_CHOICE_FLAGS_Int((1 << SPA_DATA_MemFd) | (1 << SPA_DATA_MemPtr))));
    params[1] = static_cast<const spa_pod*>(spa_pod_builder_add_object(
        &builder, SPA_TYPE_OBJECT_ParamMeta, SPA_PARAM_Meta, SPA_PARAM_META_type, SPA_POD_Id(SPA_META_Header),
        SPA_PARAM_META_size, SPA_POD_Int(sizeof(spa_meta_header))));
    // The hooks live as long as the stream: the camera is found through them.
    pw_stream* stream = hooks->owner->stream();
    if (stream) pw_stream_update_params(stream, params, 2);
}

}  // namespace

void PipeWireCamera::formatChosen(int format) {
    format_.store(format);
}

void PipeWireCamera::stateChanged(bool streaming, bool error) {
    streaming_.store(streaming);
    if (error) broken_.store(true);
}

const char* PipeWireCamera::formatName() const {
    switch (format_.load()) {
        case static_cast<int>(PixelFormat::Yuyv):
            return "YUY2";
        case static_cast<int>(PixelFormat::Nv12):
            return "NV12";
        case static_cast<int>(PixelFormat::I420):
            return "I420";
        default:
            return "none";
    }
}

void PipeWireCamera::prepare(const uint8_t* bgra, size_t stride) {
    const int format = format_.load();
    if (format < 0) return;
    convertFromBgra(bgra, stride, kWidth, kHeight, static_cast<PixelFormat>(format), prepared_.data());
    preparedFormat_ = format;
}

void PipeWireCamera::preparePlaceholder() {
    const int format = format_.load();
    if (format < 0) return;
    fillPlaceholder(static_cast<PixelFormat>(format), kWidth, kHeight, prepared_.data());
    preparedFormat_ = format;
}

void PipeWireCamera::send() {
    const int format = format_.load();
    if (!stream_ || !streaming_.load() || format < 0 || preparedFormat_ != format) return;
    const auto pixels = static_cast<PixelFormat>(format);
    const size_t bytes = pixelFormatBytes(pixels, kWidth, kHeight);
    pw_thread_loop_lock(loop_);
    pw_buffer* buffer = pw_stream_dequeue_buffer(stream_);
    pw_thread_loop_unlock(loop_);
    if (!buffer) return;  // every buffer is with the consumers: this frame is skipped
    spa_buffer* frame = buffer->buffer;
    spa_data& data = frame->datas[0];
    if (data.data && data.maxsize >= bytes) {
        // The buffer is ours until it is queued: fill it without holding the loop.
        std::memcpy(data.data, prepared_.data(), bytes);
        data.chunk->offset = 0;
        data.chunk->size = static_cast<uint32_t>(bytes);
        data.chunk->stride = pixelFormatStride(pixels, kWidth);
        data.chunk->flags = 0;
    } else {
        data.chunk->size = 0;
    }
    if (auto* header = static_cast<spa_meta_header*>(
            spa_buffer_find_meta_data(frame, SPA_META_Header, sizeof(spa_meta_header)))) {
        header->flags = 0;
        header->offset = 0;
        header->pts = std::chrono::duration_cast<std::chrono::nanoseconds>(
                          std::chrono::steady_clock::now().time_since_epoch())
                          .count();
        header->dts_offset = 0;
        header->seq = sequence_++;
    }
    pw_thread_loop_lock(loop_);
    pw_stream_queue_buffer(stream_, buffer);
    pw_stream_trigger_process(stream_);
    pw_thread_loop_unlock(loop_);
}

void PipeWireCamera::stop() {
    if (loop_) pw_thread_loop_lock(loop_);
    if (stream_) {
        pw_stream_disconnect(stream_);
        pw_stream_destroy(stream_);
        stream_ = nullptr;
    }
    if (core_) {
        pw_core_disconnect(core_);
        core_ = nullptr;
    }
    if (loop_) pw_thread_loop_unlock(loop_);
    if (loop_) pw_thread_loop_stop(loop_);
    if (context_) {
        pw_context_destroy(context_);
        context_ = nullptr;
    }
    if (loop_) {
        pw_thread_loop_destroy(loop_);
        loop_ = nullptr;
    }
    delete hooks_;
    hooks_ = nullptr;
    streaming_.store(false);
    format_.store(-1);
    preparedFormat_ = -1;
}

}  // namespace qm
