// norv report merge: the reports of a batch's shards as one summary, and
// the inputs the next run has to take again. A shard that wrote no report
// is never passed over: its files are run again when the list the shards
// were cut from is given, and the merge fails, naming the shard, when not.
#include <cstdio>

#include "batch/batch_report.h"
#include "batch/path_list.h"
#include "commands/commands.h"

namespace norv {

namespace {

std::vector<std::string> Rerun(const Json& summary) {
    std::vector<std::string> inputs;
    for (const Json& input : summary["rerun"]) {
        inputs.push_back(input.get<std::string>());
    }
    return inputs;
}

} // namespace

int CommandReport(const Invocation& in) {
    const Json summary = MergeReports(in.inputs, in.listed);
    const std::vector<std::string> rerun = Rerun(summary);
    if (!in.rerunList0.empty()) {
        WritePathList(in.rerunList0, rerun, ListForm::Nul);
    }
    if (!in.rerunList.empty()) {
        // One input a line, ended by a line feed on every system, as
        // --from-list reads it: a name that holds a line break would come
        // back as other names.
        for (const std::string& input : rerun) {
            if (!FitsList(input, ListForm::Lines)) {
                throw Failure(in.rerunList + ": '" + input +
                                  "' holds a line break, which a list of lines cannot carry: "
                                  "write the list with --rerun-list0 (read by --from-list0)",
                              nvt::InvalidArgument);
            }
        }
        WritePathList(in.rerunList, rerun, ListForm::Lines);
    }
    if (in.json) {
        PrintJson(summary);
    } else {
        std::printf("%s\n", summary.dump(2).c_str());
    }
    const Json& totals = summary["totals"];
    std::fprintf(stderr,
                 "%zu files: %d done, %d skipped, %d failed, %d cancelled, %d not started\n",
                 totals["files"].get<size_t>(), totals["done"].get<int>(),
                 totals["skipped"].get<int>(), totals["failed"].get<int>(),
                 totals["cancelled"].get<int>(), totals["not_started"].get<int>());
    const Json& missing = summary["missing_shards"];
    for (const Json& shard : missing) {
        std::fprintf(stderr,
                     "norv: shard %u of %u wrote no report: its files are not in the summary; "
                     "give the list the shards were cut from (--from-list or --from-list0) "
                     "to run them again\n",
                     shard["index"].get<unsigned>(), shard["count"].get<unsigned>());
    }
    return missing.empty() ? 0 : 1;
}

} // namespace norv
