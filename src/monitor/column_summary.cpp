#include "monitor/column_summary.h"

#include <cmath>

#include "monitor/trace_scale.h"

namespace {

// The smallest index j in [from, size] with TraceColumn(j, xScale) >= column,
// size when there is none. Columns never decrease with j, so a guess from the
// division is corrected by a step or two.
size_t FirstInColumn(int64_t column, size_t from, size_t size, double xScale) {
    const double guess = std::ceil(static_cast<double>(column) / xScale);
    size_t j = from;
    if (guess >= static_cast<double>(size)) {
        j = size;
    } else if (guess > static_cast<double>(from)) {
        j = static_cast<size_t>(guess);
    }
    auto columnOf = [xScale](size_t index) {
        return TraceColumn(static_cast<int64_t>(index), xScale);
    };
    while (j > from && columnOf(j - 1) >= column) {
        --j;
    }
    while (j < size && columnOf(j) < column) {
        ++j;
    }
    return j;
}

}  // namespace

void SummarizeColumns(const TChannelHistory& history, size_t first, double xScale, int columns,
                      std::vector<TMinMax>& out) {
    out.assign(columns > 0 ? static_cast<size_t>(columns) : 0, TMinMax{});
    const size_t size = history.Size();
    if (!(xScale > 0) || first >= size) {
        return;
    }
    size_t a = first;  // first sample of column c, or of a later one
    for (int c = 0; c < columns && a < size; ++c) {
        const size_t next = FirstInColumn(int64_t{c} + 1, a, size, xScale);
        if (next == a) {
            continue;  // no sample in column c
        }
        TMinMax& range = out[c];
        if (c == 0) {
            if (next < size) {
                range.Add(history[next - 1]);
                range.Add(history[next]);
            }
        } else {
            range = history.MinMax(a, next);
            if (a > first) {
                range.Add(history[a - 1]);
            }
            if (next < size) {
                range.Add(history[next]);
            }
        }
        a = next;
    }
}
