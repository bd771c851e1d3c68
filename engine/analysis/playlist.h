// Playlists of split recordings: an ffconcat list or a plain .m3u of local
// files. The engine reads them itself, so that it can report each listed
// file as one entry of the source's chain.
#pragma once

#include <string>
#include <vector>

#include "norv/enums.h"

namespace norv_engine {

/// The longest playlist the engine reads, in listed files.
constexpr size_t kMaxPlaylistFiles = 10000;

struct Playlist {
    bool isPlaylist = false;        ///< the file is a playlist; the rest is valid
    nvt::Result err = nvt::SUCCESS; ///< why the playlist cannot be used
    std::vector<std::string> files; ///< the listed files, relative paths resolved
};

/// Reads path as a playlist when it is one: a file that starts with the
/// ffconcat header, or a .m3u/.m3u8 file that is not an HTTP live
/// streaming playlist. Anything else gives isPlaylist false.
Playlist ReadPlaylist(const std::string& path);

} // namespace norv_engine
