#include "monitor/trace_scale.h"

#include <cmath>

#include "monitor/voltage_format.h"

namespace {

constexpr double PixelLimit = 4611686018427387904.0;  // 2^62

}  // namespace

int64_t TraceColumn(int64_t index, double xScale) {
    const double x = std::trunc(static_cast<double>(index) * xScale);
    if (std::isnan(x)) {
        return 0;
    }
    if (x >= PixelLimit) {
        return static_cast<int64_t>(PixelLimit);
    }
    if (x <= -PixelLimit) {
        return -static_cast<int64_t>(PixelLimit);
    }
    return static_cast<int64_t>(x);
}

int TTraceScale::Y(int32_t raw) const {
    const double d = SampleToMicrovolts(raw, GainFactor) - DcRef;
    const double y = std::trunc(Mid - YScale * d);
    if (Height <= 0 || !(y > 0)) {
        return 0;
    }
    return y < Height - 1 ? static_cast<int>(y) : Height - 1;
}

TTraceScale MakeTraceScale(int width, int height, int64_t span, int32_t gainFactor, double zoom,
                           double dcRef) {
    TTraceScale scale;
    const double range = 8388608 / (gainFactor * zoom);
    scale.XScale = width / static_cast<double>(span);
    scale.YScale = height / (2 * range);
    scale.Mid = height / 2;
    scale.Height = height;
    scale.GainFactor = gainFactor;
    scale.DcRef = dcRef;
    return scale;
}
