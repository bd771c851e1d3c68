// The engine's seccomp filters, through libseccomp. The first is put in
// place at start-up on every thread: an allow-list whose default kills the
// process. The second, once the job is confined, takes away the calls only
// confining needed.
#pragma once

#include <string>

namespace norv_engine {

/// The start-up filter. With logOnly, a call outside the allow-list is
/// logged by the kernel (its audit messages) instead of killing the
/// process. False with why when it could not be put in place.
bool InstallStartupFilter(bool logOnly, std::string& why);

/// The job filter: no more Landlock, limits or filters. False with why.
bool InstallJobFilter(std::string& why);

} // namespace norv_engine
