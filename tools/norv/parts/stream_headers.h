// Whether the parts' codec headers (the out-of-band parameter sets a
// container keeps) let their pictures be joined as one stream.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace norv {

/// True when headers a and b say the same but for the level, whose byte in
/// the record is at levelByte (-1: no level to tell apart; the headers
/// must then be the same). keep is set to the header to keep: 1 when b
/// names the higher level, else 0.
bool HeadersAgree(int levelByte, const std::vector<uint8_t>& a, const std::vector<uint8_t>& b,
                  int& keep);

/// The same for H.264 records (avcC) whose sequence parameter sets differ
/// in what an encoder derives from the level as well: the longest motion
/// vectors it promises. They agree when the one of the higher level
/// promises no less than the other in each; keep names that one.
bool AvcHeadersAgree(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b, int& keep);

} // namespace norv
