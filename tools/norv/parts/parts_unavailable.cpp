// Builds without FFmpeg's libraries for norv (Windows): no parts.
#include "common/library.h"
#include "parts/film_parts.h"

namespace norv {

int CommandFilmParts(const Invocation& /*in*/) {
    throw Failure("--parts is not available in this build of norv (it reads and joins the parts "
                  "with FFmpeg's libraries)",
                  nvt::ENG_NOTIMPL_ERR);
}

} // namespace norv
