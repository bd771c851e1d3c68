// The thread's last error is Windows' own: what the system calls leave
// behind is read and written through GetLastError and SetLastError.
#include "platform/last_error.h"

#include <windows.h>

namespace NorvOS {

uint32_t GetLastSystemError() {
    return ::GetLastError();
}

void SetLastSystemError(uint32_t code) {
    ::SetLastError(code);
}

} // namespace NorvOS
