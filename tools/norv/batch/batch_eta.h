// The remaining time of a whole batch: each file weighs by its work (media
// seconds x output pixels a second x passes), not by its count or its size
// on disk, and the time comes from the rate measured on the batch itself,
// with the rates this machine measured before standing in until the batch
// has shown its own.
#pragma once

#include <cstdint>
#include <vector>

namespace norv {

/// A file's work in pixels: every output frame's pixels, once per pass.
double FileWork(double mediaSeconds, uint32_t width, uint32_t height, double frameRate,
                unsigned passes);

/// The seconds a batch takes whose files take fileSeconds each when run
/// parallel side by side (as the rate file keeps them, per number of files
/// at once): the side-by-side runs share the time. Below 0 when a file's
/// time is not known.
double SideBySideSeconds(const std::vector<double>& fileSeconds, unsigned parallel);

/// The seconds a batch still needs. work and fraction (0..1 done) hold one
/// entry per file; elapsed counts from the start of the first file;
/// priorSeconds is what the whole batch was expected to take before it
/// began (below 0: nothing known). Below 0 when nothing tells yet.
double BatchRemaining(const std::vector<double>& work, const std::vector<double>& fraction,
                      double elapsed, double priorSeconds);

} // namespace norv
