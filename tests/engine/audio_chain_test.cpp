// The sound chain over a long gap: sound that starts a minute late, or
// resumes a minute after it stopped, comes out as silence and then the
// sound at its time, in frames of the encoder's size on one clock, also
// when the end is told while the gap is still being filled.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "audio_chain.h"

namespace norv_engine {
namespace {

constexpr int kRate = 8000;

// A frame of tone at seconds on the timeline, in the decoder's format.
FramePtr Tone(double seconds, int samples) {
    FramePtr frame(av_frame_alloc());
    frame->format = AV_SAMPLE_FMT_FLTP;
    frame->sample_rate = kRate;
    frame->nb_samples = samples;
    av_channel_layout_default(&frame->ch_layout, 1);
    EXPECT_GE(av_frame_get_buffer(frame.get(), 0), 0);
    float* data = reinterpret_cast<float*>(frame->extended_data[0]);
    for (int i = 0; i < samples; ++i) {
        data[i] = (i % 16) < 8 ? 0.5f : -0.5f;
    }
    frame->pts = static_cast<int64_t>(seconds * AV_TIME_BASE);
    return frame;
}

TEST(AudioChain, ALongGapIsSilenceAndTheSoundComesAtItsTime) {
    struct Row {
        const char* what;
        std::vector<double> starts; // of frames of 800 samples, seconds
        bool endWhileFilling;       // the end told before anything is pulled
    };
    const Row rows[] = {
        {"sound a minute late", {60.0}, false},
        {"sound that resumes a minute later", {0.0, 60.0}, false},
        {"the end told while the gap is filled", {0.0, 60.0}, true},
        {"a short gap", {0.0, 0.5}, false},
    };
    const AVCodec* aac = avcodec_find_encoder(AV_CODEC_ID_AAC);
    ASSERT_NE(aac, nullptr);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        CodecContextPtr encoder(avcodec_alloc_context3(aac));
        encoder->sample_fmt = AV_SAMPLE_FMT_FLTP;
        encoder->sample_rate = kRate;
        encoder->bit_rate = 32000;
        av_channel_layout_default(&encoder->ch_layout, 1);
        ASSERT_GE(avcodec_open2(encoder.get(), aac, nullptr), 0);
        AudioChain chain(encoder.get());

        std::vector<float> out;
        int64_t clock = 0;
        FramePtr frame(av_frame_alloc());
        const auto pull = [&](int until) {
            int pulled = 0;
            while ((pulled = chain.Pull(frame.get())) == 0) {
                EXPECT_EQ(frame->pts, clock);
                EXPECT_LE(frame->nb_samples, encoder->frame_size);
                const float* data = reinterpret_cast<const float*>(frame->extended_data[0]);
                out.insert(out.end(), data, data + frame->nb_samples);
                clock += frame->nb_samples;
                av_frame_unref(frame.get());
            }
            EXPECT_EQ(pulled, until);
        };
        std::string why;
        for (double start : row.starts) {
            FramePtr tone = Tone(start, 800);
            ASSERT_TRUE(chain.Push(tone.get(), 100000, why)) << why;
            if (!row.endWhileFilling) {
                pull(AVERROR(EAGAIN));
            }
        }
        ASSERT_TRUE(chain.End(why)) << why;
        pull(AVERROR_EOF);

        // Silence before each frame's time, its sound from there on.
        const double last = row.starts.back();
        ASSERT_NEAR(static_cast<double>(out.size()), last * kRate + 800, 2);
        const size_t at = static_cast<size_t>(last * kRate);
        if (row.starts.size() == 1) {
            EXPECT_EQ(out[at - 1], 0.0f);
        }
        EXPECT_EQ(out[at - 100], 0.0f);
        EXPECT_NE(out[at + 2] - out[at + 10], 0.0f);
    }
}

} // namespace
} // namespace norv_engine
