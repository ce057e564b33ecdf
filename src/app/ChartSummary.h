// The points of a chart series that only grows at its end (x = 0, 1, 2, ...), kept as bare values
// with a pyramid of lowest/highest summaries beside them, so drawing asks each pixel column for
// its band in a few steps instead of walking every point of an overnight run.
#pragma once

#include <cstddef>
#include <limits>
#include <memory>
#include <vector>

namespace ChartSummary {

// Lowest and highest of some values; NaN values are left out, so a span of NaN only is empty.
struct TMinMax {
    double min = std::numeric_limits<double>::infinity();
    double max = -std::numeric_limits<double>::infinity();

    bool Empty() const { return !(min <= max); }
    void Take(double v) {
        if (v < min) min = v;
        if (v > max) max = v;
    }
    void Take(const TMinMax& other) {
        if (other.min < min) min = other.min;
        if (other.max > max) max = other.max;
    }
};

class TAppendedValues {
public:
    // Points per base summary: small enough that the raw ends of a column cost little, large
    // enough that the summaries cost under a byte per point.
    static constexpr long kBucket = 32;
    // Each summary above the base covers this many of the level below.
    static constexpr long kFanOut = 4;

    void Append(double value);
    void Clear();

    long Count() const { return count_; }
    double Value(long index) const { return chunks_[index >> kChunkBits][index & kChunkMask]; }
    // Points [first, last), first <= last <= Count().
    TMinMax Range(long first, long last) const;
    // What the values and summaries hold in memory, for the benchmarks.
    std::size_t Bytes() const;

private:
    // Fixed chunks instead of one vector: growing never copies an overnight run at once.
    static constexpr int kChunkBits = 16;
    static constexpr long kChunkMask = (1L << kChunkBits) - 1;

    void Scan(long first, long last, TMinMax& into) const;

    std::vector<std::unique_ptr<double[]>> chunks_;
    long count_ = 0;
    TMinMax open_; // the base bucket still filling
    // levels_[0] has one summary per complete bucket; levels_[k + 1] one per kFanOut complete
    // summaries of levels_[k]. Only complete summaries are kept, so a summary never changes.
    std::vector<std::vector<TMinMax>> levels_;
};

// One pixel column of a drawing: the points [first, last) that fall into it and their band.
struct TColumn {
    long pixel;
    long first, last;
    TMinMax range;
};

// Splits points [first, last) into the pixel columns they fall into, where point i lies at
// pixel floor(origin + i * perPoint), perPoint > 0; appends the columns to `columns`.
void SplitIntoColumns(const TAppendedValues& values, long first, long last, double origin, double perPoint,
                      std::vector<TColumn>& columns);

} // namespace ChartSummary
