// A built-in output profile for a frame rate.
#pragma once

#include "api/ref_counted_impl.h"
#include "norv/output.h"

namespace nvt {

// Placeholder until the profile tables exist.
class TranscodeProfile final : public nvtl::RefCountedImpl<ITranscodeProfile> {
public:
    TranscodeProfile(int32_t profile, double frameRate)
        : profile_(profile), frameRate_(frameRate) {}

private:
    int32_t profile_;
    double frameRate_;
};

} // namespace nvt
