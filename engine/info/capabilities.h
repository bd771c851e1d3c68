// What this engine can read and write with the FFmpeg libraries it runs on:
// the output profiles it can produce, the audio codecs it writes per
// profile, the input formats it reads, and the hardware encoders that open.
#pragma once

#include <string>
#include <vector>

#include "ffmpeg.h"
#include "norv/enums.h"

namespace norv_engine {

/// What one output profile is made of.
struct ProfileRecipe {
    const char* muxer;        ///< FFmpeg's muxer name
    const char* videoEncoder; ///< FFmpeg's encoder name
    /// The audio codecs its container carries well, with their encoders, in
    /// order of preference.
    std::vector<std::pair<nvt::AudioCodec, const char*>> audio;
};

/// The recipe of a profile (0..11), or null for any other value.
const ProfileRecipe* RecipeOf(int profile);

/// Kinds of input the engine reads.
enum class InputKind { Container, Audio, Subtitle };

/// One input format: the label reported for it (a file extension) and what
/// reading it takes.
struct InputFormat {
    const char* label;
    InputKind kind;
    const char* demuxer; ///< null for a format the engine reads itself
    AVCodecID decoder;   ///< AV_CODEC_ID_NONE when the container alone decides
};

/// Found once per process, on first use; thread-safe.
class Capabilities {
public:
    static const Capabilities& Get();

    /// The profile's muxer, video encoder and at least one audio encoder
    /// are present.
    bool ProfileSupported(int profile) const;
    /// The audio codecs written in the profile's container whose encoder is
    /// present; empty for an unsupported profile.
    const std::vector<nvt::AudioCodec>& OutputAudioCodecs(int profile) const;
    /// True when an audio stream of this codec can go into the profile's
    /// output unchanged.
    bool WritesAudioCodec(int profile, AVCodecID id) const;
    /// True when an audio stream can go into the profile's output as it is:
    /// the container carries its codec and the profile its channels.
    bool CarriesAudio(int profile, const AVCodecParameters* audio) const;
    /// The input formats whose demuxer (and decoder) are present, of a kind.
    std::vector<std::string> InputFormatLabels(InputKind kind) const;

private:
    Capabilities();

    bool supported_[nvt::_NP_count_] = {};
    std::vector<nvt::AudioCodec> audio_[nvt::_NP_count_];
    std::vector<const InputFormat*> inputs_;
};

/// NO_ACCELERATION, then each hardware kind one of whose encoders opened on
/// this machine. Opens encoders, so it takes a moment; call it only when
/// the answer is needed.
std::vector<nvt::HWAcceleration> ProbeAcceleration();

/// The names of the encoders that ProbeAcceleration tries for a kind.
std::vector<const char*> HardwareEncoderNames(nvt::HWAcceleration kind);

} // namespace norv_engine
