// Fresh random identifiers in the registry form of a GUID.
#pragma once

#include <string>

namespace NorvOS {

/// A new random (version 4) GUID as upper-case text in braces, for example
/// "{0F3A9C1E-5B7D-4E21-9A6C-3D8E0B1F2A47}": 38
/// characters. Empty when the system's random generator fails.
std::string NewGuidText();

} // namespace NorvOS
