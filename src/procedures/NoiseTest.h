// The position-noise test's arithmetic and texts: the acquisition's bookkeeping (which reading
// also reads the signal level, the percent caption), the statistics in population form and the
// result memo with its clipboard line. The window owns the button, the reading passes and the
// clipboard.
//
// When the acquisition ends early (a failed reading, the program closing), the statistics cover
// the samples actually taken and the signal-level mean the hundredth readings actually taken:
// samples never taken are not zeros that drag the minimum and the mean down. A signal level that
// could not be read is no sample either; with none measured the memo says "n/a".
//
// The single-turn position lies on a circle: a shaft at rest on the zero crossing reads 262142,
// 1, 262143, 2 ... Samples are unwrapped around the first one (each taken as the first plus its
// shortest signed difference from it), the mean, spread and deviation computed on the unwrapped
// values, and the minimum, maximum and mean shown mapped back into [0, counts per turn).
#pragma once

#include "ProcedureTraffic.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace Procedures {

constexpr int kNoiseSampleCount = 5000;
constexpr int kNoiseSignalLevelEvery = 100;

struct TNoiseStatistics {
    int Samples = 0;   // samples the figures cover
    float Minimum = 0; // single precision, as the samples; within [0, range) when the range is known
    float Maximum = 0;
    double Mean = 0;
    double StandardDeviation = 0; // population form: divided by the number of samples
    double SpreadCounts = 0;      // largest minus smallest unwrapped sample
    int SignalLevelReadings = 0;  // signal levels measured
    double SignalLevelMean = 0;   // 0 when there were none
    double Spread() const { return SpreadCounts; }
    double SixSigma() const { return 6 * StandardDeviation; }
    bool SignalLevelMeasured() const { return SignalLevelReadings > 0; }
};

// Statistics of `samples` (all of them, unwrapped already) and the signal-level mean of
// `signalLevelSum` over `signalLevelReadings` readings. With `range` > 0 the minimum, maximum and
// mean are mapped back into [0, range). No samples give zeros throughout.
TNoiseStatistics NoiseStatistics(const std::vector<float>& samples, double signalLevelSum,
                                 int signalLevelReadings, uint32_t range = 0);

// One run's readings as the loop takes them. Before each reading the window asks whether it is a
// hundredth one (then that pass also reads the signal level); after it, it hands over the
// single-turn position and the signal level the pass left behind.
class TNoiseAcquisition {
public:
    explicit TNoiseAcquisition(int samples = kNoiseSampleCount);

    // The reading about to be taken is a hundredth one (100, 200, ... up to the sample count).
    bool SignalLevelDue() const;
    // Stores the reading's single-turn position as a single-precision sample, unwrapped around the
    // first sample on a circle of `range` counts (0: not unwrapped); `signalLevel` counts towards
    // the mean only when the reading was a due one and the level could be read.
    void AddReading(uint32_t stValue, std::optional<uint16_t> signalLevel, uint32_t range = 0);
    bool Complete() const { return Taken() >= planned_; }
    int Taken() const { return static_cast<int>(samples_.size()); }
    int Planned() const { return planned_; }
    // The button's caption after the last reading added.
    std::string Caption() const;
    TNoiseStatistics Statistics() const;
    const std::vector<float>& Samples() const { return samples_; }

private:
    int planned_;
    uint32_t range_ = 0;
    std::vector<float> samples_;
    double signalLevelSum_ = 0;
    int signalLevelReadings_ = 0;
};

// The caption while sample `nextIndex` - 1 is the last one taken: nextIndex x 100 / samples,
// rounded half to even, + " %" ("0 %" after the first of 5000, "2 %" after the hundredth, "100 %"
// after the last).
std::string NoisePercentCaption(int nextIndex, int samples);

// The result memo's nine lines (line 8 empty): "vzorcev:" TAB count, "minn:", "maxx:",
// "raztros:", "povprecje:", "6 sigma:" with one decimal, "Sig Lvl:" with none ("n/a" when no
// level was measured), then the signal level (empty when none) TAB the six sigmas. Decimal
// commas, no thousands groups.
std::vector<std::string> NoiseReportLines(const TNoiseStatistics& statistics);
// The nine lines, each ended by CR LF.
std::string NoiseReportText(const TNoiseStatistics& statistics);
// Line 9 with its CR LF: what goes to the clipboard ("1200\t6,0\r\n").
std::string NoiseClipboardText(const TNoiseStatistics& statistics);

// The noise test's driver, one reading per Step(): the window runs it from a timer, tarvo-cli from
// a loop. The acquisition ends at the first failed reading without storing it; the report then
// covers the samples taken and says why it ended early, and the verdict is a failure. A failed
// signal-level read is a warning (through `warn`) and no sample of the level.
class TNoiseRun {
public:
    using TWarning = std::function<void(const std::string&)>;
    TNoiseRun(TProcedureTraffic& traffic, int samples, TWarning warn);

    TNextStep Step();
    // Ends the acquisition before its next reading (the program closing, a signal).
    void Stop(TRunEnd why);

    const TNoiseAcquisition& Acquisition() const { return acquisition_; }
    TNoiseStatistics Statistics() const { return acquisition_.Statistics(); }
    TRunEnd End() const { return end_; }
    bool Running() const { return end_ == TRunEnd::Running; }
    bool Passed() const { return end_ == TRunEnd::Completed; }
    // Why the acquisition ended early ("reading 1235: USB Comm Err -1"), else empty.
    const std::string& EndReason() const { return endReason_; }
    // The memo's lines, then, for an early end, "Acquisition ended early: REASON".
    std::vector<std::string> ReportLines() const;

private:
    TProcedureTraffic& traffic_;
    TWarning warn_;
    TNoiseAcquisition acquisition_;
    TRunEnd end_ = TRunEnd::Running;
    std::string endReason_;
};

} // namespace Procedures
