// The Spectrogram page without a window: per channel a ring of columns, each the levels of
// one transform of the channel's newest samples, enough of them for the time span shown, and
// how a band of pixels shows them (which columns each pixel column, which bins each row).
//
// A column is made every Points / 2 samples (50% overlap) from the Points samples before it,
// whatever the blocks' lengths: the samples scaled to the converter's full scale, their mean
// taken off, the Hanning window (gain 1), the forward transform, and per bin 0 ... Points / 2
// the level in dB of full scale: a sine of amplitude A x full scale centred on a bin reads
// 20 log10(A) there (0 dB for a full-scale sine). Levels are kept in hundredths of a dB,
// limited to SpectrogramFloorDb ... SpectrogramCeilingDb.
//
// Memory: per channel Capacity() x (Points / 2 + 1) x 2 bytes of levels plus 12 bytes per
// column (its time, lowest tenth and peak); the capacity is the span's columns at the rate
// plus SpareColumns, the levels limited to MaxLevelBytes per channel (a span beyond that at an
// extreme rate shows only its newest part). At the defaults (1024 points, 10 minutes) and 500
// samples per second: 650 x 513 x 2 + 650 x 12 bytes = 0.67 MB per channel, 4.0 MB for six
// channels.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "digitizer/data_block.h"
#include "fft/fft.h"
#include "fft/fft_windows.h"
#include "monitor/number_format.h"

class TChannelModel;

inline constexpr int SpectrogramMinPoints = 256;
inline constexpr int SpectrogramMaxPoints = 4096;
inline constexpr int SpectrogramMinMinutes = 1;
inline constexpr int SpectrogramMaxMinutes = 60;
// A bin without magnitude, and the lowest level kept; the highest level kept.
inline constexpr double SpectrogramFloorDb = -200;
inline constexpr double SpectrogramCeilingDb = 50;

// 256, 512, 1024, 2048 or 4096.
bool IsSpectrogramPoints(int points);

// A level in hundredths of a dB, and back.
int16_t LevelFromDb(double db);
inline double DbFromLevel(int16_t level) {
    return level / 100.0;
}

// The colour range of the levels, dB of full scale, Min < Max.
struct TDbRange {
    double Min = -160;
    double Max = -40;

    bool operator==(const TDbRange&) const = default;
};

// One channel's columns: a ring of Capacity() columns, column n being the n-th made since the
// last Reset (the newest Total() - 1, the oldest held Oldest()).
class TSpectrogramColumns {
  public:
    // Empty, for `capacity` columns of `bins` levels (memory taken at once).
    void Reset(int capacity, int bins);
    // Room for `capacity` columns, the newest of the held ones kept.
    void Resize(int capacity);

    int Capacity() const { return capacity_; }
    int Bins() const { return bins_; }
    int Count() const { return count_; }
    int64_t Total() const { return total_; }
    int64_t Oldest() const { return total_ - count_; }
    bool Holds(int64_t column) const { return column >= Oldest() && column < total_; }

    // Column n's levels, time (UTC seconds at the centre of its samples), lowest tenth of its
    // bins 1 ... Bins() - 1 and highest of them; Holds(n) required.
    std::span<const int16_t> Levels(int64_t column) const;
    double Time(int64_t column) const { return times_[Slot(column)]; }
    int16_t Low(int64_t column) const { return low_[Slot(column)]; }
    int16_t Peak(int64_t column) const { return peak_[Slot(column)]; }

    // A new column (Bins() levels); the oldest goes when the ring is full.
    void Push(std::span<const int16_t> levels, double time, int16_t low, int16_t peak);

    size_t MemoryBytes() const;

  private:
    size_t Slot(int64_t column) const { return static_cast<size_t>(column % capacity_); }

    int capacity_ = 0;
    int bins_ = 0;
    int count_ = 0;
    int64_t total_ = 0;
    std::vector<int16_t> levels_;
    std::vector<double> times_;
    std::vector<int16_t> low_;
    std::vector<int16_t> peak_;
};

class TSpectrogram {
  public:
    // Columns beyond the span's, so that the leftmost pixel of a band still finds its columns.
    static constexpr int SpareColumns = 64;
    static constexpr size_t MaxLevelBytes = size_t{32} << 20;

    explicit TSpectrogram(int points = 1024, int spanMinutes = 10);

    // A new FFT length (another value than IsSpectrogramPoints allows is ignored): every
    // channel emptied.
    void SetPoints(int points);
    // A new span (limited to 1 ... 60 minutes): the newest columns that fit are kept.
    void SetSpanMinutes(int minutes);
    // Every channel emptied and the rate forgotten (a format change, monitoring started
    // again): the next samples start new columns, and the rings are read from their start.
    void Reset();

    // Samples of `channel` (0 ... 5) at `rate` per second, the first at `start` (UTC
    // seconds). A rate that is not the one held empties every channel first; a rate that is
    // not positive takes nothing. The number of columns made.
    int Take(int channel, std::span<const int32_t> samples, double start, double rate);
    // What the FFT rings of channels 0 ... channelCount - 1 received since the last call
    // (or Reset), taken with the first of it at `start`: one block's samples after each block.
    void TakeNewSamples(const TChannelModel& channels, int channelCount, double rate, double start);

    int Points() const { return points_; }
    int Hop() const { return points_ / 2; }
    int Bins() const { return points_ / 2 + 1; }
    int SpanMinutes() const { return spanMinutes_; }
    // The rate of the columns held; 0 before the first samples.
    double Rate() const { return rate_; }
    // Hz between bins, seconds between columns; 0 before a rate.
    double BinWidth() const;
    double ColumnSeconds() const;
    // The columns the span takes at the rate: ceil(span / ColumnSeconds()), at least 1; 0
    // before a rate.
    int SpanColumns() const;
    const TSpectrogramColumns& Columns(int channel) const {
        return channels_[static_cast<size_t>(channel)].Columns;
    }
    // Bytes held for the columns and the samples waiting for their column.
    size_t MemoryBytes() const;

    // The colour range that shows the held columns of the channels chosen: from the median of
    // their columns' lowest tenths (the noise floor) rounded down to 10 dB, to their highest
    // level rounded up to 10 dB, at least 20 dB wide. Nothing while they hold no column.
    std::optional<TDbRange> AutoRange(std::span<const bool, MaxChannels> channels) const;
    // The range shown next when `fresh` is the automatic range and `shown` the one shown: the
    // top rises at once and falls only by more than 10 dB, the bottom moves only by more than
    // 10 dB, so that a level wavering about a step does not make the picture flicker.
    static TDbRange SteadyRange(const TDbRange& shown, const TDbRange& fresh);

  private:
    struct TChannel {
        TSpectrogramColumns Columns;
        std::vector<double> Pending;  // scaled samples not yet past their last column
        int64_t Samples = 0;          // samples taken since the last reset
        int RingNext = 0;             // the FFT ring's write position last read
    };

    void EmptyColumns();
    void PrepareWindow();
    int Capacity() const;
    void MakeColumn(TChannel& channel, double time);

    int points_;
    int spanMinutes_;
    double rate_ = 0;
    std::array<TChannel, MaxChannels> channels_;
    TFftBuffer buffer_;
    TWindowTable window_;
    double windowPower_ = 1;  // the sum of the window's weights squared
    std::vector<int16_t> levels_;
    std::vector<int16_t> sorted_;
};

// How a band of Width() x Height() pixels shows one channel's columns: time runs left to
// right, the newest complete pixel column at the right edge; frequency bottom to top, from
// 0 Hz (linear) or the first bin (logarithmic) to half the rate or a lower top. A pixel shows
// the mean power of its columns and bins, so that white noise looks flat on either axis.
class TSpectrogramRaster {
  public:
    struct TRange {
        int64_t First = 0;
        int64_t Last = -1;
    };

    // spanColumns columns across `width` pixels; rows for bins 0 ... points / 2, binWidth Hz
    // apart, up to the bin at maxHz when that is positive and below half the rate.
    void Layout(int width, int height, int points, double binWidth, bool logFrequency,
                int spanColumns, double maxHz = 0);

    int Width() const { return width_; }
    int Height() const { return height_; }
    bool LogFrequency() const { return log_; }

    // Pixel columns are counted from the first column made: pixel p shows the columns n with
    // floor(n x Width / spanColumns) = p, or, where there is none (fewer columns than
    // pixels), the last column before it.
    TRange PixelColumns(int64_t pixel) const;
    // The newest pixel whose columns are all made once `total` columns are: -1 before.
    int64_t LastPixel(int64_t total) const;
    // The bins row y (0 at the top) shows.
    TRange RowBins(int row) const { return rows_[static_cast<size_t>(row)]; }
    // The highest frequency on the axis, Hz.
    double TopFrequency() const { return top_ * binWidth_; }
    // The frequency at the middle of row y, Hz.
    double RowFrequency(int row) const;
    // The height from the band's top at which `frequency` lies (0 ... Height()); nothing for
    // a frequency outside the axis.
    std::optional<double> FrequencyY(double frequency) const;

    // The levels of pixel `pixel`'s column, one per row into `rows` (Height() entries);
    // false, with `rows` untouched, when the channel holds none of its columns.
    bool PixelLevels(const TSpectrogramColumns& columns, int64_t pixel,
                     std::span<int16_t> rows) const;
    // The level of one pixel; nothing where PixelLevels has none.
    std::optional<int16_t> PixelLevel(const TSpectrogramColumns& columns, int64_t pixel,
                                      int row) const;

  private:
    int width_ = 0;
    int height_ = 0;
    int points_ = 0;
    double binWidth_ = 0;
    bool log_ = false;
    int64_t spanColumns_ = 1;
    int top_ = 512;  // the highest bin on the axis
    std::vector<TRange> rows_;
    mutable std::vector<double> sums_;
};

// The 256 colours of the level scale, 0xffRRGGBB, dark violet (lowest) through blue and green
// to yellow (highest), their lightness rising along the scale (viridis-like).
const std::array<uint32_t, 256>& SpectrogramColours();
// The colour entry of a level (hundredths of a dB): 0 at or below range.Min, 255 at or above
// range.Max, linear between.
int ColourIndex(int16_t level, const TDbRange& range);

// Axis steps: the smallest of 1, 2, 5, 10, 15, 30 seconds, 1, 2, 5, 10, 15, 30 minutes (then
// 1 hour) whose ticks lie at least minPixels apart at secondsPerPixel; the smallest of
// 1, 2, 5 x 10^k Hz whose ticks lie at least minPixels apart at hzPerPixel.
double TimeTickStep(double secondsPerPixel, int minPixels);
double FrequencyTickStep(double hzPerPixel, int minPixels);
// "hh:mm:ss", or "hh:mm" for a step of whole minutes, of the UTC time `seconds`.
std::string TimeTickText(double seconds, double step);
// "0.5", "2", "100", "1k" (1000 Hz and above in kHz): the label of a frequency tick.
std::string FrequencyTickText(double hz, const TNumberSeparators& separators);

// The page's readout of the pixel under the mouse:
// "Channel 2  2026-12-07 12:34:56 UTC  12.50 Hz  -87.3 dBFS/Hz".
std::string SpectrogramReadout(int channel, double time, double frequency, double levelDb,
                               const TNumberSeparators& separators);
