#include "timing/preview.h"

#include "common/transcode_run.h"

namespace norv {

OutputPreview PreviewOutput(const Sources& sources, const OutputChoice& choice,
                            nvt::ITranscodeEngineInfo* info) {
    OutputPreview preview;
    preview.settings = MakeOutputSettings(choice, sources.front().get());
    preview.session = MakeSession(sources, preview.settings.get(), info, choice.job.enginePriority);
    preview.properties = DeriveOutput(*preview.session);
    nvt::ITranscodeOutputProperties& properties = *preview.properties;
    preview.work = DescribeWork(*preview.settings, properties, sources);
    preview.measured = EstimateFromHistory(preview.work);
    preview.json = PropertiesJson(properties);
    AddEstimateJson(preview.json, preview.measured);
    preview.json["profile"] = nvt::EnumName<nvt::NorvProfile>(
        static_cast<nvt::NorvProfile>(preview.settings->GetProfile()));
    preview.json["size_limit"] = preview.settings->GetFileSizeLimit();
    return preview;
}

} // namespace norv
