// What norv serve asks of the system around it: where the user's state and
// presets live, a lock that keeps a second norv serve off the same queue,
// and opening the page in the user's browser, with no shell in between.
#pragma once

#include <string>

namespace norv {

/// $XDG_STATE_HOME/norv, else ~/.local/state/norv (on Windows
/// %LOCALAPPDATA%\norv); empty when none is known.
std::string DefaultStateFolder();

/// $XDG_CONFIG_HOME/norv/presets, else ~/.config/norv/presets (on Windows
/// %APPDATA%\norv\presets); empty when none is known.
std::string DefaultPresetFolder();

/// Holds file locked for as long as it lives. Throws Failure when another
/// process holds it.
class FolderLock {
public:
    explicit FolderLock(const std::string& file);
    ~FolderLock();
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;

private:
    long long handle_ = -1;
};

/// Starts the desktop's opener on url (xdg-open; on Windows the shell's
/// association for http), without waiting for it. False when it could not
/// be started.
bool OpenInBrowser(const std::string& url);

/// Collects an opener that has ended, so none is left a zombie.
void ReapBrowser();

} // namespace norv
