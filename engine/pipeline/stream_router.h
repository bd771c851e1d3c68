// Which input lanes a pass reads and which outputs each lane's streams
// feed. Lane 0 reads the joined files (their video, audio and subtitles),
// then one lane per extra audio file, then one per subtitle file. A lane
// reads each wanted stream once, however many outputs it feeds.
#pragma once

#include <cstddef>
#include <memory>
#include <vector>

#include "input_lane.h"
#include "status.h"
#include "stop_token.h"
#include "transcode_plan.h"

namespace norv_engine {

class StreamRouter {
public:
    /// Where a planned stream is read: its lane and its slot there.
    struct Place {
        size_t lane = 0;
        int slot = -1;
    };

    /// Opens the lanes for plan's streams. Soft subtitles are read only by a
    /// complete pass; burnt-in ones by every pass.
    Status Open(const TranscodePlan& plan, bool complete, OpenedFiles& opened);

    InputLane& lane(size_t i) { return *lanes_[i]; }
    InputLane& main() { return *lanes_[0]; }
    /// Of plan.audio's entries, in order.
    const std::vector<Place>& audio() const { return audio_; }
    /// Of plan.subtitles' entries, in order; none for an incomplete pass.
    const std::vector<Place>& subtitles() const { return subtitles_; }
    /// Of the picture subtitles burnt in; slot -1 when there are none.
    const Place& burn() const { return burn_; }
    /// The indices into audio() (or subtitles()) that the lane's stream of
    /// slot feeds.
    const std::vector<size_t>& AudioOf(size_t lane, int slot) const;
    const std::vector<size_t>& SubtitlesOf(size_t lane, int slot) const;

    /// The lane furthest behind that still has packets, so that the streams
    /// stay together in time; none when every lane has ended.
    bool Next(size_t& lane) const;
    void Ended(size_t lane) { active_[lane] = false; }

private:
    std::vector<std::unique_ptr<InputLane>> lanes_;
    std::vector<bool> active_;
    std::vector<Place> audio_;
    std::vector<Place> subtitles_;
    Place burn_;
    std::vector<std::vector<std::vector<size_t>>> laneAudio_;     // lane, slot -> audio()
    std::vector<std::vector<std::vector<size_t>>> laneSubtitles_; // lane, slot -> subtitles()
};

} // namespace norv_engine
