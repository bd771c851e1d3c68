#include "decoder.h"

namespace norv_engine {

CodecContextPtr OpenDecoder(const AVStream* stream, int threads, const std::string& charset,
                            std::string& why) {
    const AVCodec* codec = avcodec_find_decoder(stream->codecpar->codec_id);
    if (codec == nullptr) {
        why = std::string("no decoder for ") + avcodec_get_name(stream->codecpar->codec_id);
        return nullptr;
    }
    CodecContextPtr context(avcodec_alloc_context3(codec));
    if (!context || avcodec_parameters_to_context(context.get(), stream->codecpar) < 0) {
        why = "out of memory";
        return nullptr;
    }
    context->pkt_timebase = stream->time_base;
    context->thread_count = threads;
    Options options;
    if (!charset.empty()) {
        options.Set("sub_charenc", charset.c_str());
    }
    const int opened = avcodec_open2(context.get(), codec, options.Address());
    if (opened < 0) {
        why = std::string("cannot open the ") + codec->name + " decoder: " + ErrorText(opened);
        return nullptr;
    }
    return context;
}

} // namespace norv_engine
