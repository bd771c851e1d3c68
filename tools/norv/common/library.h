// What every part of norv uses from the library: text conversion for the
// library's UTF-16 interface, result names, and the error type that carries
// a Result up to main.
#pragma once

#include <norv/transcoder.h>

#include <stdexcept>
#include <string>

namespace norv {

template <class T> using Ptr = nvtl::RefCountedPtr<T>;

/// Takes over the reference an entry point or getter handed out through an
/// out-pointer.
template <class T> Ptr<T> Adopt(T* raw) {
    Ptr<T> held(raw);
    if (raw != nullptr) {
        raw->Release(); // the holder added its own reference
    }
    return held;
}

/// UTF-8 to the library's UTF-16 and back; invalid sequences become '?'.
nvt::WideString Widen(const std::string& text);
std::string Narrow(const nvt::WideString& text);

/// "ENG_UNSUPPORTED_FILE_TYPE (21)".
std::string Describe(nvt::Result result);

/// A failure that ends a command: main prints "norv: what: <result>" and
/// exits with status 1.
class Failure : public std::runtime_error {
public:
    Failure(const std::string& what, nvt::Result result)
        : std::runtime_error(what), result_(result) {}
    nvt::Result result() const { return result_; }

private:
    nvt::Result result_;
};

/// Throws a Failure when result is not SUCCESS.
void Check(nvt::Result result, const std::string& what);

/// The enumerator name without its family prefix: "AC_AAC" -> "AAC".
std::string ShortName(const char* enumName);

} // namespace norv
