// Custom presets stored as files.
#pragma once

#include "api/ref_counted_impl.h"
#include "norv/output.h"

namespace nvt {

// Placeholder until the preset store exists.
class CustomPresetFactory final : public nvtl::RefCountedImpl<ICustomPresetFactory> {};

} // namespace nvt
