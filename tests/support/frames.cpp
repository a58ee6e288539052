#include "support/frames.h"

TWireFrame MakeTestFrame(uint32_t blockCount, int channels, int samplesPerChannel,
                         int bytesPerSample, bool mde) {
    TWireFrame frame;
    SetText(frame.DeviceId, "QF 5150-400");
    SetText(frame.Version, "1.2.3");
    SetText(frame.ShortSerial, "A123");
    SetText(frame.LongSerial, "A1234567");
    SetText(frame.FilterType, "MP");
    SetText(frame.GainCode, "L");
    SetText(frame.Coupling, "DC");
    frame.BlockCount = blockCount;
    frame.NumComponents = static_cast<uint16_t>(channels);
    frame.TotalRate = static_cast<int16_t>(samplesPerChannel * channels);
    frame.BytesPerSample = static_cast<uint16_t>(bytesPerSample);
    frame.HasMde = mde;
    const int bits = 8 * bytesPerSample;
    for (int c = 0; c < channels; ++c) {
        for (int j = 0; j < samplesPerChannel; ++j) {
            int64_t value = int64_t(blockCount) * 1000 + c * 100 + j;
            if (bits < 32) {
                value &= (int64_t(1) << bits) - 1;
                if (value >= (int64_t(1) << (bits - 1))) {
                    value -= int64_t(1) << bits;
                }
            }
            frame.Samples[c].push_back(static_cast<int32_t>(value));
        }
    }
    return frame;
}

std::vector<uint8_t> TestFrameBytes(uint32_t blockCount, int channels, int samplesPerChannel,
                                    int bytesPerSample, bool mde) {
    return EncodeFrame(MakeTestFrame(blockCount, channels, samplesPerChannel, bytesPerSample, mde));
}

void Append(std::vector<uint8_t>& stream, const std::vector<uint8_t>& frame) {
    stream.insert(stream.end(), frame.begin(), frame.end());
}
