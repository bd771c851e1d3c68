// Basic vocabulary of the public interface: wide text and the export macro.
#pragma once

#include <string>

namespace nvt {

/// One UTF-16 code unit of the public interface's wide text.
#if defined(_WIN32)
using WideChar = wchar_t;
#else
using WideChar = char16_t;
#endif

/// UTF-16 text, as taken and returned by every public interface object.
using WideString = std::basic_string<WideChar>;

} // namespace nvt

/// A literal of wide text in the interface's character type, for example
/// NORV_WTEXT("holiday.mp4").
#if defined(_WIN32)
#define NORV_WTEXT(text) L##text
#else
#define NORV_WTEXT(text) u##text
#endif

#if defined(_WIN32)
#define NORV_API_EXPORT __declspec(dllexport)
#define NORV_API_IMPORT __declspec(dllimport)
#else
#define NORV_API_EXPORT __attribute__((visibility("default")))
#define NORV_API_IMPORT
#endif

#if defined(NORV_BUILDING_LIBRARY)
#define NORV_API NORV_API_EXPORT
#else
#define NORV_API NORV_API_IMPORT
#endif
