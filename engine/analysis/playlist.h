// Playlists of split recordings: an ffconcat list or a plain .m3u of local
// files. The engine reads them itself, so that it can report each listed
// file as one entry of the source's chain.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "ffmpeg.h"
#include "norv/enums.h"

namespace norv_engine {

/// The longest playlist the engine reads, in listed files.
constexpr size_t kMaxPlaylistFiles = 10000;

/// The part of a listed file that plays, from an ffconcat list's inpoint,
/// outpoint and duration directives: microseconds of the file's own
/// timestamps; AV_NOPTS_VALUE where the list says nothing.
struct EntryTrims {
    int64_t inpoint = AV_NOPTS_VALUE;
    int64_t outpoint = AV_NOPTS_VALUE;
    int64_t duration = AV_NOPTS_VALUE; ///< how long the entry lasts

    bool Any() const {
        return inpoint != AV_NOPTS_VALUE || outpoint != AV_NOPTS_VALUE ||
               duration != AV_NOPTS_VALUE;
    }
    /// Where the entry starts, of a file starting at fileStart.
    int64_t Start(int64_t fileStart) const;
    /// Where it ends (AV_NOPTS_VALUE: at the file's end): the outpoint, or
    /// its start and duration.
    int64_t End(int64_t fileStart) const;
    /// How long it plays, of a file starting at fileStart and playing for
    /// fileDuration.
    int64_t Length(int64_t fileStart, int64_t fileDuration) const;
};

struct Playlist {
    bool isPlaylist = false;        ///< the file is a playlist; the rest is valid
    nvt::Result err = nvt::SUCCESS; ///< why the playlist cannot be used
    std::vector<std::string> files; ///< the listed files, relative paths resolved
    std::vector<EntryTrims> trims;  ///< of each listed file
};

/// Reads path as a playlist when it is one: a file that starts with the
/// ffconcat header, or a .m3u/.m3u8 file that is not an HTTP live
/// streaming playlist. Anything else gives isPlaylist false.
Playlist ReadPlaylist(const std::string& path);

} // namespace norv_engine
