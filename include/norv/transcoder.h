// The library's one public header: the seven entry points and every
// interface, enumeration and record a caller uses.
//
// Every object handed out carries one reference that belongs to the caller,
// who releases it with Release(). Every operation returns a Result.
#pragma once

#include <cstdint>
#include <vector>

#include "norv/engine_info.h"
#include "norv/enums.h"
#include "norv/media.h"
#include "norv/output.h"
#include "norv/records.h"
#include "norv/refcounted.h"
#include "norv/session.h"
#include "norv/types.h"

extern "C" {

/// Stores the engine location (the engine executable, or ":" followed by the
/// pipe name of an engine that is already running). With a non-null
/// engineInfo it also stores the logging parameters and the technical-details
/// file, asks the engine for its technical information and hands out an
/// information object (even when the exchange fails).
/// Returns SUCCESS, InvalidArgument for an empty location, or the exchange's
/// result (ENG_ERR when the engine could not be started).
NORV_API nvt::Result InitTranscodeEngine(const nvt::WideString& engineLocation,
                                         const nvt::SLoggerParam& loggerParam,
                                         nvt::ITranscodeEngineInfo** engineInfo,
                                         nvt::WideString technicalDetailsFile);

/// Analyses inputFile and replaces the contents of sources with one source
/// per analysed file. Returns SUCCESS, InvalidArgument for an empty path,
/// NotAvailable before InitTranscodeEngine, ENG_ERR when the engine could not
/// be reached, or the engine's analysis result. An allocation failure during
/// analysis is thrown as std::bad_alloc.
NORV_API nvt::Result
CreateMediaSource(const nvt::WideString& inputFile,
                  std::vector<nvtl::RefCountedPtr<nvt::ISourceMedia>>& sources);

/// As CreateMediaSource, and asks the engine for a thumbnail no larger than
/// the two sizes, written to screenshotFile; on return the sizes hold the
/// thumbnail size the engine reports.
NORV_API nvt::Result
CreateMediaSourceEx(const nvt::WideString& inputFile, int32_t* thumbnailWidth,
                    int32_t* thumbnailHeight, const nvt::WideString& screenshotFile,
                    std::vector<nvtl::RefCountedPtr<nvt::ISourceMedia>>& sources);

/// Creates output settings with a profile's defaults. Returns SUCCESS,
/// InvalidArgument for a null out-pointer or a profile outside 0..11, or
/// ENG_ERR when the object could not be made.
NORV_API nvt::Result CreateDefaultTranscodeOutputSettings(nvt::NorvProfile profile,
                                                          nvt::ITranscodeOutputSettings** settings);

/// Creates a profile object for a profile and frame rate. Returns SUCCESS,
/// InvalidArgument for a null out-pointer or a profile outside 0..11, or
/// ENG_ERR when the object could not be made.
NORV_API nvt::Result CreateTranscodeProfile(nvt::NorvProfile profile, double frameRate,
                                            nvt::ITranscodeProfile** profileOut);

/// Creates a transcode session. Returns SUCCESS, InvalidArgument for a null
/// out-pointer, NotAvailable before InitTranscodeEngine, or ENG_ERR.
NORV_API nvt::Result CreateTranscodeSession(nvt::ITranscodeSession** session);

/// Creates the custom preset factory. Returns SUCCESS, InvalidArgument for a
/// null out-pointer, or ENG_ERR.
NORV_API nvt::Result CreateCustomPresetFactory(nvt::ICustomPresetFactory** factory);

} // extern "C"
