// The start of a one-pass x264 encode, warmed up: what the encoder gives
// out for the warm-up is left out, and the output holds every frame once,
// in its own time, from a keyframe.
#include <gtest/gtest.h>

#include <set>
#include <vector>

#include "rate_warm_up.h"

namespace norv_engine {
namespace {

FramePtr Picture(int64_t pts) {
    FramePtr frame(av_frame_alloc());
    frame->format = kEncodePixelFormat;
    frame->width = 64;
    frame->height = 64;
    EXPECT_GE(av_frame_get_buffer(frame.get(), 0), 0);
    for (int plane = 0; plane < 3; ++plane) {
        const int rows = plane == 0 ? 64 : 32;
        for (int y = 0; y < rows; ++y) {
            for (int x = 0; x < frame->linesize[plane]; ++x) {
                frame->data[plane][y * frame->linesize[plane] + x] =
                    static_cast<uint8_t>(plane == 0 ? (x * 3 + y + pts * 7) & 0xff : 128);
            }
        }
    }
    frame->pts = pts;
    return frame;
}

TEST(RateWarmUp, TheOutputHoldsEachFrameOnceFromAKeyframe) {
    struct Row {
        const char* what;
        int frames;
        int warmUp;
    };
    const Row rows[] = {
        {"longer than its warm-up", 30, 8},
        {"shorter than its warm-up", 5, 8},
        {"none", 12, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        VideoEncoderSetup setup;
        setup.encoder = "libx264";
        setup.width = 64;
        setup.height = 64;
        setup.bitrate = 200000;
        setup.warmUpFrames = row.warmUp;
        std::string why;
        CodecContextPtr encoder = OpenVideoEncoder(setup, why);
        ASSERT_TRUE(encoder) << why;

        RateWarmUp warmUp(row.warmUp);
        std::vector<int64_t> pts, dts;
        std::vector<bool> keys;
        const auto sink = [&](AVPacket* packet) {
            if (warmUp.Keep(packet)) {
                pts.push_back(packet->pts);
                dts.push_back(packet->dts);
                keys.push_back((packet->flags & AV_PKT_FLAG_KEY) != 0);
            }
            return true;
        };
        const RateWarmUp::Send send = [&](const AVFrame* frame) -> Status {
            std::string failed;
            return Encode(encoder.get(), frame, sink, failed) ? Status{}
                                                              : Status{nvt::ENG_ERR, failed};
        };
        for (int i = 0; i < row.frames; ++i) {
            FramePtr frame = Picture(100 + i);
            ASSERT_TRUE(warmUp.Take(frame.get(), send).ok());
        }
        ASSERT_TRUE(warmUp.Take(nullptr, send).ok());

        ASSERT_EQ(pts.size(), static_cast<size_t>(row.frames));
        EXPECT_TRUE(keys.front());
        const std::set<int64_t> times(pts.begin(), pts.end());
        EXPECT_EQ(times.size(), pts.size());
        EXPECT_EQ(*times.begin(), 100);
        EXPECT_EQ(*times.rbegin(), 100 + row.frames - 1);
        for (size_t i = 1; i < dts.size(); ++i) {
            EXPECT_LT(dts[i - 1], dts[i]);
        }
    }
}

} // namespace
} // namespace norv_engine
