#include "quality/probe.h"

#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>

#include "batch/batch_report.h"
#include "common/console.h"
#include "common/json_output.h"
#include "common/transcode_run.h"
#include "encoders.h"
#include "timing/estimate.h"
#include "timing/rate_cache.h"

namespace norv {

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// Changes whenever what a probe measures or how it places its samples
// changes, so that points of another kind are never mixed in.
constexpr char kProbeFormat[] = "norv-probe-11";
// A point this close to one asked for serves for it.
constexpr double kSameRate = 0.03;
// The shares of a probe step's time its encode and its measuring take.
constexpr double kEncodeShare = 0.8;

double Seconds(Clock::time_point since) {
    return std::chrono::duration<double>(Clock::now() - since).count();
}

std::string ProbeFolder() {
    const std::string rates = DefaultRateFile();
    return rates.empty() ? std::string() : (fs::path(rates).parent_path() / "probes").string();
}

// FNV-1a: a short, stable file name for a long key.
std::string HashName(const std::string& key) {
    uint64_t hash = 1469598103934665603ull;
    for (unsigned char c : key) {
        hash = (hash ^ c) * 1099511628211ull;
    }
    char text[24];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(hash));
    return text;
}

std::string FileIdentity(const std::string& path) {
    std::error_code error;
    const auto size = fs::file_size(path, error);
    const auto time = fs::last_write_time(path, error);
    return fs::absolute(path, error).string() + "|" + std::to_string(error ? 0 : size) + "|" +
           std::to_string(time.time_since_epoch().count());
}

// A path as one value of an ffconcat line: in single quotes, a quote in it
// closed, escaped and opened again.
std::string QuotedEntry(const std::string& path) {
    if (path.find_first_of("\r\n") != std::string::npos) {
        throw Failure(path + ": a path with a line break cannot be probed", nvt::InvalidArgument);
    }
    std::string quoted = "'";
    for (char c : path) {
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return quoted + "'";
}

Json PointJson(const RatePoint& p) {
    return Json{{"asked_kbps", p.askedKbps},
                {"made_kbps", p.madeKbps},
                {"worst", p.worst},
                {"mean", p.mean},
                {"lift", p.lift}};
}

RatePoint PointOf(const Json& j) {
    RatePoint p;
    p.askedKbps = j.at("asked_kbps").get<double>();
    p.madeKbps = j.at("made_kbps").get<double>();
    p.worst = j.at("worst").get<double>();
    p.mean = j.at("mean").get<double>();
    p.lift = j.at("lift").get<double>();
    return p;
}

Json OutputJson(const SampleOutput& o) {
    return Json{{"asked_kbps", o.askedKbps},
                {"seconds", o.seconds},
                {"bytes", o.bytes},
                {"key_bytes", o.keyBytes},
                {"keyframes", o.keyframes}};
}

SampleOutput OutputOf(const Json& j) {
    return SampleOutput{j.at("asked_kbps").get<double>(), j.at("seconds").get<double>(),
                        j.at("bytes").get<uint64_t>(), j.at("key_bytes").get<uint64_t>(),
                        j.at("keyframes").get<unsigned>()};
}

double TitleSeconds(const std::vector<TitleFile>& title) {
    double seconds = 0;
    for (const TitleFile& f : title) {
        seconds += f.seconds;
    }
    return seconds;
}

// values without those out marks (true).
template <typename T>
std::vector<T> Without(const std::vector<T>& values, const std::vector<bool>& out) {
    std::vector<T> in;
    for (size_t i = 0; i < values.size(); ++i) {
        if (i >= out.size() || !out[i]) {
            in.push_back(values[i]);
        }
    }
    return in;
}

// Hears of a probe encode's progress, and stops it when stop asks.
class ProbeObserver : public RunObserver {
public:
    ProbeObserver(std::function<void(double)> progress, StopCheck stop)
        : progress_(std::move(progress)), stop_(std::move(stop)) {}
    void OnEvent(RunEvent event, const RunStatus& status, nvt::Result) override {
        if (event == RunEvent::Progress) {
            progress_(status.percent / 100.0);
        }
    }
    bool StopWanted() override { return stop_ && stop_(); }

private:
    std::function<void(double)> progress_;
    StopCheck stop_;
};

} // namespace

std::vector<TitleFile> TitleOf(const Sources& sources) {
    std::vector<TitleFile> title;
    for (const Ptr<nvt::ISourceMedia>& source : sources) {
        nvt::WideString path;
        uint64_t ms = 0;
        source->GetFilePath(path);
        source->GetDuration(&ms);
        title.push_back(TitleFile{Narrow(path), ms / 1000.0});
    }
    return title;
}

PictureSetup PictureOf(const OutputChoice& choice) {
    nvt::ICustomPresetFactory* rawFactory = nullptr;
    Check(CreateCustomPresetFactory(&rawFactory), "cannot make the preset factory");
    const nvt::CustomPresetData data = ResolvePresetData(choice, *Adopt(rawFactory));
    PictureSetup picture;
    picture.cropTop = static_cast<int>(data.rect.top);
    picture.cropBottom = static_cast<int>(data.rect.bottom);
    picture.cropLeft = static_cast<int>(data.rect.left);
    picture.cropRight = static_cast<int>(data.rect.right);
    const uint32_t flip = choice.job.flip.value_or(nvt::flipNone);
    picture.flipHorizontal = (flip & nvt::flipHorizontal) != 0;
    picture.flipVertical = (flip & nvt::flipVertical) != 0;
    picture.quarterTurns = choice.job.angle.value_or(0) / 90;
    picture.keepAspect = data.enableAspectRatio;
    return picture;
}

TitleProbe::TitleProbe(const Sources& sources, const OutputChoice& choice,
                       nvt::ITranscodeEngineInfo* info, uint32_t outputWidth, uint32_t outputHeight,
                       ProbeDisplay display)
    : choice_(choice), info_(info), width_(outputWidth), height_(outputHeight),
      display_(std::move(display)),
      line_(display_.mode == ProgressMode::Json ? ProgressMode::Plain : display_.mode,
            display_.period) {
    title_ = TitleOf(sources);
    picture_ = PictureOf(choice_);
    nvt::ICustomPresetFactory* rawFactory = nullptr;
    Check(CreateCustomPresetFactory(&rawFactory), "cannot make the preset factory");
    const nvt::CustomPresetData data = ResolvePresetData(choice_, *Adopt(rawFactory));
    const uint32_t flip = choice_.job.flip.value_or(nvt::flipNone);

    // The key: the files as they are now, and every setting that shapes
    // the encoded picture.
    std::string key = kProbeFormat;
    for (const TitleFile& f : title_) {
        key += "|" + FileIdentity(f.path);
    }
    const bool twoPass = data.enableVideo2passEncoding;
    key += "|" + std::string(nvt::EnumName<nvt::NorvProfile>(data.profileID)) + "|" +
           std::to_string(width_) + "x" + std::to_string(height_) + "|" +
           (twoPass ? "2pass" : "1pass") + "|crop" + std::to_string(picture_.cropTop) + "," +
           std::to_string(picture_.cropBottom) + "," + std::to_string(picture_.cropLeft) + "," +
           std::to_string(picture_.cropRight) + "|flip" + std::to_string(flip) + "|turn" +
           std::to_string(picture_.quarterTurns) + "|hevc" +
           std::to_string(static_cast<int>(data.hevcQualityLevel)) + "|burn" +
           (choice_.job.burnSubtitles ? "1" : "0");
    for (uint32_t track : choice_.job.subtitleTracks) {
        key += choice_.job.burnSubtitles ? "," + std::to_string(track) : std::string();
    }
    cacheKey_ = key;
    const std::string folder = ProbeFolder();
    if (folder.empty()) {
        return;
    }
    cacheFile_ = (fs::path(folder) / (HashName(key) + ".json")).string();
    std::ifstream in(cacheFile_);
    if (!in) {
        return;
    }
    try {
        const Json cached = Json::parse(in);
        if (cached.at("key").get<std::string>() != cacheKey_) {
            return;
        }
        std::vector<Sample> samples;
        for (const Json& s : cached.at("samples")) {
            Sample sample;
            sample.file = s.at("file").get<size_t>();
            sample.startUs = s.at("start_us").get<int64_t>();
            sample.frames = s.at("frames").get<unsigned>();
            sample.seconds = s.at("seconds").get<double>();
            sample.atCut = s.at("at_cut").get<bool>();
            sample.stands = s.at("stands").get<double>();
            if (sample.file >= title_.size()) {
                return;
            }
            samples.push_back(sample);
        }
        std::vector<ProbePoint> points;
        for (const Json& p : cached.at("points")) {
            points.push_back(ProbePoint{PointOf(p.at("plain")), PointOf(p.at("under_grain")),
                                        OutputOf(p.at("output"))});
        }
        samples_ = samples;
        points_ = points;
        SettleRates();
        fromCache_ = !points_.empty();
    } catch (const Json::exception&) {
        // A damaged entry is probed again and rewritten.
    }
}

TitleProbe::~TitleProbe() {
    line_.Clear();
    sampleSources_.clear();
    if (!scratch_.empty()) {
        std::error_code error;
        fs::remove_all(scratch_, error);
    }
}

void TitleProbe::Show(double fraction, const std::string& what) {
    const int percent =
        static_cast<int>(std::lround(100.0 * std::min(1.0, std::max(0.0, fraction))));
    if (display_.listener) {
        display_.listener(percent, what);
    }
    if (display_.mode == ProgressMode::Json) {
        static thread_local std::string last;
        const std::string now = what + std::to_string(percent / 10);
        if (now != last) {
            last = now;
            PrintJson(Json{{"event", "probe"},
                           {"file", display_.label},
                           {"step", what},
                           {"percent", percent}});
        }
        return;
    }
    line_.Update("probe " + display_.label + "  " + std::to_string(percent) + " %  " + what, false);
}

void TitleProbe::PlanSamples() {
    samples_ = norv::PlaceSamples(
        title_, ScheduleFor(TitleSeconds(title_)),
        [this](double fraction) { Show(fraction, "finding scene cuts"); }, display_.stopRequested);
    if (samples_.empty()) {
        throw Failure(display_.label + ": no pictures to probe", nvt::ENG_ANALYSIS);
    }
}

void TitleProbe::PrepareSources() {
    if (!sampleSources_.empty()) {
        return;
    }
    std::error_code error;
    const fs::path folder = fs::temp_directory_path(error) / ("norv-" + NewScratchName());
    if (error || !fs::create_directories(folder, error)) {
        throw Failure(folder.string() + ": cannot make a scratch folder to probe in",
                      nvt::ENG_WRITING_ERROR);
    }
    scratch_ = folder.string();
    std::vector<std::string> playlists;
    for (const Sample& s : samples_) {
        const std::string list = (folder / (NewScratchName() + ".ffconcat")).string();
        std::ofstream out(list);
        char times[96];
        std::snprintf(times, sizeof times, "inpoint %.6f\nduration %.6f\n", s.startUs / 1e6,
                      s.seconds);
        out << "ffconcat version 1.0\nfile " << QuotedEntry(title_[s.file].path) << "\n" << times;
        if (!out) {
            throw Failure(list + ": cannot write the probe's playlist", nvt::ENG_WRITING_ERROR);
        }
        playlists.push_back(list);
    }
    Show(0, "reading the samples");
    for (const Analysis& a : AnalyseAll(playlists, 0)) {
        if (a.result != nvt::SUCCESS) {
            throw Failure(display_.label + ": a sample cannot be read: " + a.error, a.result);
        }
        sampleSources_.insert(sampleSources_.end(), a.sources.begin(), a.sources.end());
    }
}

ProbePoint TitleProbe::EncodeAndMeasure(double kbps, size_t step) {
    OutputChoice probe = choice_;
    probe.preset.videoBitrate = static_cast<uint32_t>(std::lround(kbps)) * 1024u;
    probe.preset.sizeLimit = 0;
    probe.preset.priority = nvt::prioVideoBitrate; // the bitrate asked for is the one encoded
    probe.preset.width = width_;
    probe.preset.height = height_;
    probe.job.audioTracks = std::vector<uint32_t>();
    if (!probe.job.burnSubtitles) {
        probe.job.subtitleTracks.clear();
    }
    probe.job.title.reset();
    const Ptr<nvt::ITranscodeOutputSettings> settings =
        MakeOutputSettings(probe, sampleSources_.front().get());
    settings->SetTrickplayTrack(false);
    Ptr<nvt::ITranscodeSession> session =
        MakeSession(sampleSources_, settings.get(), info_, choice_.job.enginePriority);
    const Ptr<nvt::ITranscodeOutputProperties> properties =
        DeriveOutput(*session, "the probe's output");
    uint64_t asked = 0;
    std::vector<uint32_t> audio;
    properties->GetBitrates(&asked, audio);

    const auto profile = static_cast<nvt::NorvProfile>(settings->GetProfile());
    const std::string output =
        (fs::path(scratch_) / (NewScratchName() + "." + OutputExtension(profile, info_))).string();
    char what[96];
    std::snprintf(what, sizeof what, "encoding the samples at %llu kb/s (%zu)",
                  static_cast<unsigned long long>(asked), step);
    ProbeObserver observer([&](double f) { Show(f * kEncodeShare, what); }, display_.stopRequested);
    references_.DecodeAhead(title_, samples_);
    const RunOutcome outcome = RunTranscode(std::move(session), sampleSources_, output, observer);
    if (outcome.cancelled || Stopped()) {
        throw Failure("cancelled while probing", nvt::Aborted);
    }
    if (outcome.result != nvt::SUCCESS) {
        throw Failure(display_.label + ": the probe's encode failed", outcome.result);
    }
    std::snprintf(what, sizeof what, "measuring the samples at %llu kb/s (%zu)",
                  static_cast<unsigned long long>(asked), step);
    // The pictures under the grain are scored only where they decide how
    // the title is judged: at the first probe, and after it on a title that
    // is judged by them.
    const bool underGrain = points_.empty() || NoiseDominated();
    const FrameScores measured = MeasureEncode(
        title_, samples_, output, picture_,
        [&](double f) { Show(kEncodeShare + f * (1 - kEncodeShare), what); }, underGrain,
        &references_, display_.stopRequested);
    const std::vector<bool> ends = SampleEnds(measured.sample);
    FrameScores scores;
    scores.plain = Without(measured.plain, ends);
    scores.underGrain = Without(measured.underGrain, ends);
    scores.sample = Without(measured.sample, ends);
    scores.intra = Without(measured.intra, ends);
    double sampleSeconds = 0;
    for (const Sample& s : samples_) {
        sampleSeconds += s.seconds;
    }
    const VideoSize size = MeasureVideoSize(output);
    std::error_code error;
    fs::remove(output, error);

    ProbePoint point;
    point.output = SampleOutput{static_cast<double>(asked), sampleSeconds, size.bytes,
                                size.keyBytes, size.keyframes};
    const std::vector<bool> out = BrokenJoins(scores.plain, scores.sample, scores.intra);
    // Each frame counts for the title's frames its sample stands for.
    std::vector<double> weights;
    for (size_t k : scores.sample) {
        const bool known = k < samples_.size() && samples_[k].stands > 0 && samples_[k].seconds > 0;
        weights.push_back(known ? samples_[k].stands / samples_[k].seconds : 1.0);
    }
    const PooledQuality plain = Pool(Without(scores.plain, out), Without(weights, out)),
                        grain = Pool(Without(scores.underGrain, out), Without(weights, out));
    point.plain = RatePoint{static_cast<double>(asked), 0, plain.worst, plain.mean, 1};
    point.underGrain = RatePoint{static_cast<double>(asked), 0, grain.worst, grain.mean, 1};
    return point;
}

void TitleProbe::SettleRates() {
    for (ProbePoint& p : points_) {
        const ProbePoint* nearest = nullptr;
        for (const ProbePoint& q : points_) {
            if (p.output.askedKbps <= 0) {
                break;
            }
            const double apart = std::abs(std::log(q.output.askedKbps / p.output.askedKbps));
            if (&q != &p && q.output.askedKbps > 0 && apart > 0.05 &&
                (nearest == nullptr ||
                 apart < std::abs(std::log(nearest->output.askedKbps / p.output.askedKbps)))) {
                nearest = &q;
            }
        }
        const TitleRate made =
            TitleRateFrom(p.output, TitleSeconds(title_), norv_engine::kKeyframeSeconds,
                          nearest != nullptr ? &nearest->output : nullptr);
        for (RatePoint* r : {&p.plain, &p.underGrain}) {
            r->madeKbps = made.kbps;
            r->lift = made.lift;
        }
    }
}

void TitleProbe::EnsurePoint(double kbps) {
    for (const ProbePoint& p : points_) {
        if (std::abs(p.plain.askedKbps / kbps - 1.0) < kSameRate) {
            return;
        }
    }
    const auto start = Clock::now();
    if (samples_.empty()) {
        PlanSamples();
    }
    PrepareSources();
    points_.push_back(EncodeAndMeasure(kbps, points_.size() + 1));
    SettleRates();
    seconds_ += Seconds(start);
    line_.Clear();
    Save();
}

RateQualityCurve TitleProbe::Curve() const {
    std::vector<RatePoint> points;
    const bool grain = NoiseDominated();
    for (const ProbePoint& p : points_) {
        points.push_back(grain ? p.underGrain : p.plain);
    }
    return RateQualityCurve(points);
}

bool TitleProbe::NoiseDominated() const {
    if (points_.empty()) {
        return false;
    }
    const ProbePoint& first = points_.front();
    const auto pooled = [](const RatePoint& p) {
        PooledQuality q;
        q.worst = p.worst;
        q.mean = p.mean;
        return q;
    };
    return ReadsGrain(pooled(first.plain), pooled(first.underGrain));
}

void TitleProbe::Save() const {
    if (cacheFile_.empty()) {
        return;
    }
    Json samples = Json::array(), points = Json::array();
    for (const Sample& s : samples_) {
        samples.push_back(Json{{"file", s.file},
                               {"start_us", s.startUs},
                               {"frames", s.frames},
                               {"seconds", s.seconds},
                               {"at_cut", s.atCut},
                               {"stands", s.stands}});
    }
    for (const ProbePoint& p : points_) {
        points.push_back(Json{{"plain", PointJson(p.plain)},
                              {"under_grain", PointJson(p.underGrain)},
                              {"output", OutputJson(p.output)}});
    }
    std::error_code error;
    fs::create_directories(fs::path(cacheFile_).parent_path(), error);
    try {
        WriteJsonFile(cacheFile_,
                      Json{{"key", cacheKey_}, {"samples", samples}, {"points", points}});
    } catch (const Failure&) {
        // Without a cache the next run probes again; nothing else is lost.
    }
}

} // namespace norv
