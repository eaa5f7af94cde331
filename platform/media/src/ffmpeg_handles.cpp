#include "platform/ffmpeg_handles.h"

extern "C" {
#include <libavutil/dict.h>
#include <libavutil/mem.h>
}

namespace morvane::ff {

namespace {
struct DictionaryDeleter {
    void operator()(AVDictionary* d) const { av_dict_free(&d); }
};

// The demuxers take sizes from the file and allocate them before reading (a timecode sample description of a
// 2 KB movie may claim a gigabyte). FFmpeg's limit is for the whole process, so it is set once, before main and
// any thread that allocates, to what no picture, packet or description the system handles ever needs.
[[maybe_unused]] const bool allocationLimited = [] {
    av_max_alloc(ff::maxAllocationBytes);
    return true;
}();
}  // namespace

InputFormat openLocalMovie(const std::string& path, std::string* error) {
    AVDictionary* rawOptions = nullptr;
    av_dict_set(&rawOptions, "protocol_whitelist", "file", 0);
    av_dict_set(&rawOptions, "format_whitelist", "mov,mp4,m4a,3gp,3g2,mj2,matroska,webm", 0);
    AVFormatContext* raw = nullptr;
    const std::string url = "file:" + path;
    int rc = avformat_open_input(&raw, url.c_str(), nullptr, &rawOptions);
    std::unique_ptr<AVDictionary, DictionaryDeleter> options(rawOptions);
    if (rc < 0) {
        if (error) *error = errorText(rc);
        return nullptr;
    }
    InputFormat fmt(raw);
    rc = avformat_find_stream_info(fmt.get(), nullptr);
    if (rc < 0) {
        if (error) *error = errorText(rc);
        return nullptr;
    }
    return fmt;
}

}  // namespace morvane::ff
