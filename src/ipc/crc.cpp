#include "ipc/crc.h"

#include <zlib.h>

namespace nvds {

uint32_t FrameCrc(const void* data, uint32_t length) {
    // zlib starts its register at all ones and inverts it at the end; the
    // frame field leaves the final inversion out.
    const auto* bytes = static_cast<const Bytef*>(data);
    return ~static_cast<uint32_t>(::crc32(0UL, length != 0 ? bytes : Z_NULL, length));
}

} // namespace nvds
