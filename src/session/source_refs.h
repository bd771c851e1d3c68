// Holders for sources and for the objects their getters hand out.
#pragma once

#include <vector>

#include "norv/media.h"
#include "norv/refcounted.h"

namespace nvt {

/// The sources of a session, in order.
using SourceList = std::vector<nvtl::RefCountedPtr_STLSafe<ISourceMedia>>;

/// Owns the one reference a getter added; releases it on destruction.
/// Not copyable: each received reference is released exactly once.
template <class T> class HeldRef {
public:
    HeldRef() = default;
    ~HeldRef() { Reset(); }
    HeldRef(const HeldRef&) = delete;
    HeldRef& operator=(const HeldRef&) = delete;

    /// Releases what is held and returns the slot a getter writes into.
    T** Receive() {
        Reset();
        return &ptr_;
    }
    T* get() const { return ptr_; }
    T* operator->() const { return ptr_; }
    explicit operator bool() const { return ptr_ != nullptr; }

    void Reset() {
        T* old = ptr_;
        ptr_ = nullptr;
        if (old != nullptr) {
            old->Release();
        }
    }

private:
    T* ptr_ = nullptr;
};

} // namespace nvt
