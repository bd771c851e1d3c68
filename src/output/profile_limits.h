// The built-in limits of the output profiles and the bitrate rules derived
// from them. Shared by the profile objects, the output settings, the source
// media and the derivation of a transcode's output.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace nvt {

/// One row of the built-in limits table.
struct ProfileLimits {
    int32_t profile;
    int32_t maxVideoKbps; ///< kilobits per second
    int32_t maxAudioKbps; ///< kilobits per second
    int32_t minWidth;
    int32_t minHeight;
    int32_t maxWidth;
    int32_t maxHeight;
    double frameRate; ///< frames per second the row is meant for
};

/// Number of rows of the limits table.
constexpr std::size_t kProfileLimitsRowCount = 13;

/// The limits table, in search order.
const std::array<ProfileLimits, kProfileLimitsRowCount>& ProfileLimitsTable();

/// The row for a profile and a source frame rate (0 means any rate), or null
/// when the profile has no row. Only NP_HomeTheater has two rows: a 30 fps,
/// 480-line row and a 25 fps, 576-line row, chosen by the rate's class.
const ProfileLimits* FindProfileLimits(int32_t profile, double frameRate);

/// True when the profile has a row.
bool IsKnownProfile(int32_t profile);

/// True for the small-device profiles (NP_Mobile, NP_iPhoneMP4H264,
/// NP_iPadMP4H264): 128 kbps default audio, no audio passthrough by default,
/// stereo at most.
bool IsHandheldProfile(int32_t profile);

/// The most audio channels an encoded track of the profile carries: stereo
/// on the small devices, 5.1 elsewhere. More are mixed down; tracks passed
/// through keep theirs.
int32_t MaxAudioChannels(int32_t profile);

/// Clamps a picture and frame rate to a row's limits: the frame rate to at
/// most the row's, each dimension into [min, max].
void ClampToProfile(const ProfileLimits& row, uint32_t& width, uint32_t& height, double& frameRate);

/// Width and height alignment of a profile: 8 x 8 for the H.264 "Norv Plus"
/// and HEVC profiles, 4 x 2 for the others.
void ProfileAlignment(int32_t profile, uint32_t& widthAlignment, uint32_t& heightAlignment);

/// Rounds each dimension to the nearest multiple of the row's profile
/// alignment, ties up. A value too large to round up is rounded down instead.
/// Returns false, changing nothing, when row is null.
bool AlignToProfile(const ProfileLimits* row, uint32_t& width, uint32_t& height);

/// Audio bitrates of a row, in kilobits per second; 0 for a null row.
uint32_t MinAudioBitrateKbps(const ProfileLimits* row);
uint32_t MaxAudioBitrateKbps(const ProfileLimits* row);
uint32_t DefaultAudioBitrateKbps(const ProfileLimits* row);

/// The audio bitrates a user may choose, in kilobits per second, ascending.
const std::array<uint32_t, 9>& SelectableAudioBitratesKbps();

/// The smallest video bitrate of every profile and picture, bits per second.
constexpr uint32_t kMinVideoBitrate = 1000;

/// The largest and the default video bitrate, in bits per second, for a
/// picture and frame rate under a profile. The row is looked up for the
/// given frame rate, and the picture and frame rate are clamped to it before
/// the profile's bitrate model is applied. 0 when the profile has no row or
/// the frame rate is not above 0.
uint32_t MaxVideoBitrate(int32_t profile, uint32_t width, uint32_t height, double frameRate);
uint32_t DefaultVideoBitrate(int32_t profile, uint32_t width, uint32_t height, double frameRate);

/// Display name ("Norv", "Norv Plus", ...) and container label
/// ("AVI, Norv", ...) of a profile; null outside 0..11.
const char* ProfileDisplayName(int32_t profile);
const char* ProfileContainerLabel(int32_t profile);

} // namespace nvt
