#include "parts/stream_headers.h"

#include <optional>

namespace norv {

bool HeadersAgree(int levelByte, const std::vector<uint8_t>& a, const std::vector<uint8_t>& b,
                  int& keep) {
    keep = 0;
    if (a == b) {
        return true;
    }
    if (levelByte < 0 || a.size() != b.size() || a.size() <= static_cast<size_t>(levelByte)) {
        return false;
    }
    // Encoders choose the lowest level a stream's rates fit, so parts at
    // different bitrates may name different levels; the parameter sets
    // inside repeat it. Any other difference is a different stream.
    const uint8_t la = a[static_cast<size_t>(levelByte)];
    const uint8_t lb = b[static_cast<size_t>(levelByte)];
    for (size_t i = 0; i < a.size(); ++i) {
        if (a[i] != b[i] && (a[i] != la || b[i] != lb)) {
            return false;
        }
    }
    keep = lb > la ? 1 : 0;
    return true;
}

namespace {

// Reads the bits of a parameter set's payload, the emulation prevention
// bytes taken out; a read past the end throws nothing but marks it bad.
class BitReader {
public:
    BitReader(const uint8_t* data, size_t size) {
        for (size_t i = 0; i < size; ++i) {
            if (i >= 2 && data[i] == 3 && data[i - 1] == 0 && data[i - 2] == 0) {
                continue;
            }
            bytes_.push_back(data[i]);
        }
    }
    bool Good() const { return good_; }
    uint32_t Bits(int count) {
        uint32_t value = 0;
        for (int i = 0; i < count; ++i) {
            if (at_ >= bytes_.size() * 8) {
                good_ = false;
                return 0;
            }
            value = (value << 1) | ((bytes_[at_ / 8] >> (7 - at_ % 8)) & 1u);
            ++at_;
        }
        return value;
    }
    uint32_t Golomb() { // ue(v)
        int zeros = 0;
        while (good_ && Bits(1) == 0) {
            if (++zeros > 31) {
                good_ = false;
            }
        }
        return good_ ? (1u << zeros) - 1 + Bits(zeros) : 0;
    }

private:
    std::vector<uint8_t> bytes_;
    size_t at_ = 0;
    bool good_ = true;
};

// What a sequence parameter set says: the level and the motion vector
// lengths apart, everything else in the order read.
struct AvcSequence {
    double level = 0;
    uint32_t mvHorizontal = 0, mvVertical = 0;
    std::vector<uint32_t> rest;
};

// Reads an SPS (its NAL header included). Nothing for what the reading
// does not cover (scaling matrices, HRD parameters): such headers must be
// the same to agree.
std::optional<AvcSequence> ReadSequence(const uint8_t* data, size_t size) {
    BitReader in(data, size);
    AvcSequence s;
    auto keep = [&](uint32_t value) {
        s.rest.push_back(value);
        return value;
    };
    keep(in.Bits(8)); // NAL header
    const uint32_t profile = keep(in.Bits(8));
    keep(in.Bits(8)); // constraint flags
    const uint32_t level = in.Bits(8);
    s.level = level == 9 ? 10.5 : level; // 9: level 1b, between 1 and 1.1
    keep(in.Golomb());                   // its id
    switch (profile) {
    case 100:
    case 110:
    case 122:
    case 244:
    case 44:
    case 83:
    case 86:
    case 118:
    case 128:
    case 138:
    case 139:
    case 134:
    case 135:
        if (keep(in.Golomb()) == 3) { // chroma format
            keep(in.Bits(1));
        }
        keep(in.Golomb()); // bit depths
        keep(in.Golomb());
        keep(in.Bits(1));
        if (in.Bits(1) != 0) { // scaling matrices
            return std::nullopt;
        }
        break;
    default:
        break;
    }
    keep(in.Golomb()); // frame number bits
    const uint32_t order = keep(in.Golomb());
    if (order == 0) {
        keep(in.Golomb());
    } else if (order == 1) {
        keep(in.Bits(1));
        keep(in.Golomb()); // signed, kept as coded
        keep(in.Golomb());
        const uint32_t cycle = keep(in.Golomb());
        for (uint32_t i = 0; i < cycle && in.Good(); ++i) {
            keep(in.Golomb());
        }
    }
    keep(in.Golomb()); // reference frames
    keep(in.Bits(1));
    keep(in.Golomb()); // width and height in macroblocks
    keep(in.Golomb());
    if (keep(in.Bits(1)) == 0) { // frames only
        keep(in.Bits(1));
    }
    keep(in.Bits(1));
    if (keep(in.Bits(1)) != 0) { // cropping
        for (int i = 0; i < 4; ++i) {
            keep(in.Golomb());
        }
    }
    if (keep(in.Bits(1)) != 0) {                                // usability information
        if (keep(in.Bits(1)) != 0 && keep(in.Bits(8)) == 255) { // aspect ratio
            keep(in.Bits(16));
            keep(in.Bits(16));
        }
        if (keep(in.Bits(1)) != 0) { // overscan
            keep(in.Bits(1));
        }
        if (keep(in.Bits(1)) != 0) { // signal type
            keep(in.Bits(4));
            if (keep(in.Bits(1)) != 0) {
                keep(in.Bits(24));
            }
        }
        if (keep(in.Bits(1)) != 0) { // chroma location
            keep(in.Golomb());
            keep(in.Golomb());
        }
        if (keep(in.Bits(1)) != 0) { // timing
            keep(in.Bits(32));
            keep(in.Bits(32));
            keep(in.Bits(1));
        }
        if (in.Bits(1) != 0 || in.Bits(1) != 0) { // HRD parameters
            return std::nullopt;
        }
        keep(in.Bits(1));            // picture structure
        if (keep(in.Bits(1)) != 0) { // bitstream restriction
            keep(in.Bits(1));
            keep(in.Golomb());
            keep(in.Golomb());
            s.mvHorizontal = in.Golomb();
            s.mvVertical = in.Golomb();
            keep(in.Golomb());
            keep(in.Golomb());
        }
    }
    if (!in.Good()) {
        return std::nullopt;
    }
    return s;
}

// An avcC record: its bytes but for the level and the SPSs, and the SPSs.
struct AvcRecord {
    std::vector<uint8_t> rest;
    std::vector<AvcSequence> sequences;
};

std::optional<AvcRecord> ReadRecord(const std::vector<uint8_t>& data) {
    if (data.size() < 6 || data[0] != 1) {
        return std::nullopt;
    }
    AvcRecord record;
    record.rest.assign(data.begin(), data.begin() + 3); // version, profile, compatibility
    record.rest.push_back(data[4]);
    const size_t count = data[5] & 0x1fu;
    size_t at = 6;
    for (size_t i = 0; i < count; ++i) {
        if (at + 2 > data.size()) {
            return std::nullopt;
        }
        const size_t length = (static_cast<size_t>(data[at]) << 8) | data[at + 1];
        at += 2;
        if (at + length > data.size()) {
            return std::nullopt;
        }
        std::optional<AvcSequence> sequence = ReadSequence(data.data() + at, length);
        if (!sequence) {
            return std::nullopt;
        }
        record.sequences.push_back(std::move(*sequence));
        at += length;
    }
    record.rest.insert(record.rest.end(), data.begin() + static_cast<std::ptrdiff_t>(at),
                       data.end()); // the picture parameter sets and the rest
    return record;
}

} // namespace

bool AvcHeadersAgree(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b, int& keep) {
    keep = 0;
    const std::optional<AvcRecord> ra = ReadRecord(a), rb = ReadRecord(b);
    if (!ra || !rb || ra->rest != rb->rest || ra->sequences.size() != rb->sequences.size() ||
        ra->sequences.empty()) {
        return false;
    }
    keep = rb->sequences[0].level > ra->sequences[0].level ? 1 : 0;
    for (size_t i = 0; i < ra->sequences.size(); ++i) {
        const AvcSequence& high = keep == 1 ? rb->sequences[i] : ra->sequences[i];
        const AvcSequence& low = keep == 1 ? ra->sequences[i] : rb->sequences[i];
        if (high.rest != low.rest || high.level < low.level ||
            high.mvHorizontal < low.mvHorizontal || high.mvVertical < low.mvVertical) {
            return false;
        }
    }
    return true;
}

} // namespace norv
