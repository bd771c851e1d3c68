// norv report merge: the reports of a batch's shards as one summary, and
// the inputs the next run has to take again.
#include <cstdio>
#include <fstream>

#include "batch/batch_report.h"
#include "commands/commands.h"

namespace norv {

int CommandReport(const Invocation& in) {
    const Json summary = MergeReports(in.inputs);
    if (!in.rerunList.empty()) {
        // One input a line, ended by a line feed on every system, as
        // --from-list reads it.
        std::ofstream list(in.rerunList, std::ios::binary);
        for (const Json& input : summary["rerun"]) {
            list << input.get<std::string>() << '\n';
        }
        list.close();
        if (!list) {
            throw Failure(in.rerunList + ": cannot write the list", nvt::ENG_WRITING_ERROR);
        }
    }
    std::printf("%s\n", summary.dump(2).c_str());
    const Json& totals = summary["totals"];
    std::fprintf(stderr, "%zu files: %d done, %d skipped, %d failed, %d cancelled\n",
                 totals["files"].get<size_t>(), totals["done"].get<int>(),
                 totals["skipped"].get<int>(), totals["failed"].get<int>(),
                 totals["cancelled"].get<int>());
    return 0;
}

} // namespace norv
