// Custom presets stored as files: one CustomPresetData archive per file.
#pragma once

#include <cstdint>
#include <vector>

#include "api/ref_counted_impl.h"
#include "norv/output.h"
#include "norv/records.h"

namespace nvt {

/// True when a preset record holds real data: a profile in 0..11 and a
/// non-zero creation time.
bool IsValidPresetData(const CustomPresetData& data);

/// True when two records hold the same settings; the profile and its name
/// are not compared.
bool EqualAsSettings(const CustomPresetData& a, const CustomPresetData& b);

/// The file form of a record's archive text: every line feed stored as
/// carriage return + line feed. StoredToText undoes it.
std::string TextToStored(const std::string& text);
std::string StoredToText(const std::string& stored);

/// One preset: the data as last loaded or saved, the data as last set, and
/// the file they belong to.
class CustomPreset final : public nvtl::RefCountedImpl<ICustomPreset> {
public:
    CustomPreset();

    Result Load(const WideString& path) override;
    Result SaveAs(const WideString& path) override;
    Result Delete() override;
    Result Revert() override;
    WideString GetFilePath() override;
    bool IsModified() override;
    Result SetData(const CustomPresetData& data) override;
    Result GetData(CustomPresetData& out) override;

private:
    WideString filePath_;
    CustomPresetData saved_;
    CustomPresetData current_;
};

/// A snapshot list of presets.
class CustomPresetEnum final : public nvtl::RefCountedImpl<ICustomPresetEnum> {
public:
    explicit CustomPresetEnum(std::vector<nvtl::RefCountedPtr_STLSafe<ICustomPreset>> presets);

    uint32_t GetCount() override;
    Result GetItem(uint32_t index, ICustomPreset** out) override;

private:
    std::vector<nvtl::RefCountedPtr_STLSafe<ICustomPreset>> presets_;
};

/// Makes presets and lists the presets stored in a folder.
class CustomPresetFactory final : public nvtl::RefCountedImpl<ICustomPresetFactory> {
public:
    CustomPresetFactory() = default;

    Result EnumeratePresets(const WideString& folder, ICustomPresetEnum** out) override;
    Result CreatePreset(ICustomPreset** out) override;
};

} // namespace nvt
