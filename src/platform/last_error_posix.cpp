#include "platform/last_error.h"

namespace NorvOS {

namespace {
thread_local uint32_t tLastError = kErrorSuccess;
} // namespace

uint32_t GetLastSystemError() {
    return tLastError;
}

void SetLastSystemError(uint32_t code) {
    tLastError = code;
}

} // namespace NorvOS
