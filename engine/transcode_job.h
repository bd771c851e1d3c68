// Transcoding: the TranscodeRequest job (declared with the other handlers
// in requests.h).
#pragma once

#include "requests.h"
