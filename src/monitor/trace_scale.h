// Where the Channels page puts a sample in its band: the value-to-pixel
// conversion of the trace drawing, in one place for the drawing and for the
// column summary that must agree with it.
#pragma once

#include <cstdint>

// trunc(index x xScale): the pixel column of history index `index`. A product
// that is not a number (0 x infinity) counts as 0; a huge one is limited to
// +-2^62 instead of overflowing.
int64_t TraceColumn(int64_t index, double xScale);

struct TTraceScale {
    double XScale = 0;  // pixels per sample: width / span
    double YScale = 0;  // pixels per microvolt: height / (2 x range)
    int Mid = 0;        // height / 2, integer division
    int Height = 0;
    int32_t GainFactor = 1;
    double DcRef = 0;  // microvolts subtracted during the sweep

    int64_t X(int64_t index) const { return TraceColumn(index, XScale); }
    // trunc(Mid - YScale x (SampleToMicrovolts(raw, GainFactor) - DcRef)), clamped
    // to 0 ... Height - 1 before it becomes an integer, so that no zoom or value
    // overflows; 0 for a band without rows or a value that is not a number.
    // Never increases when raw increases.
    int Y(int32_t raw) const;
};

// range = 8388608 / (gainFactor x zoom) microvolts reach the band's edge;
// XScale = width / span, YScale = height / (2 x range), Mid = height / 2.
TTraceScale MakeTraceScale(int width, int height, int64_t span, int32_t gainFactor, double zoom,
                           double dcRef);
