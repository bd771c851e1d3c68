// The session's two source lists and the join check on adding a source.
#include "session/transcode_session.h"

#include "media/join_rule.h"

namespace nvt {

Result TranscodeSession::JoinCheck(ISourceMedia* added) {
    return JoinRule(JoinFactsOf(*sources_.front()), JoinFactsOf(*added),
                    AudioTrackCount::AtLeastFirst);
}

Result TranscodeSession::AddSource(ISourceMedia* source) {
    if (IsBusy()) {
        return NotAvailable;
    }
    if (source == nullptr) {
        return InvalidArgument;
    }
    try {
        if (!sources_.empty()) {
            const Result joinable = JoinCheck(source);
            if (joinable != SUCCESS) {
                return joinable;
            }
        }
        sources_.emplace_back();
        sources_.back() = source;
    } catch (...) {
        return ENG_ERR;
    }
    return SUCCESS;
}

Result TranscodeSession::AddExtraSource(ISourceMedia* source) {
    if (IsBusy()) {
        return NotAvailable;
    }
    if (source == nullptr) {
        return InvalidArgument;
    }
    try {
        extraSources_.emplace_back();
        extraSources_.back() = source;
    } catch (...) {
        return ENG_ERR;
    }
    return SUCCESS;
}

Result TranscodeSession::CountOf(const SourceList& list, int32_t* out) {
    if (out == nullptr) {
        return InvalidArgument;
    }
    *out = static_cast<int32_t>(list.size());
    return SUCCESS;
}

Result TranscodeSession::ItemOf(const SourceList& list, uint32_t index, ISourceMedia** out) {
    if (list.empty()) {
        return NotAvailable;
    }
    if (index >= list.size() || out == nullptr) {
        return InvalidArgument;
    }
    ISourceMedia* source = list[index].get();
    if (source != nullptr) {
        source->AddRef();
    }
    *out = source;
    return SUCCESS;
}

Result TranscodeSession::RemoveAt(SourceList& list, uint32_t index) {
    if (IsBusy() || list.empty()) {
        return NotAvailable;
    }
    if (index >= list.size()) {
        return InvalidArgument;
    }
    list.erase(list.begin() + index);
    return SUCCESS;
}

Result TranscodeSession::RemoveItem(SourceList& list, ISourceMedia* source) {
    if (IsBusy()) {
        return NotAvailable;
    }
    if (source == nullptr) {
        return InvalidArgument;
    }
    const auto found = std::find_if(list.begin(), list.end(),
                                    [source](const auto& held) { return held.get() == source; });
    if (found == list.end()) {
        return InvalidArgument;
    }
    list.erase(found);
    return SUCCESS;
}

Result TranscodeSession::ClearList(SourceList& list) {
    if (IsBusy()) {
        return NotAvailable;
    }
    list.clear();
    return SUCCESS;
}

Result TranscodeSession::GetSourceCount(int32_t* out) {
    return CountOf(sources_, out);
}
Result TranscodeSession::GetSource(uint32_t index, ISourceMedia** out) {
    return ItemOf(sources_, index, out);
}
Result TranscodeSession::RemoveSourceAt(uint32_t index) {
    return RemoveAt(sources_, index);
}
Result TranscodeSession::RemoveSource(ISourceMedia* source) {
    return RemoveItem(sources_, source);
}
Result TranscodeSession::ClearSources() {
    return ClearList(sources_);
}
Result TranscodeSession::GetExtraSourceCount(int32_t* out) {
    return CountOf(extraSources_, out);
}
Result TranscodeSession::GetExtraSource(uint32_t index, ISourceMedia** out) {
    return ItemOf(extraSources_, index, out);
}
Result TranscodeSession::RemoveExtraSourceAt(uint32_t index) {
    return RemoveAt(extraSources_, index);
}
Result TranscodeSession::RemoveExtraSource(ISourceMedia* source) {
    return RemoveItem(extraSources_, source);
}
Result TranscodeSession::ClearExtraSources() {
    return ClearList(extraSources_);
}

} // namespace nvt
