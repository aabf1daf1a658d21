#include "source/ffmpeg_status.h"

extern "C" {
#include <libavutil/error.h>
}

#include <iterator>

namespace qm {
namespace {

// FFmpeg's own error tags, by position: the status is 0x80FF0001 + index.
constexpr int kAvTags[] = {AVERROR_BSF_NOT_FOUND,
                           AVERROR_BUG,
                           AVERROR_BUFFER_TOO_SMALL,
                           AVERROR_DECODER_NOT_FOUND,
                           AVERROR_DEMUXER_NOT_FOUND,
                           AVERROR_ENCODER_NOT_FOUND,
                           AVERROR_EOF,
                           AVERROR_EXIT,
                           AVERROR_EXTERNAL,
                           AVERROR_FILTER_NOT_FOUND,
                           AVERROR_INVALIDDATA,
                           AVERROR_MUXER_NOT_FOUND,
                           AVERROR_OPTION_NOT_FOUND,
                           AVERROR_PATCHWELCOME,
                           AVERROR_PROTOCOL_NOT_FOUND,
                           AVERROR_STREAM_NOT_FOUND,
                           AVERROR_BUG2,
                           AVERROR_UNKNOWN,
                           AVERROR_EXPERIMENTAL,
                           AVERROR_INPUT_CHANGED,
                           AVERROR_OUTPUT_CHANGED};
constexpr HResult kAvBase = 0x80FF0001;
constexpr HResult kAvUnknown = 0x80FF00FF;

bool translateAv(HResult hr, std::string* message) {
    if ((hr & 0xFFFF0000u) != 0x80FF0000u) return false;
    size_t index = hr - kAvBase;
    int code = index < std::size(kAvTags) ? kAvTags[index] : AVERROR_UNKNOWN;
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    *message = text;
    return true;
}

}  // namespace

HResult statusFromAv(int averror) {
    addStatusTranslator(translateAv);
    if (averror >= 0) return kOk;
    for (size_t i = 0; i < std::size(kAvTags); ++i)
        if (kAvTags[i] == averror) return kAvBase + static_cast<HResult>(i);
    if (averror > -0x10000) return hresultFromErrno(-averror);
    return kAvUnknown;
}

}  // namespace qm
