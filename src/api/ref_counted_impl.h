// The reference count every implementation class of the library shares.
#pragma once

#include <atomic>
#include <cstdint>

namespace nvtl {

/// Implements the IRefCounted operations of Interface with an atomic count.
///
/// The count starts at 0; the creator's first holder raises it to 1.
/// Release deletes the object through its virtual destructor when the count
/// falls to 0 or below. The returned values are those of a plain counter;
/// the atomic only keeps concurrent AddRef/Release calls from racing.
template <class Interface> class RefCountedImpl : public Interface {
public:
    int32_t AddRef() override { return count_.fetch_add(1, std::memory_order_relaxed) + 1; }

    int32_t Release() override {
        const int32_t now = count_.fetch_sub(1, std::memory_order_acq_rel) - 1;
        if (now > 0) {
            return now;
        }
        delete this;
        return 0;
    }

    int32_t GetRefCount() override { return count_.load(std::memory_order_acquire); }

protected:
    RefCountedImpl() = default;
    ~RefCountedImpl() override = default;

private:
    std::atomic<int32_t> count_{0};
};

} // namespace nvtl
