#include "main/temperature_plot.h"

#include <QPainter>
#include <algorithm>
#include <vector>

#include "main/band_frame.h"
#include "main/graph_resources.h"
#include "monitor/temperature_details.h"

namespace {

// The dot about (x, y): the ellipse in the box (x - 2, y - 2) to (x + 2, y + 2).
QRect DotBox(int x, int y) {
    return QRect(x - 2, y - 2, 4, 4);
}

void BeginBand(QPainter& painter, const TGraphResources& resources, int width, int height) {
    FillBand(painter, width, height, resources.TemperatureBackgroundBrush());
    DrawCentreLine(painter, resources, width, static_cast<int>(height * 0.5));
    for (int j = 0; j < 10; ++j) {
        painter.setPen(j == 4 ? resources.CentreLinePen() : resources.GridPen());
        const int x = TemperatureGridX(j, width);
        painter.drawLine(x, 0, x, height - 1);
    }
    DrawTopLine(painter, resources, width);
}

// The pixels one dot covers, relative to its centre, as runs along rows:
// one dot drawn as the page draws it, read back.
struct TDotStamp {
    struct TRun {
        int Dy;
        int From;  // dx of the run's first pixel
        int To;    // dx of its last
    };
    std::vector<TRun> Runs;
    int Reach = 0;  // no pixel lies further than this from the centre

    explicit TDotStamp(const TGraphResources& resources) {
        constexpr int Size = 33;
        constexpr int Centre = Size / 2;
        QImage scratch(Size, Size, QImage::Format_RGB32);
        scratch.fill(Qt::black);
        {
            QPainter painter(&scratch);
            painter.setRenderHint(QPainter::Antialiasing, false);
            QPen pen = resources.TemperaturePen();
            pen.setColor(Qt::white);
            painter.setPen(pen);
            painter.setBrush(Qt::white);
            painter.drawEllipse(DotBox(Centre, Centre));
        }
        const QRgb empty = scratch.pixel(0, 0);
        for (int y = 0; y < Size; ++y) {
            for (int x = 0; x < Size; ++x) {
                if (scratch.pixel(x, y) == empty) {
                    continue;
                }
                if (!Runs.empty() && Runs.back().Dy == y - Centre &&
                    Runs.back().To == x - Centre - 1) {
                    Runs.back().To = x - Centre;
                } else {
                    Runs.push_back({y - Centre, x - Centre, x - Centre});
                }
                Reach = std::max({Reach, std::abs(x - Centre), std::abs(y - Centre)});
            }
        }
    }
};

void DrawEveryDot(QPainter& painter, const TGraphResources& resources,
                  const TTemperatureHistory& history, size_t start,
                  const TTemperatureScale& scale) {
    painter.setPen(resources.TemperaturePen());
    painter.setBrush(resources.TemperatureDotBrush());
    for (size_t i = start; i < history.size(); ++i) {
        const int x = scale.X(history[i].Temperature);
        if (x > 0) {
            painter.drawEllipse(DotBox(x, scale.Y(history[i].Offset)));
        }
    }
}

// Each place that readings occupy, once, then the stamp written there.
void DrawPlaces(QImage& image, const TGraphResources& resources, const TTemperatureHistory& history,
                size_t start, const TTemperatureScale& scale) {
    static const TDotStamp stamp(resources);
    const int width = image.width();
    const int height = image.height();
    // Dots centred right of this column have no pixel in the band.
    const int lastX = width - 1 + stamp.Reach;
    std::vector<uint8_t> occupied(static_cast<size_t>(lastX) * static_cast<size_t>(height), 0);
    // Room for every place (each is stored once); the count only grows for a
    // new one, without a branch that a scattered band would mispredict.
    std::vector<QPoint> places(std::min(occupied.size(), history.size() - start) + 1);
    size_t count = 0;
    double lastTemperature = 0;
    int x = 0;
    bool haveX = false;
    for (auto reading = history.begin() + static_cast<std::ptrdiff_t>(start);
         reading != history.end(); ++reading) {
        if (!haveX || reading->Temperature != lastTemperature) {
            lastTemperature = reading->Temperature;
            x = scale.X(lastTemperature);
            haveX = true;
        }
        if (x <= 0 || x > lastX) {
            continue;
        }
        const int y = scale.Y(reading->Offset);
        uint8_t& seen = occupied[static_cast<size_t>(x - 1) * static_cast<size_t>(height) +
                                 static_cast<size_t>(y)];
        places[count] = QPoint(x, y);
        count += seen ^ 1u;
        seen = 1;
    }
    places.resize(count);
    const QRgb colour = resources.TemperatureDotBrush().color().rgb();
    uchar* const bits = image.bits();
    const auto bytesPerLine = static_cast<size_t>(image.bytesPerLine());
    for (const QPoint& place : places) {
        // Within the band whole, or cut at its edges.
        const bool inside = place.x() >= stamp.Reach && place.x() < width - stamp.Reach &&
                            place.y() >= stamp.Reach && place.y() < height - stamp.Reach;
        for (const TDotStamp::TRun& run : stamp.Runs) {
            const int y = place.y() + run.Dy;
            int from = place.x() + run.From;
            int to = place.x() + run.To;
            if (!inside) {
                if (y < 0 || y >= height) {
                    continue;
                }
                from = std::max(from, 0);
                to = std::min(to, width - 1);
            }
            QRgb* const line =
                reinterpret_cast<QRgb*>(bits + static_cast<size_t>(y) * bytesPerLine);
            for (int x = from; x <= to; ++x) {
                line[x] = colour;
            }
        }
    }
}

}  // namespace

void DrawTemperatureTrace(QImage& image, const TGraphResources& resources,
                          const TTemperatureHistory& history, const TTemperatureDraw& draw) {
    if (image.isNull()) {
        return;
    }
    const int width = image.width();
    const int height = image.height();
    const TTemperatureScale scale = MakeTemperatureScale(width, height, draw.GainFactor, draw.Zoom);
    // Places and stamps need dots of one colour in an image of 32-bit pixels.
    const bool direct =
        !draw.EveryDot && image.format() == QImage::Format_RGB32 &&
        resources.TemperaturePen().color() == resources.TemperatureDotBrush().color();
    {
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing, false);
        if (draw.NewBand) {
            BeginBand(painter, resources, width, height);
        }
        if (!direct) {
            DrawEveryDot(painter, resources, history, draw.Start, scale);
            return;
        }
    }
    if (draw.Start < history.size() && height > 0) {
        DrawPlaces(image, resources, history, draw.Start, scale);
    }
}
