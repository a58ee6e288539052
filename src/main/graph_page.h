// What the main window asks of a page drawn in bands (Channels, Temperatures,
// FFT): the repaint of its band list when it is the visible page, and the
// zoom and span keys, which a page without them ignores.
#pragma once

class TGraphPage {
  public:
    virtual ~TGraphPage() = default;

    // The page's refresh handler: repaints its band list without erasing.
    virtual void RefreshPage() = 0;
    // U (in) and D (out); with Shift (extreme) to the largest or smallest
    // zoom. Acts only when the matching button is enabled.
    virtual void ZoomKey(bool in, bool extreme) {
        (void)in;
        (void)extreme;
    }
    // X (longer: the shown span doubled) and Z (shorter: halved).
    virtual void SpanKey(bool longer) { (void)longer; }
};
