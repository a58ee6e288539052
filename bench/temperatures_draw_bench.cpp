// A full redraw of the Temperatures page's six bands with 100 stored hours
// (6 x 360,001 readings), by occupied places and for comparison dot by dot,
// on 800 x 80 bands. "drift": offsets following temperatures through
// compressed days, as from the simulator (few places); "scatter": readings
// strewn over the whole band (as many places as the band has pixels).
#include <benchmark/benchmark.h>

#include <QImage>
#include <array>
#include <cmath>
#include <numbers>
#include <random>

#include "main/graph_resources.h"
#include "main/temperature_plot.h"
#include "monitor/temperature_history.h"

namespace {

constexpr int Channels = 6;
constexpr int BandWidth = 800;
constexpr int BandHeight = 80;
constexpr size_t Readings = 100 * 3600 + 1;
constexpr double Zoom = 256;  // +-32.8 mV across the band

TTemperatureHistories Histories(bool scatter) {
    TTemperatureHistories histories;
    std::mt19937_64 random(2);
    for (int c = 0; c < Channels; ++c) {
        TTemperatureHistory& history = histories[static_cast<size_t>(c)];
        double offset = 0;
        for (size_t i = 0; i < Readings; ++i) {
            if (scatter) {
                const double t = static_cast<double>(random() % 1000) / 10 - 40;
                const double o = (static_cast<double>(random() % 65537) - 32768);
                history.push_back({t, o});
                continue;
            }
            const double day = 2 * std::numbers::pi * static_cast<double>(i) / 1200;
            const double t = std::round((25 + 0.4 * c + 3 * std::sin(day - 0.1 * c) +
                                         0.7 * std::sin(2 * day - 0.8)) *
                                        10) /
                             10;
            // A smoothed offset following the temperature with a little noise.
            const double target = (c % 2 ? -1 : 1) * 1500.0 * (c + 1) * (t - 25);
            offset += 0.1 * (target - offset) + static_cast<double>(random() % 201) - 100;
            history.push_back({t, offset});
        }
    }
    return histories;
}

void Redraw(benchmark::State& state, bool scatter, bool everyDot) {
    static const TTemperatureHistories drift = Histories(false);
    static const TTemperatureHistories strewn = Histories(true);
    const TTemperatureHistories& histories = scatter ? strewn : drift;
    const TGraphResources resources;
    std::array<QImage, Channels> images;
    for (QImage& image : images) {
        image = QImage(BandWidth, BandHeight, QImage::Format_RGB32);
    }
    TTemperatureDraw draw{
        .Start = 0, .NewBand = true, .GainFactor = 1, .Zoom = Zoom, .EveryDot = everyDot};
    for (auto _ : state) {
        for (int c = 0; c < Channels; ++c) {
            DrawTemperatureTrace(images[static_cast<size_t>(c)], resources,
                                 histories[static_cast<size_t>(c)], draw);
        }
    }
    state.counters["readings"] = static_cast<double>(Readings * Channels);
}

void BM_RedrawDrift(benchmark::State& state) {
    Redraw(state, false, false);
}
void BM_RedrawScatter(benchmark::State& state) {
    Redraw(state, true, false);
}
void BM_RedrawDriftEveryDot(benchmark::State& state) {
    Redraw(state, false, true);
}
void BM_RedrawScatterEveryDot(benchmark::State& state) {
    Redraw(state, true, true);
}

BENCHMARK(BM_RedrawDrift)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RedrawScatter)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RedrawDriftEveryDot)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RedrawScatterEveryDot)->Unit(benchmark::kMillisecond);

}  // namespace
