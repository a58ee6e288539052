#include "monitor/time_frequency.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <new>

#include "calendar/calendar.h"
#include "fft/fft_channel.h"
#include "monitor/channel_stats.h"

namespace {

constexpr int16_t NoLevel = std::numeric_limits<int16_t>::min();

// a / b rounded up and down, b > 0, for a of either sign.
int64_t CeilDiv(int64_t a, int64_t b) {
    return a >= 0 ? (a + b - 1) / b : -((-a) / b);
}
int64_t FloorDiv(int64_t a, int64_t b) {
    return a >= 0 ? a / b : -((-a + b - 1) / b);
}

}  // namespace

bool IsSpectrogramPoints(int points) {
    return points >= SpectrogramMinPoints && points <= SpectrogramMaxPoints &&
           (points & (points - 1)) == 0;
}

int16_t LevelFromDb(double db) {
    if (!(db > SpectrogramFloorDb)) {
        db = SpectrogramFloorDb;  // NaN too
    }
    db = std::min(db, SpectrogramCeilingDb);
    return static_cast<int16_t>(std::lround(db * 100));
}

// --- TSpectrogramColumns ---

void TSpectrogramColumns::Reset(int capacity, int bins) {
    capacity_ = std::max(capacity, 1);
    bins_ = std::max(bins, 1);
    count_ = 0;
    total_ = 0;
    const auto slots = static_cast<size_t>(capacity_);
    levels_.assign(slots * static_cast<size_t>(bins_), 0);
    times_.assign(slots, 0);
    low_.assign(slots, 0);
    peak_.assign(slots, 0);
}

void TSpectrogramColumns::Resize(int capacity) {
    capacity = std::max(capacity, 1);
    if (capacity == capacity_ || capacity_ == 0) {
        return;
    }
    TSpectrogramColumns resized;
    resized.Reset(capacity, bins_);
    const int kept = std::min(count_, capacity);
    resized.total_ = total_;
    resized.count_ = kept;
    for (int64_t n = total_ - kept; n < total_; ++n) {
        const size_t to = resized.Slot(n);
        const std::span<const int16_t> levels = Levels(n);
        std::copy(levels.begin(), levels.end(),
                  resized.levels_.begin() + static_cast<std::ptrdiff_t>(to * bins_));
        resized.times_[to] = Time(n);
        resized.low_[to] = Low(n);
        resized.peak_[to] = Peak(n);
    }
    *this = std::move(resized);
}

std::span<const int16_t> TSpectrogramColumns::Levels(int64_t column) const {
    return std::span<const int16_t>(levels_).subspan(Slot(column) * static_cast<size_t>(bins_),
                                                     static_cast<size_t>(bins_));
}

void TSpectrogramColumns::Push(std::span<const int16_t> levels, double time, int16_t low,
                               int16_t peak) {
    if (capacity_ == 0) {
        return;
    }
    const size_t slot = Slot(total_);
    const size_t n = std::min(levels.size(), static_cast<size_t>(bins_));
    std::copy_n(levels.begin(), n, levels_.begin() + static_cast<std::ptrdiff_t>(slot * bins_));
    times_[slot] = time;
    low_[slot] = low;
    peak_[slot] = peak;
    ++total_;
    count_ = std::min(count_ + 1, capacity_);
}

size_t TSpectrogramColumns::MemoryBytes() const {
    return levels_.capacity() * sizeof(int16_t) + times_.capacity() * sizeof(double) +
           (low_.capacity() + peak_.capacity()) * sizeof(int16_t);
}

// --- TSpectrogram ---

TSpectrogram::TSpectrogram(int points, int spanMinutes)
    : points_(IsSpectrogramPoints(points) ? points : 1024),
      spanMinutes_(std::clamp(spanMinutes, SpectrogramMinMinutes, SpectrogramMaxMinutes)),
      buffer_(points_) {
    PrepareWindow();
}

void TSpectrogram::PrepareWindow() {
    window_.Prepare(TFftWindow::Hanning, points_);
    std::vector<double> ones(static_cast<size_t>(points_), 1.0), zeros(ones.size(), 0.0);
    window_.Apply(ones, zeros);
    windowPower_ = 0;
    for (const double w : ones) {
        windowPower_ += w * w;
    }
}

void TSpectrogram::SetPoints(int points) {
    if (!IsSpectrogramPoints(points) || points == points_) {
        return;
    }
    points_ = points;
    buffer_ = TFftBuffer(points_);
    PrepareWindow();
    const double rate = rate_;
    EmptyColumns();
    rate_ = rate;
}

void TSpectrogram::SetSpanMinutes(int minutes) {
    spanMinutes_ = std::clamp(minutes, SpectrogramMinMinutes, SpectrogramMaxMinutes);
    for (TChannel& channel : channels_) {
        if (channel.Columns.Capacity() > 0) {
            channel.Columns.Resize(Capacity());
        }
    }
}

void TSpectrogram::Reset() {
    EmptyColumns();
    for (TChannel& channel : channels_) {
        channel.RingNext = 0;
    }
}

void TSpectrogram::EmptyColumns() {
    for (TChannel& channel : channels_) {
        channel.Columns = TSpectrogramColumns();
        channel.Pending.clear();
        channel.Pending.shrink_to_fit();
        channel.Samples = 0;
    }
    rate_ = 0;
}

double TSpectrogram::BinWidth() const {
    return rate_ > 0 ? rate_ / points_ : 0;
}

double TSpectrogram::ColumnSeconds() const {
    return rate_ > 0 ? Hop() / rate_ : 0;
}

int TSpectrogram::SpanColumns() const {
    if (!(rate_ > 0)) {
        return 0;
    }
    const double columns = std::ceil(spanMinutes_ * 60.0 / ColumnSeconds() - 1e-9);
    return static_cast<int>(std::clamp(columns, 1.0, 1.0e7));
}

int TSpectrogram::Capacity() const {
    const auto most = static_cast<int>(MaxLevelBytes / (sizeof(int16_t) * Bins()));
    return std::min(SpanColumns() + SpareColumns, most);
}

int TSpectrogram::Take(int channel, std::span<const int32_t> samples, double start, double rate) {
    if (channel < 0 || channel >= MaxChannels || !(rate > 0) || !std::isfinite(rate)) {
        return 0;
    }
    if (rate != rate_) {
        EmptyColumns();
        rate_ = rate;
    }
    TChannel& c = channels_[static_cast<size_t>(channel)];
    if (c.Columns.Capacity() == 0) {
        try {
            c.Columns.Reset(Capacity(), Bins());
            c.Pending.reserve(static_cast<size_t>(points_) + MaxSamplesPerChannel);
        } catch (const std::bad_alloc&) {
            c.Columns = TSpectrogramColumns();  // no memory: this channel makes no columns
            return 0;
        }
    }
    const int64_t first = c.Samples;
    for (const int32_t word : samples) {
        c.Pending.push_back(word * RawWordScale);
    }
    c.Samples += static_cast<int64_t>(samples.size());
    int made = 0;
    const auto points = static_cast<size_t>(points_);
    while (c.Pending.size() >= points) {
        // The column's time is that of the sample after its first half.
        const int64_t windowStart = c.Samples - static_cast<int64_t>(c.Pending.size());
        const double middle = static_cast<double>(windowStart + Hop() - first);
        MakeColumn(c, start + middle / rate);
        c.Pending.erase(c.Pending.begin(), c.Pending.begin() + Hop());
        ++made;
    }
    return made;
}

void TSpectrogram::MakeColumn(TChannel& channel, double time) {
    const auto points = static_cast<size_t>(points_);
    double mean = 0;
    for (size_t i = 0; i < points; ++i) {
        mean += channel.Pending[i];
    }
    mean /= static_cast<double>(points);
    for (size_t i = 0; i < points; ++i) {
        buffer_.Real[i] = channel.Pending[i] - mean;
        buffer_.Imag[i] = 0;
    }
    window_.Apply(buffer_.Real, buffer_.Imag);
    Fft(buffer_, false);
    // One-sided density: every bin but 0 and N / 2 holds its negative frequency's power too;
    // the window's power and the rate make it per Hz whatever the FFT length.
    const auto bins = static_cast<size_t>(Bins());
    // (The transform divides by the length.)
    const double density =
        static_cast<double>(points) * static_cast<double>(points) / (rate_ * windowPower_);
    levels_.resize(bins);
    for (size_t k = 0; k < bins; ++k) {
        const bool edge = k == 0 || k + 1 == bins;
        const double power =
            (buffer_.Real[k] * buffer_.Real[k] + buffer_.Imag[k] * buffer_.Imag[k]) * density;
        levels_[k] =
            LevelFromDb(power > 0 ? 10 * std::log10(edge ? power : 2 * power) : SpectrogramFloorDb);
    }
    sorted_.assign(levels_.begin() + 1, levels_.end());
    const auto tenth = sorted_.begin() + static_cast<std::ptrdiff_t>(sorted_.size() / 10);
    std::nth_element(sorted_.begin(), tenth, sorted_.end());
    const int16_t low = *tenth;
    const int16_t peak = *std::max_element(levels_.begin() + 1, levels_.end());
    channel.Columns.Push(levels_, time, low, peak);
}

void TSpectrogram::TakeNewSamples(const TChannelModel& channels, int channelCount, double rate,
                                  double start) {
    const int count = std::clamp(channelCount, 0, MaxChannels);
    for (int c = 0; c < count; ++c) {
        const TFftRing& ring = channels.FftRing(c);
        TChannel& channel = channels_[static_cast<size_t>(c)];
        const int capacity = ring.Capacity();
        const int fresh =
            std::min((ring.Next() - channel.RingNext + capacity) % capacity, ring.Count());
        channel.RingNext = ring.Next();
        if (fresh <= 0 || !(rate > 0)) {
            continue;
        }
        const TFftRing::TRuns runs = ring.Newest(fresh);
        Take(c, runs.Older, start, rate);
        Take(c, runs.Newer, start + static_cast<double>(runs.Older.size()) / rate, rate);
    }
}

size_t TSpectrogram::MemoryBytes() const {
    size_t bytes = 0;
    for (const TChannel& channel : channels_) {
        bytes += channel.Columns.MemoryBytes() + channel.Pending.capacity() * sizeof(double);
    }
    return bytes;
}

std::optional<TDbRange> TSpectrogram::AutoRange(std::span<const bool, MaxChannels> chosen) const {
    std::vector<int16_t> lows;
    int16_t peak = NoLevel;
    for (int c = 0; c < MaxChannels; ++c) {
        const TSpectrogramColumns& columns = channels_[static_cast<size_t>(c)].Columns;
        if (!chosen[static_cast<size_t>(c)] || columns.Count() == 0) {
            continue;
        }
        // The floor from at most about a thousand columns per channel.
        const int64_t stride = std::max<int64_t>(1, columns.Count() / 1024);
        for (int64_t n = columns.Total() - 1; n >= columns.Oldest(); --n) {
            peak = std::max(peak, columns.Peak(n));
            if ((columns.Total() - 1 - n) % stride == 0) {
                lows.push_back(columns.Low(n));
            }
        }
    }
    if (lows.empty()) {
        return std::nullopt;
    }
    const auto middle = lows.begin() + static_cast<std::ptrdiff_t>(lows.size() / 2);
    std::nth_element(lows.begin(), middle, lows.end());
    TDbRange range;
    range.Min = std::floor(DbFromLevel(*middle) / 10) * 10;
    range.Max = std::ceil(DbFromLevel(peak) / 10) * 10;
    range.Max = std::max(range.Max, range.Min + 20);
    return range;
}

TDbRange TSpectrogram::SteadyRange(const TDbRange& shown, const TDbRange& fresh) {
    TDbRange range = shown;
    if (fresh.Max > shown.Max || fresh.Max < shown.Max - 10) {
        range.Max = fresh.Max;
    }
    if (std::abs(fresh.Min - shown.Min) > 10) {
        range.Min = fresh.Min;
    }
    if (!(range.Max - range.Min >= 20)) {
        range = fresh;
    }
    return range;
}

// --- TSpectrogramRaster ---

namespace {

// The power (relative, 10^(dB / 10)) of every level a column can hold.
double LevelPower(int16_t level) {
    static const std::vector<double> table = [] {
        const int lowest = LevelFromDb(SpectrogramFloorDb);
        const int highest = LevelFromDb(SpectrogramCeilingDb);
        std::vector<double> powers(static_cast<size_t>(highest - lowest + 1));
        for (int l = lowest; l <= highest; ++l) {
            powers[static_cast<size_t>(l - lowest)] = std::pow(10.0, l / 1000.0);
        }
        return powers;
    }();
    const int lowest = LevelFromDb(SpectrogramFloorDb);
    const auto at =
        static_cast<size_t>(std::clamp<int>(level - lowest, 0, static_cast<int>(table.size()) - 1));
    return table[at];
}

}  // namespace

void TSpectrogramRaster::Layout(int width, int height, int points, double binWidth,
                                bool logFrequency, int spanColumns, double maxHz) {
    width_ = std::max(width, 0);
    height_ = std::max(height, 0);
    points_ = IsSpectrogramPoints(points) ? points : 1024;
    binWidth_ = binWidth;
    log_ = logFrequency;
    spanColumns_ = std::max(spanColumns, 1);
    const int half = points_ / 2;
    // The top of the axis: the bin at the highest frequency asked for, half the rate at most.
    top_ = half;
    if (maxHz > 0 && binWidth > 0 && maxHz < half * binWidth) {
        top_ = std::clamp(static_cast<int>(std::ceil(maxHz / binWidth - 1e-9)), 2, half);
    }
    const int bins = top_ + 1;
    rows_.assign(static_cast<size_t>(height_), TRange{});
    for (int y = 0; y < height_; ++y) {
        const double h = height_;
        int first = 0;
        int last = 0;
        if (!log_) {
            // Bin k takes [k, k + 1) of the axis' bins units.
            const double lo = (height_ - 1 - y) * bins / h;
            const double hi = (height_ - y) * bins / h;
            first = static_cast<int>(std::floor(lo + 1e-9));
            last = std::max(first, static_cast<int>(std::ceil(hi - 1e-9)) - 1);
        } else {
            // Bins 1 ... top on a logarithmic axis: a row takes the bins whose centres lie
            // in it, or the nearest one.
            const double lo = std::pow(top_, (height_ - 1 - y) / h);
            const double hi = std::pow(top_, (height_ - y) / h);
            first = static_cast<int>(std::ceil(lo - 1e-9));
            last = y == 0 ? top_ : static_cast<int>(std::ceil(hi - 1e-9)) - 1;
            if (first > last) {
                first = last = static_cast<int>(std::lround(std::sqrt(lo * hi)));
            }
        }
        const int lowest = log_ ? 1 : 0;
        first = std::clamp(first, lowest, top_);
        last = std::clamp(last, first, top_);
        rows_[static_cast<size_t>(y)] = {first, last};
    }
}

TSpectrogramRaster::TRange TSpectrogramRaster::PixelColumns(int64_t pixel) const {
    if (width_ <= 0) {
        return {};
    }
    const int64_t last = CeilDiv((pixel + 1) * spanColumns_, width_) - 1;
    const int64_t first = std::min(last, CeilDiv(pixel * spanColumns_, width_));
    return {first, last};
}

int64_t TSpectrogramRaster::LastPixel(int64_t total) const {
    if (width_ <= 0) {
        return -1;
    }
    return FloorDiv(total * width_, spanColumns_) - 1;
}

double TSpectrogramRaster::RowFrequency(int row) const {
    const double h = height_;
    if (log_) {
        return binWidth_ * std::pow(top_, (height_ - row - 0.5) / h);
    }
    const double u = (height_ - row - 0.5) * (top_ + 1) / h;
    return std::max(0.0, u - 0.5) * binWidth_;
}

std::optional<double> TSpectrogramRaster::FrequencyY(double frequency) const {
    if (!(binWidth_ > 0) || height_ <= 0) {
        return std::nullopt;
    }
    const double top = top_ * binWidth_;
    if (log_) {
        if (frequency < binWidth_ * (1 - 1e-9) || frequency > top * (1 + 1e-9)) {
            return std::nullopt;
        }
        return height_ - height_ * std::log(frequency / binWidth_) / std::log(top_);
    }
    if (frequency < 0 || frequency > top * (1 + 1e-9)) {
        return std::nullopt;
    }
    return height_ - (frequency / binWidth_ + 0.5) * height_ / (top_ + 1);
}

bool TSpectrogramRaster::PixelLevels(const TSpectrogramColumns& columns, int64_t pixel,
                                     std::span<int16_t> rows) const {
    TRange range = PixelColumns(pixel);
    range.First = std::max(range.First, columns.Oldest());
    range.Last = std::min(range.Last, columns.Total() - 1);
    if (range.First > range.Last || rows.size() < rows_.size()) {
        return false;
    }
    sums_.assign(rows_.size(), 0);
    for (int64_t n = range.First; n <= range.Last; ++n) {
        const std::span<const int16_t> levels = columns.Levels(n);
        for (size_t y = 0; y < rows_.size(); ++y) {
            for (int64_t k = rows_[y].First; k <= rows_[y].Last; ++k) {
                sums_[y] += LevelPower(levels[static_cast<size_t>(k)]);
            }
        }
    }
    const auto columnCount = static_cast<double>(range.Last - range.First + 1);
    for (size_t y = 0; y < rows_.size(); ++y) {
        const auto count = columnCount * static_cast<double>(rows_[y].Last - rows_[y].First + 1);
        rows[y] = LevelFromDb(10 * std::log10(sums_[y] / count));
    }
    return true;
}

std::optional<int16_t> TSpectrogramRaster::PixelLevel(const TSpectrogramColumns& columns,
                                                      int64_t pixel, int row) const {
    if (row < 0 || row >= height_) {
        return std::nullopt;
    }
    std::vector<int16_t> rows(rows_.size());
    if (!PixelLevels(columns, pixel, rows)) {
        return std::nullopt;
    }
    return rows[static_cast<size_t>(row)];
}

// --- Colours, axes and readout ---

const std::array<uint32_t, 256>& SpectrogramColours() {
    // A polynomial fit of the viridis scale, per channel of red, green and blue.
    static const std::array<uint32_t, 256> colours = [] {
        static constexpr double C[7][3] = {
            {0.2777273272234177, 0.005407344544966578, 0.3340998053353061},
            {0.1050930431085774, 1.404613529898575, 1.384590162594685},
            {-0.3308618287255563, 0.214847559468213, 0.09509516302823659},
            {-4.634230498983486, -5.799100973351585, -19.33244095627987},
            {6.228269936347081, 14.17993336680509, 56.69055260068105},
            {4.776384997670288, -13.74514537774601, -65.35303263337234},
            {-5.435455855934631, 4.645852612178535, 26.3124352495832}};
        std::array<uint32_t, 256> table{};
        for (int i = 0; i < 256; ++i) {
            const double t = i / 255.0;
            uint32_t rgb = 0xff000000u;
            for (int channel = 0; channel < 3; ++channel) {
                double value = 0;
                for (int power = 6; power >= 0; --power) {
                    value = value * t + C[power][channel];
                }
                const auto byte =
                    static_cast<uint32_t>(std::lround(std::clamp(value, 0.0, 1.0) * 255));
                rgb |= byte << (16 - 8 * channel);
            }
            table[static_cast<size_t>(i)] = rgb;
        }
        return table;
    }();
    return colours;
}

int ColourIndex(int16_t level, const TDbRange& range) {
    const double span = range.Max - range.Min;
    if (!(span > 0)) {
        return 0;
    }
    const double t = (DbFromLevel(level) - range.Min) / span;
    return static_cast<int>(std::clamp(t * 256, 0.0, 255.0));
}

double TimeTickStep(double secondsPerPixel, int minPixels) {
    static constexpr double Steps[] = {1, 2, 5, 10, 15, 30, 60, 120, 300, 600, 900, 1800, 3600};
    for (const double step : Steps) {
        if (step >= secondsPerPixel * minPixels) {
            return step;
        }
    }
    return 3600 * std::ceil(secondsPerPixel * minPixels / 3600);
}

double FrequencyTickStep(double hzPerPixel, int minPixels) {
    const double least = hzPerPixel * minPixels;
    if (!(least > 0) || !std::isfinite(least)) {
        return 1;
    }
    double decade = std::pow(10.0, std::floor(std::log10(least)));
    for (;; decade *= 10) {
        for (const double m : {1.0, 2.0, 5.0}) {
            if (m * decade >= least * (1 - 1e-9)) {
                return m * decade;
            }
        }
    }
}

std::string TimeTickText(double seconds, double step) {
    const TCivilTime t = CivilTimeOf(static_cast<int64_t>(std::floor(seconds + 0.5)));
    char text[16];
    if (step >= 60 && std::fmod(step, 60) == 0) {
        std::snprintf(text, sizeof text, "%02d:%02d", t.Hour, t.Minute);
    } else {
        std::snprintf(text, sizeof text, "%02d:%02d:%02d", t.Hour, t.Minute, t.Second);
    }
    return text;
}

std::string FrequencyTickText(double hz, const TNumberSeparators& separators) {
    const bool kilo = hz >= 1000;
    const double value = kilo ? hz / 1000 : hz;
    int decimals = 0;
    while (decimals < 3 && std::abs(value * std::pow(10, decimals) -
                                    std::round(value * std::pow(10, decimals))) > 1e-6) {
        ++decimals;
    }
    return FormatNumber(value, decimals, separators) + (kilo ? "k" : "");
}

std::string SpectrogramReadout(int channel, double time, double frequency, double levelDb,
                               const TNumberSeparators& separators) {
    const TCivilTime t = CivilTimeOf(static_cast<int64_t>(std::floor(time)));
    char when[40];
    std::snprintf(when, sizeof when, "%04lld-%02d-%02d %02d:%02d:%02d UTC",
                  static_cast<long long>(t.Year), t.Month, t.Day, t.Hour, t.Minute, t.Second);
    return "Channel " + std::to_string(channel + 1) + "  " + when + "  " +
           FormatNumber(frequency, 2, separators) + " Hz  " + FormatNumber(levelDb, 1, separators) +
           " dBFS/Hz";
}
