#include "output/custom_preset.h"

#include <algorithm>
#include <utility>

#include "messages/xml.h"
#include "platform/file_io.h"
#include "platform/file_search.h"

namespace nvt {

namespace {

// Preset files are a few kilobytes; anything far larger is not a preset and
// is not read into memory.
constexpr std::size_t kMaxPresetFileBytes = 16u << 20;

bool IsEmptyPath(const WideString& path) {
    return path.empty() || path[0] == 0;
}

const WideString& PresetExtension() {
    static const WideString extension = NORV_WTEXT("preset");
    return extension;
}

} // namespace

bool IsValidPresetData(const CustomPresetData& data) {
    return data.profileID >= 0 && data.profileID < _NP_count_ && data.creationTime != 0;
}

bool EqualAsSettings(const CustomPresetData& a, const CustomPresetData& b) {
    return a.fileSizeLimit == b.fileSizeLimit && a.enableAspectRatio == b.enableAspectRatio &&
           a.resWidth == b.resWidth && a.resHeight == b.resHeight &&
           a.audioBitrates == b.audioBitrates && a.videoBitrate == b.videoBitrate &&
           a.enableVideo2passEncoding == b.enableVideo2passEncoding &&
           a.videoPassthrough == b.videoPassthrough && a.audioPassthrough == b.audioPassthrough &&
           a.m_bEnableTrickplayTrack == b.m_bEnableTrickplayTrack && a.trickWidth == b.trickWidth &&
           a.trickHeight == b.trickHeight && a.trickVideoBitrate == b.trickVideoBitrate &&
           a.enableHWAcceleration == b.enableHWAcceleration &&
           a.hwAcceleration == b.hwAcceleration &&
           a.externalSubtitleIndex == b.externalSubtitleIndex && a.rect.top == b.rect.top &&
           a.rect.bottom == b.rect.bottom && a.rect.left == b.rect.left &&
           a.rect.right == b.rect.right && a.prio == b.prio && a.creationTime == b.creationTime &&
           a.trackCodecs == b.trackCodecs && a.hevcQualityLevel == b.hevcQualityLevel &&
           a.wppEnabled == b.wppEnabled && a.calcQualityMetrics == b.calcQualityMetrics;
}

std::string TextToStored(const std::string& text) {
    std::string stored;
    stored.reserve(text.size() +
                   static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')));
    for (char c : text) {
        if (c == '\n') {
            stored += '\r';
        }
        stored += c;
    }
    return stored;
}

std::string StoredToText(const std::string& stored) {
    std::string text;
    text.reserve(stored.size());
    for (std::size_t i = 0; i < stored.size(); ++i) {
        if (stored[i] == '\r' && i + 1 < stored.size() && stored[i + 1] == '\n') {
            continue; // the line feed that follows is kept
        }
        text += stored[i];
    }
    return text;
}

CustomPreset::CustomPreset() : saved_(_NP_count_), current_(_NP_count_) {}

Result CustomPreset::Load(const WideString& path) {
    if (IsEmptyPath(path)) {
        return InvalidArgument;
    }
    try {
        std::string stored;
        switch (ReadWholeFile(path, stored, kMaxPresetFileBytes)) {
        case FileReadStatus::Ok:
            break;
        case FileReadStatus::CannotOpen:
            return CRTL_FILE_DOES_NOT_EXIST;
        case FileReadStatus::ReadFailed:
        case FileReadStatus::TooLarge:
            return ENG_ERR;
        }
        if (stored.empty() || stored[0] == '\0') {
            return ENG_ERR;
        }
        CustomPresetData parsed(_NP_count_);
        if (!FromXml(StoredToText(stored), parsed)) {
            return ENG_ERR;
        }
        // Every copy is made before the preset changes, so a failure leaves
        // it as it was.
        CustomPresetData current = parsed;
        WideString newPath = path;
        std::swap(saved_, parsed);
        std::swap(current_, current);
        filePath_.swap(newPath);
    } catch (...) {
        return CRTL_FILE_DOES_NOT_EXIST;
    }
    return SUCCESS;
}

Result CustomPreset::SaveAs(const WideString& path) {
    if (!IsValidPresetData(current_) || IsEmptyPath(path)) {
        return ENG_ERR;
    }
    std::string text;
    if (!ToXml(current_, text)) {
        return ENG_ERR;
    }
    try {
        CustomPresetData saved = current_;
        WideString newPath = path;
        if (!ReplaceFileContents(path, TextToStored(text))) {
            return ENG_WRITING_ERROR;
        }
        std::swap(saved_, saved);
        filePath_.swap(newPath);
    } catch (...) {
        return ENG_WRITING_ERROR;
    }
    return SUCCESS;
}

Result CustomPreset::Delete() {
    if (filePath_.empty()) {
        return CRTL_FILE_DOES_NOT_EXIST;
    }
    if (!DeleteFileAt(filePath_)) {
        return ENG_ERR;
    }
    filePath_.clear();
    return SUCCESS;
}

Result CustomPreset::Revert() {
    if (!IsValidPresetData(saved_)) {
        return ENG_ERR;
    }
    try {
        current_ = saved_;
    } catch (...) {
        return ENG_ERR;
    }
    return SUCCESS;
}

WideString CustomPreset::GetFilePath() {
    try {
        return filePath_;
    } catch (...) {
        return WideString();
    }
}

bool CustomPreset::IsModified() {
    return !EqualAsSettings(saved_, current_);
}

Result CustomPreset::SetData(const CustomPresetData& data) {
    if (!IsValidPresetData(data)) {
        return InvalidArgument;
    }
    try {
        current_ = data;
    } catch (...) {
        return ENG_ERR;
    }
    return SUCCESS;
}

Result CustomPreset::GetData(CustomPresetData& out) {
    if (!IsValidPresetData(current_)) {
        return ENG_ERR;
    }
    try {
        out = current_;
    } catch (...) {
        return ENG_ERR;
    }
    return SUCCESS;
}

CustomPresetEnum::CustomPresetEnum(std::vector<nvtl::RefCountedPtr_STLSafe<ICustomPreset>> presets)
    : presets_(std::move(presets)) {}

uint32_t CustomPresetEnum::GetCount() {
    return static_cast<uint32_t>(presets_.size());
}

Result CustomPresetEnum::GetItem(uint32_t index, ICustomPreset** out) {
    if (out == nullptr) {
        return InvalidArgument;
    }
    *out = nullptr;
    if (index >= presets_.size()) {
        return InvalidArgument;
    }
    *out = presets_[index].get();
    if (*out != nullptr) {
        (*out)->AddRef();
    }
    return SUCCESS;
}

Result CustomPresetFactory::EnumeratePresets(const WideString& folder, ICustomPresetEnum** out) {
    if (IsEmptyPath(folder) || out == nullptr) {
        return InvalidArgument;
    }
    *out = nullptr;
    try {
        struct Entry {
            int64_t creationTime;
            nvtl::RefCountedPtr_STLSafe<ICustomPreset> preset;
        };
        std::vector<Entry> entries;
        for (const WideString& path : FindFilesByExtension(folder, PresetExtension(), false)) {
            nvtl::RefCountedPtr_STLSafe<ICustomPreset> preset;
            preset = new CustomPreset();
            if (preset->Load(path) != SUCCESS) {
                continue; // files that do not load are left out
            }
            CustomPresetData data;
            const int64_t time = preset->GetData(data) == SUCCESS ? data.creationTime : 0;
            entries.push_back(Entry{time, std::move(preset)});
        }
        std::stable_sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) {
            return a.creationTime < b.creationTime;
        });
        std::vector<nvtl::RefCountedPtr_STLSafe<ICustomPreset>> presets;
        presets.reserve(entries.size());
        for (Entry& entry : entries) {
            presets.push_back(std::move(entry.preset));
        }
        nvtl::RefCountedPtr<CustomPresetEnum> list(new CustomPresetEnum(std::move(presets)));
        *out = list.get();
        list->AddRef();
    } catch (...) {
        return ENG_ERR;
    }
    return SUCCESS;
}

Result CustomPresetFactory::CreatePreset(ICustomPreset** out) {
    if (out == nullptr) {
        return InvalidArgument;
    }
    *out = nullptr;
    try {
        nvtl::RefCountedPtr<CustomPreset> preset(new CustomPreset());
        *out = preset.get();
        preset->AddRef();
    } catch (...) {
        return ENG_ERR;
    }
    return SUCCESS;
}

} // namespace nvt
