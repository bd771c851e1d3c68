// Intrusive reference counting shared by every object the library hands out.
#pragma once

#include <cstdint>

namespace nvtl {

/// Base of every interface the library hands out.
///
/// An object starts with a count of 0; the creator's first holder raises it
/// to 1, and the object deletes itself when the last reference is released.
class IRefCounted {
public:
    virtual ~IRefCounted() = default;
    /// Adds one reference. Returns the new count.
    virtual int32_t AddRef() = 0;
    /// Drops one reference. Returns the new count when it is above 0;
    /// otherwise deletes the object and returns 0.
    virtual int32_t Release() = 0;
    /// Returns the current count.
    virtual int32_t GetRefCount() = 0;
};

/// Holder of one reference, suitable as the element type of standard
/// containers: copying adds a reference, destruction releases it.
template <class T> class RefCountedPtr_STLSafe {
public:
    RefCountedPtr_STLSafe() = default;
    RefCountedPtr_STLSafe(const RefCountedPtr_STLSafe& other) : ptr_(other.ptr_) {
        if (ptr_ != nullptr) {
            ptr_->AddRef();
        }
    }
    RefCountedPtr_STLSafe(RefCountedPtr_STLSafe&& other) noexcept : ptr_(other.ptr_) {
        other.ptr_ = nullptr;
    }
    virtual ~RefCountedPtr_STLSafe() { reset(); }

    RefCountedPtr_STLSafe& operator=(const RefCountedPtr_STLSafe& other) {
        if (this != &other) {
            *this = other.ptr_;
        }
        return *this;
    }
    RefCountedPtr_STLSafe& operator=(RefCountedPtr_STLSafe&& other) noexcept {
        if (this != &other) {
            reset();
            ptr_ = other.ptr_;
            other.ptr_ = nullptr;
        }
        return *this;
    }
    /// Releases the held object, then holds p with one added reference.
    RefCountedPtr_STLSafe& operator=(T* p) {
        if (p != nullptr) {
            p->AddRef(); // first, so that self-assignment keeps the object alive
        }
        reset();
        ptr_ = p;
        return *this;
    }

    T* get() const { return ptr_; }
    T* operator->() const { return ptr_; }
    T& operator*() const { return *ptr_; }
    explicit operator bool() const { return ptr_ != nullptr; }
    operator T*() const { return ptr_; }

    /// Releases the held object, if any, and clears the holder.
    void reset() {
        T* old = ptr_;
        ptr_ = nullptr;
        if (old != nullptr) {
            old->Release();
        }
    }

    /// Gives up the held reference without releasing it.
    T* detach() {
        T* p = ptr_;
        ptr_ = nullptr;
        return p;
    }

protected:
    T* ptr_ = nullptr;
};

/// Holder with construction from a raw pointer and hand-out through CopyTo.
template <class T> class RefCountedPtr : public RefCountedPtr_STLSafe<T> {
public:
    RefCountedPtr() = default;
    RefCountedPtr(T* p) { RefCountedPtr_STLSafe<T>::operator=(p); }
    RefCountedPtr(const RefCountedPtr& other) = default;
    RefCountedPtr(RefCountedPtr&& other) noexcept = default;
    RefCountedPtr(const RefCountedPtr_STLSafe<T>& other) : RefCountedPtr_STLSafe<T>(other) {}
    ~RefCountedPtr() override = default;

    RefCountedPtr& operator=(const RefCountedPtr& other) = default;
    RefCountedPtr& operator=(RefCountedPtr&& other) noexcept = default;
    RefCountedPtr& operator=(T* p) {
        RefCountedPtr_STLSafe<T>::operator=(p);
        return *this;
    }

    /// When out is non-null, stores the held pointer there and, when that is
    /// non-null, adds one reference for the receiver.
    void CopyTo(T** out) const {
        if (out != nullptr) {
            *out = this->ptr_;
            if (this->ptr_ != nullptr) {
                this->ptr_->AddRef();
            }
        }
    }
};

} // namespace nvtl
