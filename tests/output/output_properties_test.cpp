// The output properties holder.
#include <gtest/gtest.h>

#include <vector>

#include "output/output_properties.h"

namespace nvt {
namespace {

TEST(OutputProperties, FreshObjectReportsZerosAndASquareAspect) {
    nvtl::RefCountedPtr<TranscodeOutputProperties> p(new TranscodeOutputProperties());
    uint64_t size = 9;
    EXPECT_EQ(p->GetEstimatedSize(&size), SUCCESS);
    EXPECT_EQ(size, 0u);
    EXPECT_EQ(p->GetMinimumSize(&size), SUCCESS);
    EXPECT_EQ(size, 0u);
    uint32_t a = 9, b = 9;
    EXPECT_EQ(p->GetResolution(&a, &b), SUCCESS);
    EXPECT_EQ(a + b, 0u);
    EXPECT_EQ(p->GetTrickResolution(&a, &b), SUCCESS);
    EXPECT_EQ(a + b, 0u);
    EXPECT_EQ(p->GetVideoBitrateRange(&a, &b), SUCCESS);
    EXPECT_EQ(a + b, 0u);
    EXPECT_EQ(p->GetTrickVideoBitrate(&a), SUCCESS);
    EXPECT_EQ(a, 0u);
    int32_t time = 9;
    EXPECT_EQ(p->GetEstimatedTime(&time), SUCCESS);
    EXPECT_EQ(time, 0);
    uint64_t video = 9;
    std::vector<uint32_t> audio = {1, 2};
    EXPECT_EQ(p->GetBitrates(&video, audio), SUCCESS);
    EXPECT_EQ(video, 0u);
    EXPECT_TRUE(audio.empty());
    bool unreachable = true;
    EXPECT_EQ(p->IsSizeLimitUnreachable(&unreachable), SUCCESS);
    EXPECT_FALSE(unreachable);
    EXPECT_EQ(p->GetAspectRatio(&a, &b), SUCCESS);
    EXPECT_EQ(a, 1u);
    EXPECT_EQ(b, 1u);
}

TEST(OutputProperties, ReportsWhatTheSessionFilledIn) {
    nvtl::RefCountedPtr<TranscodeOutputProperties> p(new TranscodeOutputProperties());
    OutputPropertyValues& v = p->Values();
    v.estimatedSize = 5ull << 32;
    v.minimumSize = 1ull << 32;
    v.estimatedTime = 75;
    v.width = 1280;
    v.height = 720;
    v.videoKbps = 3950;
    v.audioKbps = {192, 128};
    v.videoMinKbps = 1;
    v.videoMaxKbps = 9550;
    v.trickKbps = 76;
    v.trickWidth = 640;
    v.trickHeight = 360;
    v.aspectNum = 16;
    v.aspectDen = 0;
    v.sizeLimitUnreachable = true;

    uint64_t size = 0;
    EXPECT_EQ(p->GetEstimatedSize(&size), SUCCESS);
    EXPECT_EQ(size, 5ull << 32);
    EXPECT_EQ(p->GetMinimumSize(&size), SUCCESS);
    EXPECT_EQ(size, 1ull << 32);
    uint32_t a = 0, b = 0;
    EXPECT_EQ(p->GetResolution(&a, &b), SUCCESS);
    EXPECT_EQ(a, 1280u);
    EXPECT_EQ(b, 720u);
    EXPECT_EQ(p->GetTrickResolution(&a, &b), SUCCESS);
    EXPECT_EQ(a, 640u);
    EXPECT_EQ(b, 360u);
    EXPECT_EQ(p->GetVideoBitrateRange(&a, &b), SUCCESS);
    EXPECT_EQ(a, 1u);
    EXPECT_EQ(b, 9550u);
    EXPECT_EQ(p->GetTrickVideoBitrate(&a), SUCCESS);
    EXPECT_EQ(a, 76u);
    EXPECT_EQ(p->GetAspectRatio(&a, &b), SUCCESS);
    EXPECT_EQ(a, 16u);
    EXPECT_EQ(b, 1u); // a zero part reads as 1
    int32_t time = 0;
    EXPECT_EQ(p->GetEstimatedTime(&time), SUCCESS);
    EXPECT_EQ(time, 75);
    uint64_t video = 0;
    std::vector<uint32_t> audio = {7, 7, 7, 7};
    EXPECT_EQ(p->GetBitrates(&video, audio), SUCCESS);
    EXPECT_EQ(video, 3950u);
    EXPECT_EQ(audio, (std::vector<uint32_t>{192, 128}));
    bool unreachable = false;
    EXPECT_EQ(p->IsSizeLimitUnreachable(&unreachable), SUCCESS);
    EXPECT_TRUE(unreachable);
}

} // namespace
} // namespace nvt
