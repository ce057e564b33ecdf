#include "NoiseTest.h"

#include "NumberText.h"
#include "PowerCycling.h"

#include <cmath>
#include <utility>

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
                                 int signalLevelReadings, uint32_t range) {
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
    s.SpreadCounts = double(maximum) - double(minimum);
    s.Mean = sum / s.Samples;
    double squares = 0;
    for (float x : samples)
        squares += (x - s.Mean) * (x - s.Mean);
    s.StandardDeviation = std::sqrt(squares / s.Samples);
    if (range > 0) {
        const auto onCircle = [range](double x) {
            const double r = double(range);
            double m = std::fmod(x, r);
            if (m < 0) m += r;
            return m >= r ? 0.0 : m;
        };
        s.Minimum = static_cast<float>(onCircle(minimum));
        s.Maximum = static_cast<float>(onCircle(maximum));
        s.Mean = onCircle(s.Mean);
    }
    return s;
}

TNoiseAcquisition::TNoiseAcquisition(int samples) : planned_(samples > 0 ? samples : 0) {
    samples_.reserve(static_cast<size_t>(planned_));
}

bool TNoiseAcquisition::SignalLevelDue() const {
    const int next = Taken() + 1;
    return next % kNoiseSignalLevelEvery == 0;
}

void TNoiseAcquisition::AddReading(uint32_t stValue, std::optional<uint16_t> signalLevel, uint32_t range) {
    if (SignalLevelDue() && signalLevel) {
        signalLevelSum_ += *signalLevel;
        ++signalLevelReadings_;
    }
    if (samples_.empty()) range_ = range;
    double sample = stValue;
    if (range_ > 0 && !samples_.empty()) {
        const double first = samples_.front();
        sample = first + CircularDifference(first, stValue, range_);
    }
    samples_.push_back(static_cast<float>(sample));
}

std::string TNoiseAcquisition::Caption() const {
    return NoisePercentCaption(Taken() + 1, planned_);
}

TNoiseStatistics TNoiseAcquisition::Statistics() const {
    return NoiseStatistics(samples_, signalLevelSum_, signalLevelReadings_, range_);
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
        "Sig Lvl:\t" + (s.SignalLevelMeasured() ? F0(s.SignalLevelMean) : std::string("n/a")),
        "",
        (s.SignalLevelMeasured() ? F0(s.SignalLevelMean) : std::string()) + "\t" + F1(s.SixSigma()),
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

TNoiseRun::TNoiseRun(TProcedureTraffic& traffic, int samples, TWarning warn)
    : traffic_(traffic), warn_(std::move(warn)), acquisition_(samples) {}

TNextStep TNoiseRun::Step() {
    if (!Running()) return {true, 0};
    if (acquisition_.Complete()) {
        end_ = TRunEnd::Completed;
        return {true, 0};
    }
    const bool due = acquisition_.SignalLevelDue();
    const TReading reading = traffic_.TakeReading();
    if (!reading.Ok) {
        end_ = reading.LinkLost ? TRunEnd::LostPort : TRunEnd::FailedReading;
        endReason_ = "reading " + std::to_string(acquisition_.Taken() + 1) + ": " + reading.Reason;
        return {true, 0};
    }
    std::optional<uint16_t> level;
    bool lost = false;
    if (due && traffic_.HasSignalLevel()) {
        const TRegisterValue read = traffic_.ReadSignalLevel();
        if (read.Ok) {
            level = static_cast<uint16_t>(read.Value);
        } else {
            warn_(read.Reason);
            lost = read.LinkLost;
            if (lost)
                endReason_ = "signal level of reading " + std::to_string(acquisition_.Taken() + 1) + ": " +
                             read.Reason;
        }
    }
    acquisition_.AddReading(reading.SingleTurn, level, reading.SingleTurnRange);
    if (lost) {
        end_ = TRunEnd::LostPort;
        return {true, 0};
    }
    if (acquisition_.Complete()) {
        end_ = TRunEnd::Completed;
        return {true, 0};
    }
    return {false, 0};
}

void TNoiseRun::Stop(TRunEnd why) {
    if (!Running()) return;
    end_ = why;
    if (why == TRunEnd::Interrupted) endReason_ = "interrupted";
}

std::vector<std::string> TNoiseRun::ReportLines() const {
    std::vector<std::string> lines = NoiseReportLines(Statistics());
    if (end_ != TRunEnd::Completed && end_ != TRunEnd::Running)
        lines.push_back("Acquisition ended early after " + std::to_string(acquisition_.Taken()) +
                        " samples: " + (endReason_.empty() ? std::string(RunEndText(end_)) : endReason_));
    return lines;
}

} // namespace Procedures
