// The vertical zoom of the graph pages: a power of two from 1 to 2^23, stepped
// by the zoom buttons and keys, and which of the four buttons can act.
#pragma once

inline constexpr double MinZoom = 1;
inline constexpr double MaxZoom = 8388608;  // 2^23: one count fills half a band

// Doubled while below MaxZoom.
inline double ZoomedIn(double zoom) {
    return zoom < MaxZoom ? zoom * 2 : zoom;
}

// Halved while above MinZoom.
inline double ZoomedOut(double zoom) {
    return zoom > MinZoom ? zoom / 2 : zoom;
}

struct TZoomButtonStates {
    bool In = false;   // zoom in and maximum zoom
    bool Out = false;  // zoom out and minimum zoom
};

// With `enabled`, zooming in is possible below MaxZoom and out above MinZoom;
// without it, neither.
inline TZoomButtonStates ZoomButtonStates(double zoom, bool enabled) {
    return {enabled && zoom != MaxZoom, enabled && zoom != MinZoom};
}
