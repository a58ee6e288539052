#include "sim/frame_encoder.h"

#include <algorithm>
#include <cstring>

namespace {

class TByteWriter {
  public:
    explicit TByteWriter(std::vector<uint8_t>& out) : out_(out) {}

    void Text(const char* text, size_t size) { out_.insert(out_.end(), text, text + size); }
    template <size_t N>
    void Text(const std::array<char, N>& field) {
        Text(field.data(), N);
    }
    void U8(uint8_t value) { out_.push_back(value); }
    void U16(uint16_t value) {
        out_.push_back(static_cast<uint8_t>(value));
        out_.push_back(static_cast<uint8_t>(value >> 8));
    }
    void I16(int16_t value) { U16(static_cast<uint16_t>(value)); }
    void U32(uint32_t value) {
        for (int i = 0; i < 4; ++i) {
            out_.push_back(static_cast<uint8_t>(value >> (8 * i)));
        }
    }
    void I32(int32_t value) { U32(static_cast<uint32_t>(value)); }
    void Zeros(size_t count) { out_.insert(out_.end(), count, 0); }
    void RecordHeader(const char* tag, int32_t length) {
        Text(tag, 3);
        U8(0);
        I32(length);
    }

  private:
    std::vector<uint8_t>& out_;
};

void EncodeMod(TByteWriter& w, const TWireFrame& f) {
    w.RecordHeader("MOD", f.ModLength);
    w.Text(f.DeviceId);
    w.Text(f.Version);
    w.Zeros(1);
    w.Text(f.ShortSerial);
    w.Zeros(9);
    w.U32(f.BlockCount);
    w.U16(f.NumComponents);
    w.I16(f.TotalRate);
    w.U16(f.BytesPerSample);
    w.Text(f.FilterType);
    w.I16(f.Decimation[0]);
    w.I16(f.Decimation[1]);
    w.I16(f.PhaseError);
    w.Text(f.GainCode);
    for (int c = 0; c < 3; ++c) {
        w.I32(f.GainValue[c]);
    }
    for (int c = 0; c < 3; ++c) {
        w.I32(f.OffsetValue[c]);
    }
    w.I16(f.SupplyVoltage);
    w.I16(f.SupplyCurrent);
    w.I16(f.SensorTemp);
    w.I16(f.RemoteVoltage);
    for (int16_t input : f.UserInput) {
        w.I16(input);
    }
    w.Text(f.Coupling);
    w.Zeros(14);
    w.I32(f.LastValidGpsBlock);
    w.Text(f.GpsArea);
}

void EncodeMde(TByteWriter& w, const TWireFrame& f) {
    w.RecordHeader("MDE", f.MdeLength);
    w.Text(f.LongSerial);
    for (int s = 2; s < 5; ++s) {
        w.I16(f.Decimation[s]);
    }
    for (int c = 3; c < 6; ++c) {
        w.I32(f.GainValue[c]);
    }
    for (int c = 3; c < 6; ++c) {
        w.I32(f.OffsetValue[c]);
    }
    for (int16_t temp : f.ModuleTemp) {
        w.I16(temp);
    }
    w.Text(f.ReportArea);
}

// The shape of the DAT payload: channels interleaved, samples per channel, sample width
// (0 when BytesPerSample is not 1 to 4: then the payload is empty).
struct TPayloadShape {
    int Channels = 0;
    size_t PerChannel = 0;
    int Width = 0;

    explicit TPayloadShape(const TWireFrame& f)
        : Channels(std::min<int>(f.NumComponents, 6)),
          Width(f.BytesPerSample >= 1 && f.BytesPerSample <= 4 ? f.BytesPerSample : 0) {
        for (int c = 0; c < Channels; ++c) {
            PerChannel = std::max(PerChannel, f.Samples[c].size());
        }
    }
    size_t Size() const { return PerChannel * Channels * Width; }
};

void PackPayload(uint8_t* out, const TWireFrame& f, const TPayloadShape& shape) {
    for (size_t j = 0; j < shape.PerChannel; ++j) {
        for (int c = 0; c < shape.Channels; ++c) {
            const int32_t value = j < f.Samples[c].size() ? f.Samples[c][j] : 0;
            PackSample(out, value, shape.Width);
            out += shape.Width;
        }
    }
}

void EncodeDat(std::vector<uint8_t>& out, const TWireFrame& f) {
    const TPayloadShape shape(f);
    TByteWriter w(out);
    w.RecordHeader("DAT", f.DatLength.value_or(static_cast<int32_t>(shape.Size())));
    const size_t pos = out.size();
    out.resize(pos + shape.Size());
    PackPayload(out.data() + pos, f, shape);
}

}  // namespace

TWireFrame::TWireFrame() {
    SetText(DeviceId, "");
    SetText(Version, "");
    SetText(ShortSerial, "");
    SetText(FilterType, "MP");
    SetText(GainCode, "L");
    SetText(Coupling, "DC");
    SetText(GpsArea, "");
    SetText(LongSerial, "");
    SetText(ReportArea, "");
}

std::vector<uint8_t> EncodeFrame(const TWireFrame& frame) {
    std::vector<uint8_t> out;
    out.reserve(ModRecordSize + MdeRecordSize + SumRecordSize + 8 + 6 * 4 * 3000);
    TByteWriter w(out);
    EncodeMod(w, frame);
    if (frame.HasMde) {
        EncodeMde(w, frame);
    }
    EncodeDat(out, frame);
    if (frame.HasSum) {
        w.RecordHeader("SUM", frame.SumLength);
        w.Zeros(2);
        const uint16_t sum = ByteSum(out.data(), out.size());
        w.U16(sum);
    }
    return out;
}

uint16_t ByteSum(const uint8_t* data, size_t count) {
    uint32_t sum = 0;
    for (size_t i = 0; i < count; ++i) {
        sum += data[i];
    }
    return static_cast<uint16_t>(sum);
}

bool RefreshChecksum(std::vector<uint8_t>& frame) {
    if (frame.size() < static_cast<size_t>(ModRecordSize + SumRecordSize)) {
        return false;
    }
    const size_t sumAt = frame.size() - SumRecordSize;
    if (std::memcmp(&frame[sumAt], "SUM", 3) != 0) {
        return false;
    }
    const uint16_t sum = ByteSum(frame.data(), frame.size() - 2);
    frame[frame.size() - 2] = static_cast<uint8_t>(sum);
    frame[frame.size() - 1] = static_cast<uint8_t>(sum >> 8);
    return true;
}

bool PlantInSamples(TWireFrame& frame, std::string_view bytes) {
    const TPayloadShape shape(frame);
    const size_t size = shape.Size();
    if (size < bytes.size() || bytes.empty()) {
        return false;
    }
    std::vector<uint8_t> payload(size);
    PackPayload(payload.data(), frame, shape);
    // Start at a sample boundary near the middle.
    const size_t start = std::min(size / 2, size - bytes.size()) / shape.Width * shape.Width;
    std::memcpy(&payload[start], bytes.data(), bytes.size());
    const uint8_t* in = payload.data();
    for (int c = 0; c < shape.Channels; ++c) {
        frame.Samples[c].resize(shape.PerChannel, 0);
    }
    for (size_t j = 0; j < shape.PerChannel; ++j) {
        for (int c = 0; c < shape.Channels; ++c) {
            frame.Samples[c][j] = UnpackSample(in, shape.Width);
            in += shape.Width;
        }
    }
    return true;
}

void PackSample(uint8_t* out, int32_t value, int bytes) {
    const auto bits = static_cast<uint32_t>(value);
    for (int i = 0; i < bytes; ++i) {
        out[i] = static_cast<uint8_t>(bits >> (8 * i));
    }
}

int32_t UnpackSample(const uint8_t* in, int bytes) {
    uint32_t bits = 0;
    for (int i = 0; i < bytes; ++i) {
        bits |= static_cast<uint32_t>(in[i]) << (8 * i);
    }
    const int shift = 32 - 8 * bytes;
    // Left-justify, then shift back arithmetically to extend the sign.
    return static_cast<int32_t>(bits << shift) >> shift;
}
