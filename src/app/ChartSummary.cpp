#include "ChartSummary.h"

#include <algorithm>
#include <cmath>

namespace ChartSummary {

void TAppendedValues::Append(double value) {
    if ((count_ & kChunkMask) == 0)
        chunks_.push_back(std::make_unique<double[]>(std::size_t(kChunkMask + 1)));
    chunks_.back()[count_ & kChunkMask] = value;
    ++count_;
    open_.Take(value);
    if (count_ % kBucket != 0) return;
    // A bucket is complete: it joins the base, and every group it completes joins the level above,
    // so each point costs a constant share of the whole pyramid.
    if (levels_.empty()) levels_.emplace_back();
    levels_[0].push_back(open_);
    open_ = TMinMax{};
    for (std::size_t level = 0; levels_[level].size() % kFanOut == 0; ++level) {
        TMinMax group;
        for (auto it = levels_[level].end() - kFanOut; it != levels_[level].end(); ++it)
            group.Take(*it);
        if (levels_.size() == level + 1) levels_.emplace_back();
        levels_[level + 1].push_back(group);
    }
}

void TAppendedValues::Clear() {
    chunks_.clear();
    chunks_.shrink_to_fit();
    levels_.clear();
    levels_.shrink_to_fit();
    count_ = 0;
    open_ = TMinMax{};
}

void TAppendedValues::Scan(long first, long last, TMinMax& into) const {
    while (first < last) {
        const double* chunk = chunks_[first >> kChunkBits].get();
        const long end = std::min(last, (first | kChunkMask) + 1);
        for (long i = first & kChunkMask, n = end - first; n > 0; --n, ++i)
            into.Take(chunk[i]);
        first = end;
    }
}

TMinMax TAppendedValues::Range(long first, long last) const {
    TMinMax range;
    long lo = (first + kBucket - 1) / kBucket, hi = last / kBucket; // whole buckets inside
    if (lo >= hi) {
        Scan(first, last, range);
        return range;
    }
    Scan(first, lo * kBucket, range);
    Scan(hi * kBucket, last, range);
    for (std::size_t level = 0; lo < hi; ++level) {
        const std::vector<TMinMax>& summaries = levels_[level];
        if (level + 1 == levels_.size()) {
            for (; lo < hi; ++lo)
                range.Take(summaries[lo]);
            break;
        }
        while (lo < hi && lo % kFanOut != 0)
            range.Take(summaries[lo++]);
        while (lo < hi && hi % kFanOut != 0)
            range.Take(summaries[--hi]);
        lo /= kFanOut;
        hi /= kFanOut;
    }
    return range;
}

std::size_t TAppendedValues::Bytes() const {
    std::size_t bytes = chunks_.size() * std::size_t(kChunkMask + 1) * sizeof(double);
    for (const auto& level : levels_)
        bytes += level.capacity() * sizeof(TMinMax);
    return bytes;
}

void SplitIntoColumns(const TAppendedValues& values, long first, long last, double origin, double perPoint,
                      std::vector<TColumn>& columns) {
    auto pixelOf = [&](long i) { return std::floor(origin + double(i) * perPoint); };
    for (long a = first; a < last;) {
        const double pixel = pixelOf(a);
        // The first point of the next column, guessed from the scale and then settled by the
        // same rounding that placed point a, so no point lands in two columns or none.
        const double guess = std::ceil((pixel + 1 - origin) / perPoint);
        long b = guess >= double(last) ? last : std::max(a + 1, long(guess));
        while (b > a + 1 && pixelOf(b - 1) > pixel)
            --b;
        while (b < last && pixelOf(b) <= pixel)
            ++b;
        columns.push_back(TColumn{long(pixel), a, b, values.Range(a, b)});
        a = b;
    }
}

} // namespace ChartSummary
