// The frame every graph band is drawn in: its background, the light line
// along its top edge that separates it from the band above, and the dotted
// line at its zero.
#pragma once

class QBrush;
class QPainter;
class TGraphResources;

// Fills the band (width x height) with `background`.
void FillBand(QPainter& painter, int width, int height, const QBrush& background);
// The frame line from (0, 0) to (width - 1, 0).
void DrawTopLine(QPainter& painter, const TGraphResources& resources, int width);
// The dotted centre line from (0, y) to (width - 1, y), on a transparent
// background so that the gaps keep what lies below.
void DrawCentreLine(QPainter& painter, const TGraphResources& resources, int width, int y);
