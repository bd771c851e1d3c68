// UTF-8 / UTF-16 conversion and the scratch buffer it works in.
#pragma once

#include <cstdint>
#include <new>
#include <string>

#include "norv/types.h"

namespace nvtl {

/// Heap array of T that never copies old contents when resized.
/// Invariant: Data() is null exactly when Count() is 0.
template <class T> class MemoryBuffer {
public:
    MemoryBuffer() = default;
    virtual ~MemoryBuffer() { Resize(0); }
    MemoryBuffer(const MemoryBuffer&) = delete;
    MemoryBuffer& operator=(const MemoryBuffer&) = delete;

    /// Reallocates to newCount elements when the count changes (contents are
    /// not kept); on allocation failure the buffer is left empty. With
    /// zeroFill every element of a non-empty buffer is set to 0.
    void Resize(uint32_t newCount, bool zeroFill = false) {
        if (newCount != count_) {
            delete[] data_;
            data_ = nullptr;
            count_ = 0;
            if (newCount != 0) {
                data_ = new (std::nothrow) T[newCount];
                if (data_ != nullptr) {
                    count_ = newCount;
                }
            }
        }
        if (zeroFill && data_ != nullptr) {
            for (uint32_t i = 0; i < count_; ++i) {
                data_[i] = T();
            }
        }
    }

    T* Data() const { return data_; }
    uint32_t Count() const { return count_; }

private:
    T* data_ = nullptr;
    uint32_t count_ = 0;
};

} // namespace nvtl

namespace nvt {

/// UTF-8 to UTF-16. Returns an empty string for empty or malformed input;
/// an embedded NUL ends the result.
WideString Utf8ToWide(const std::string& utf8);

/// UTF-16 to UTF-8. Returns an empty string for empty input or input ending
/// in a lone high surrogate; other lone surrogates are encoded as they are.
/// An embedded NUL ends the result.
std::string WideToUtf8(const WideString& wide);

/// Convenience for literals and tests: ASCII/UTF-8 text to a wide string.
inline WideString W(const char* utf8) {
    return Utf8ToWide(utf8 ? std::string(utf8) : std::string());
}

} // namespace nvt
