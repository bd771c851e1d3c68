// Output configuration: profiles, output settings, custom presets and the
// output properties a session reports.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "norv/enums.h"
#include "norv/records.h"
#include "norv/refcounted.h"
#include "norv/types.h"

namespace nvt {

class ITranscodeEngineInfo;

class ITranscodeProfile : public nvtl::IRefCounted {};
class ICustomPreset : public nvtl::IRefCounted {};
class ICustomPresetEnum : public nvtl::IRefCounted {};
class ICustomPresetFactory : public nvtl::IRefCounted {};
class ITranscodeOutputSettings : public nvtl::IRefCounted {};
class ITranscodeOutputProperties : public nvtl::IRefCounted {};

} // namespace nvt
