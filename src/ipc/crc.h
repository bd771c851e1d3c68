// The frame checksum: reflected CRC-32 of the IEEE 802.3 polynomial, register
// started at 0xFFFFFFFF and no final inversion, that is the bitwise
// complement of the common CRC-32 (so "abc" gives 0xCADBBE3D and no bytes
// give 0xFFFFFFFF). Computed by zlib.
#pragma once

#include <cstdint>

namespace nvds {

uint32_t FrameCrc(const void* data, uint32_t length);

} // namespace nvds
