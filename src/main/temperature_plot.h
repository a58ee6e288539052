// One channel's band on the Temperatures page: its offset against its
// temperature, one dot per reading, over a grid of about 10 deg C per division.
#pragma once

#include <QImage>
#include <cstddef>
#include <cstdint>

#include "monitor/temperature_history.h"

class TGraphResources;

struct TTemperatureDraw {
    size_t Start = 0;        // the first reading drawn
    bool NewBand = false;    // the band drawn from scratch first
    int32_t GainFactor = 1;  // with Zoom, the offset at the band's edges
    double Zoom = 1;
    // Each reading drawn as its own ellipse, one QPainter call per reading:
    // the reference the quick drawing is measured and tested against.
    bool EveryDot = false;
};

// A new band is filled with the background colour, gets the dotted centre
// line (offset 0), ten vertical grid lines (the fifth, 0 deg C, dotted) and
// the top line. Then every reading from Start on is a dot: a filled circle
// about (x, y) in the foreground colour, where x and y are those of
// TTemperatureScale; readings at x <= 0 are left out.
//
// All dots are alike and of one colour, so a dot drawn twice at a place
// leaves the pixels of drawing it once: the readings are reduced to the
// places they occupy, and each place gets the dot's pixels (found once by
// drawing one dot with the page's pen and brush) written directly. A full
// redraw of 100 hours (360,001 readings) thus costs a visit per reading and a
// dot per occupied place, with exactly the pixels of drawing every dot.
void DrawTemperatureTrace(QImage& image, const TGraphResources& resources,
                          const TTemperatureHistory& history, const TTemperatureDraw& draw);
