#include "stream_router.h"

namespace norv_engine {

namespace {

// The slot of an ordinal in a lane's list, added when new.
int SlotOf(std::vector<int>& list, int ordinal) {
    for (size_t i = 0; i < list.size(); ++i) {
        if (list[i] == ordinal) {
            return static_cast<int>(i);
        }
    }
    list.push_back(ordinal);
    return static_cast<int>(list.size() - 1);
}

// The outputs of each lane's slots, from the places of the outputs.
std::vector<std::vector<std::vector<size_t>>>
OutputsOfSlots(const std::vector<StreamRouter::Place>& places, const std::vector<size_t>& slots) {
    std::vector<std::vector<std::vector<size_t>>> map(slots.size());
    for (size_t l = 0; l < slots.size(); ++l) {
        map[l].resize(slots[l]);
    }
    for (size_t i = 0; i < places.size(); ++i) {
        map[places[i].lane][static_cast<size_t>(places[i].slot)].push_back(i);
    }
    return map;
}

} // namespace

Status StreamRouter::Open(const TranscodePlan& plan, bool complete, OpenedFiles& opened) {
    const size_t extraLanes = plan.extraAudioFiles.size();
    const size_t subtitleLanes =
        complete || plan.burnPictures ? plan.externalSubtitleFiles.size() : 0;
    std::vector<LaneStreams> wanted(1 + extraLanes + subtitleLanes);
    wanted[0].video = true;
    for (const AudioPlan& a : plan.audio) {
        Place place;
        place.lane = a.extra ? 1 + a.extraLane : 0;
        place.slot = SlotOf(wanted[place.lane].audio, a.ordinal);
        audio_.push_back(place);
    }
    if (complete) {
        for (const SubtitlePlan& s : plan.subtitles) {
            Place place;
            place.lane = s.external ? 1 + extraLanes + s.externalLane : 0;
            place.slot = SlotOf(wanted[place.lane].subtitles, s.ordinal);
            subtitles_.push_back(place);
        }
    }
    if (plan.burnPictures) {
        const SubtitlePlan& b = *plan.burnPictures;
        burn_.lane = b.external ? 1 + extraLanes + b.externalLane : 0;
        burn_.slot = SlotOf(wanted[burn_.lane].subtitles, b.ordinal);
    }
    std::vector<size_t> audioSlots;
    std::vector<size_t> subtitleSlots;
    for (const LaneStreams& w : wanted) {
        audioSlots.push_back(w.audio.size());
        subtitleSlots.push_back(w.subtitles.size());
    }
    laneAudio_ = OutputsOfSlots(audio_, audioSlots);
    laneSubtitles_ = OutputsOfSlots(subtitles_, subtitleSlots);
    for (size_t l = 0; l < wanted.size(); ++l) {
        std::vector<LaneFile> files;
        if (l == 0) {
            files = plan.files;
        } else if (l <= extraLanes) {
            files.push_back(LaneFile{plan.extraAudioFiles[l - 1], 0});
        } else {
            files.push_back(LaneFile{plan.externalSubtitleFiles[l - 1 - extraLanes], 0});
        }
        lanes_.push_back(std::make_unique<InputLane>(std::move(files), wanted[l], opened));
        if (!lanes_.back()->OpenFirst()) {
            return {lanes_.back()->error(), lanes_.back()->why()};
        }
    }
    active_.assign(lanes_.size(), true);
    return {};
}

const std::vector<size_t>& StreamRouter::AudioOf(size_t lane, int slot) const {
    return laneAudio_[lane][static_cast<size_t>(slot)];
}

const std::vector<size_t>& StreamRouter::SubtitlesOf(size_t lane, int slot) const {
    return laneSubtitles_[lane][static_cast<size_t>(slot)];
}

bool StreamRouter::Next(size_t& lane) const {
    size_t next = lanes_.size();
    for (size_t l = 0; l < lanes_.size(); ++l) {
        if (active_[l] &&
            (next == lanes_.size() || lanes_[l]->Position() < lanes_[next]->Position())) {
            next = l;
        }
    }
    lane = next;
    return next < lanes_.size();
}

} // namespace norv_engine
