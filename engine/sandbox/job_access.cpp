// The files each request gives its job, for the sandbox.
#include "playlist.h"
#include "sandbox.h"

namespace norv_engine {

namespace {

std::string FolderOf(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

bool IsStreamingListName(const std::string& path) {
    const size_t dot = path.find_last_of('.');
    if (dot == std::string::npos || path.find('/', dot) != std::string::npos) {
        return false;
    }
    std::string extension = path.substr(dot + 1);
    for (char& c : extension) {
        c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    }
    return extension == "m3u" || extension == "m3u8";
}

// An input file, and what it names when it is a playlist.
void AddInput(const std::string& path, JobAccess& access) {
    if (path.empty()) {
        return;
    }
    access.readFiles.push_back(path);
    const Playlist list = ReadPlaylist(path);
    if (list.isPlaylist) {
        access.readFiles.insert(access.readFiles.end(), list.files.begin(), list.files.end());
    } else if (IsStreamingListName(path)) {
        // A live streaming playlist is read by FFmpeg, segments and all:
        // they may lie in its folder and below.
        access.readFolders.push_back(FolderOf(path));
    }
}

void AddWritable(const std::string& file, JobAccess& access) {
    if (!file.empty()) {
        access.writeFolders.push_back(FolderOf(file));
    }
}

} // namespace

JobAccess AccessFor(const TBS::TechnicalInfoRequest& request) {
    JobAccess access;
    AddWritable(request.technicalDetailsFile, access);
    return access;
}

JobAccess AccessFor(const TBS::AnalyzeRequest& request) {
    JobAccess access;
    AddInput(request.inputFile, access);
    AddWritable(request.screenshotFilename, access);
    return access;
}

JobAccess AccessFor(const TBS::TranscodeRequest& request) {
    JobAccess access;
    for (const std::string& input : request.inputFiles) {
        AddInput(input, access);
    }
    for (const TBS::SSourceFileList& chain : request.srcFileListList) {
        for (const TBS::SSourceFile& file : chain.fileList) {
            AddInput(file.source, access);
        }
    }
    for (const std::string& extra : request.extraFiles) {
        AddInput(extra, access);
    }
    // Subtitle files; the names of a file's own tracks are no files, and
    // whatever is not there is left out by the sandbox.
    for (const std::string& name : request.subtitleTrackNames) {
        if (!name.empty()) {
            access.readFiles.push_back(name);
        }
    }
    AddWritable(request.outputFile, access);
    if (request.useTempDir && !request.tempDir.empty()) {
        access.writeFolders.push_back(request.tempDir);
    }
    access.sizeLimit = request.CustomPresetData.fileSizeLimit;
    return access;
}

} // namespace norv_engine
