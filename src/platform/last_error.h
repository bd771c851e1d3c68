// The calling thread's last system error, in Win32 numbering, as the pipe
// and process wrappers leave it behind for their callers to inspect.
#pragma once

#include <cstdint>

namespace NorvOS {

constexpr uint32_t kErrorSuccess = 0;
constexpr uint32_t kErrorFileNotFound = 2;
constexpr uint32_t kErrorAccessDenied = 5;
constexpr uint32_t kErrorNotEnoughMemory = 8;
constexpr uint32_t kErrorGenFailure = 31;
constexpr uint32_t kErrorInvalidParameter = 87;
constexpr uint32_t kErrorBrokenPipe = 109;
constexpr uint32_t kErrorInvalidName = 123;
constexpr uint32_t kErrorPipeBusy = 231;
constexpr uint32_t kErrorNoData = 232;
constexpr uint32_t kErrorPipeNotConnected = 233;
constexpr uint32_t kErrorMoreData = 234;
constexpr uint32_t kErrorPipeListening = 536;
constexpr uint32_t kErrorOperationAborted = 995;

/// The last error recorded on the calling thread (0 after a success).
uint32_t GetLastSystemError();

/// Records code as the calling thread's last error.
void SetLastSystemError(uint32_t code);

} // namespace NorvOS
