// Landlock through its system calls (the C library has no wrappers, and the
// system's headers may predate the rights used here).
#pragma once

#include <string>

#include "sandbox.h"

namespace norv_engine {

/// The Landlock ABI version the kernel offers; 0 when it has none (or it
/// is turned off).
int LandlockAbi();

/// Restricts every thread of the process to access (plus the system's
/// libraries, fonts and locale data) at the highest ABI the kernel offers,
/// up to the highest this code knows. False with why when it could not;
/// a process in which some thread could not be restricted ends at once.
bool ApplyLandlock(const JobAccess& access, std::string& why);

} // namespace norv_engine
