// The position-noise test's arithmetic and texts: the acquisition's bookkeeping (which reading
// also reads the signal level, the percent caption), the statistics in population form and the
// result memo with its clipboard line. The window owns the button, the reading passes and the
// clipboard.
//
// When the acquisition ends early (a failed reading, the program closing), the statistics cover
// the samples actually taken and the signal-level mean the hundredth readings actually taken:
// samples never taken are not zeros that drag the minimum and the mean down.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace Procedures {

constexpr int kNoiseSampleCount = 5000;
constexpr int kNoiseSignalLevelEvery = 100;

struct TNoiseStatistics {
    int Samples = 0;   // samples the figures cover
    float Minimum = 0; // single precision, as the samples
    float Maximum = 0;
    double Mean = 0;
    double StandardDeviation = 0; // population form: divided by the number of samples
    int SignalLevelReadings = 0;  // hundredth readings taken
    double SignalLevelMean = 0;   // 0 when there were none
    double Spread() const { return double(Maximum) - double(Minimum); }
    double SixSigma() const { return 6 * StandardDeviation; }
};

// Statistics of `samples` (all of them) and the signal-level mean of `signalLevelSum` over
// `signalLevelReadings` readings. No samples give zeros throughout.
TNoiseStatistics NoiseStatistics(const std::vector<float>& samples, double signalLevelSum,
                                 int signalLevelReadings);

// One run's readings as the loop takes them. Before each reading the window asks whether it is a
// hundredth one (then that pass also reads the signal level); after it, it hands over the
// single-turn position and the signal level the pass left behind.
class TNoiseAcquisition {
public:
    explicit TNoiseAcquisition(int samples = kNoiseSampleCount);

    // The reading about to be taken is a hundredth one (100, 200, ... up to the sample count).
    bool SignalLevelDue() const;
    // Stores the reading's single-turn position as a single-precision sample; `signalLevel`
    // counts towards the mean only when the reading was a due one.
    void AddReading(uint32_t stValue, uint16_t signalLevel);
    bool Complete() const { return Taken() >= planned_; }
    int Taken() const { return static_cast<int>(samples_.size()); }
    int Planned() const { return planned_; }
    // The button's caption after the last reading added.
    std::string Caption() const;
    TNoiseStatistics Statistics() const;
    const std::vector<float>& Samples() const { return samples_; }

private:
    int planned_;
    std::vector<float> samples_;
    double signalLevelSum_ = 0;
    int signalLevelReadings_ = 0;
};

// The caption while sample `nextIndex` - 1 is the last one taken: nextIndex x 100 / samples,
// rounded half to even, + " %" ("0 %" after the first of 5000, "2 %" after the hundredth, "100 %"
// after the last).
std::string NoisePercentCaption(int nextIndex, int samples);

// The result memo's nine lines (line 8 empty): "vzorcev:" TAB count, "minn:", "maxx:",
// "raztros:", "povprecje:", "6 sigma:" with one decimal, "Sig Lvl:" with none, then the signal
// level TAB the six sigmas. Decimal commas, no thousands groups.
std::vector<std::string> NoiseReportLines(const TNoiseStatistics& statistics);
// The nine lines, each ended by CR LF.
std::string NoiseReportText(const TNoiseStatistics& statistics);
// Line 9 with its CR LF: what goes to the clipboard ("1200\t6,0\r\n").
std::string NoiseClipboardText(const TNoiseStatistics& statistics);

} // namespace Procedures
