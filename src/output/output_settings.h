// Output settings for a profile.
#pragma once

#include "api/ref_counted_impl.h"
#include "norv/output.h"

namespace nvt {

// Placeholder until the settings object exists.
class TranscodeOutputSettings final : public nvtl::RefCountedImpl<ITranscodeOutputSettings> {
public:
    explicit TranscodeOutputSettings(int32_t profile) : profile_(profile) {}

private:
    int32_t profile_;
};

} // namespace nvt
