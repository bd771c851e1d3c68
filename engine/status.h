// What a step of the engine's work came to: SUCCESS, or the result code of
// its failure together with the reason in words, so that a failure deep in
// the pipeline (a filter, an encoder, the muxer) reaches the job's answer
// with its own cause.
#pragma once

#include <string>
#include <utility>

#include "norv/enums.h"

namespace norv_engine {

struct Status {
    nvt::Result code = nvt::SUCCESS;
    std::string why; ///< empty on success

    Status() = default;
    Status(nvt::Result failure, std::string reason) : code(failure), why(std::move(reason)) {}
    bool ok() const { return code == nvt::SUCCESS; }
};

} // namespace norv_engine
