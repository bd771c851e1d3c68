// The time a transcode takes on this machine, from what it measured: the
// rate of earlier transcodes kept in the rate file, or a few seconds of the
// real job timed through the real engine. The library's own figure
// (GetEstimatedTime) is a fixed formula and is shown beside it as it is.
#pragma once

#include <string>
#include <vector>

#include "common/json_output.h"
#include "common/library.h"
#include "common/media.h"
#include "common/settings.h"
#include "timing/rate_cache.h"

namespace norv {

/// What a job makes: its key in the rate file and its work in pixels.
struct JobWork {
    RateKey key;
    double pixels = 0; ///< see FileWork
};

/// The work of a session's output, from the settings and the properties the
/// library derived for them.
JobWork DescribeWork(nvt::ITranscodeOutputSettings& settings,
                     nvt::ITranscodeOutputProperties& properties, const Sources& sources);

/// As above, deriving the properties through the session. Throws Failure.
JobWork DescribeWork(nvt::ITranscodeSession& session, nvt::ITranscodeOutputSettings& settings,
                     const Sources& sources);

struct MeasuredEstimate {
    double seconds = -1; ///< below 0: nothing measured
    std::string from;    ///< "history", "history-other-size", "measure"; empty when unknown
};

/// From the rates of earlier transcodes run as work.key.jobs side by side.
MeasuredEstimate EstimateFromHistory(const JobWork& work);

/// Runs the session's job into a scratch folder for a few seconds (it is
/// cancelled then, and the folder removed) and extrapolates from the
/// progress it made. extension: the output's file extension; setupSeconds:
/// what starting the engine and analysing the sources took, which a
/// transcode takes as well.
MeasuredEstimate MeasureRun(Ptr<nvt::ITranscodeSession> session, const Sources& sources,
                            const JobWork& work, const std::string& extension, double setupSeconds);

/// Stores the rate of a transcode that finished after seconds, run as
/// work.key.jobs side by side. Never throws.
void RememberRun(const JobWork& work, double seconds);

/// A batch's files analysed up front, each weighed by its work, with the
/// library's figure and the measured estimate for the whole batch.
class BatchWork {
public:
    /// Analyses every input (parallel at once) and derives each output.
    BatchWork(const std::vector<std::string>& inputs, const OutputChoice& choice,
              nvt::ITranscodeEngineInfo* info, unsigned parallel);

    /// The sources of file i; throws the Failure its analysis met.
    Sources SourcesOf(size_t i) const;
    /// Each file's work (0 for one that cannot be transcoded).
    const std::vector<double>& work() const { return work_; }
    /// The sum of the library's figures, in seconds.
    double librarySeconds() const { return librarySeconds_; }
    /// From the rates of earlier batches run with as many files at once.
    const MeasuredEstimate& measured() const { return measured_; }
    /// Stores the rate of file i, which finished after seconds. Never throws.
    void Remember(size_t i, double seconds) const;

private:
    std::vector<Analysis> analyses_;
    std::vector<JobWork> jobs_;
    std::vector<double> work_;
    double librarySeconds_ = 0;
    MeasuredEstimate measured_;
    unsigned parallel_;
};

/// "measured_seconds" and "measured_from" (null when unknown).
void AddEstimateJson(Json& j, const MeasuredEstimate& estimate);

/// "about 0:00:12 (this machine's earlier transcodes)", or how to get one.
std::string EstimateText(const MeasuredEstimate& estimate);

} // namespace norv
