#include "NoiseTest.h"

#include "NumberText.h"

#include <cmath>

namespace Procedures {

namespace {

// F1 and F0 of the memo: fixed notation, one decimal (precision 10) or none (precision 6).
std::string F1(double x) {
    return Orodja::FormatFixed(x, 10, 1, ",");
}

std::string F0(double x) {
    return Orodja::FormatFixed(x, 6, 0, ",");
}

} // namespace

TNoiseStatistics NoiseStatistics(const std::vector<float>& samples, double signalLevelSum,
                                 int signalLevelReadings) {
    TNoiseStatistics s;
    s.SignalLevelReadings = signalLevelReadings;
    s.SignalLevelMean = signalLevelReadings > 0 ? signalLevelSum / signalLevelReadings : 0.0;
    if (samples.empty()) return s;
    s.Samples = static_cast<int>(samples.size());
    float minimum = 2147483648.0f;
    float maximum = -2147483648.0f;
    double sum = 0;
    for (float x : samples) {
        sum += x;
        if (x < minimum) minimum = x;
        if (x > maximum) maximum = x;
    }
    s.Minimum = minimum;
    s.Maximum = maximum;
    s.Mean = sum / s.Samples;
    double squares = 0;
    for (float x : samples)
        squares += (x - s.Mean) * (x - s.Mean);
    s.StandardDeviation = std::sqrt(squares / s.Samples);
    return s;
}

TNoiseAcquisition::TNoiseAcquisition(int samples) : planned_(samples > 0 ? samples : 0) {
    samples_.reserve(static_cast<size_t>(planned_));
}

bool TNoiseAcquisition::SignalLevelDue() const {
    const int next = Taken() + 1;
    return next % kNoiseSignalLevelEvery == 0;
}

void TNoiseAcquisition::AddReading(uint32_t stValue, uint16_t signalLevel) {
    if (SignalLevelDue()) {
        signalLevelSum_ += signalLevel;
        ++signalLevelReadings_;
    }
    samples_.push_back(static_cast<float>(stValue));
}

std::string TNoiseAcquisition::Caption() const {
    return NoisePercentCaption(Taken() + 1, planned_);
}

TNoiseStatistics TNoiseAcquisition::Statistics() const {
    return NoiseStatistics(samples_, signalLevelSum_, signalLevelReadings_);
}

std::string NoisePercentCaption(int nextIndex, int samples) {
    if (samples <= 0) return "0 %";
    const double percent = std::nearbyint(double(nextIndex) * 100.0 / double(samples));
    return std::to_string(static_cast<long long>(percent)) + " %";
}

std::vector<std::string> NoiseReportLines(const TNoiseStatistics& s) {
    return {
        "vzorcev:\t" + std::to_string(s.Samples),
        "minn:\t" + F1(s.Minimum),
        "maxx:\t" + F1(s.Maximum),
        "raztros:\t" + F1(s.Spread()),
        "povprecje:\t" + F1(s.Mean),
        "6 sigma:\t" + F1(s.SixSigma()),
        "Sig Lvl:\t" + F0(s.SignalLevelMean),
        "",
        F0(s.SignalLevelMean) + "\t" + F1(s.SixSigma()),
    };
}

std::string NoiseReportText(const TNoiseStatistics& statistics) {
    std::string text;
    for (const std::string& line : NoiseReportLines(statistics))
        text += line + "\r\n";
    return text;
}

std::string NoiseClipboardText(const TNoiseStatistics& statistics) {
    return NoiseReportLines(statistics).back() + "\r\n";
}

} // namespace Procedures
