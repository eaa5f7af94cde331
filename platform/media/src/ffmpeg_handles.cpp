#include "platform/ffmpeg_handles.h"

extern "C" {
#include <libavutil/dict.h>
}

namespace morvane::ff {

namespace {
struct DictionaryDeleter {
    void operator()(AVDictionary* d) const { av_dict_free(&d); }
};
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
