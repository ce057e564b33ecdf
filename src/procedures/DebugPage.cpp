#include "DebugPage.h"

#include "Orodja.h"

#include <cmath>
#include <numbers>

namespace Procedures {

TDebugLayout DebugLayoutFor(int codeLength) {
    switch (codeLength) {
    case 5:
        return {13, 10, 49};
    case 6:
        return {11, 8, 48};
    case 7:
        return {10, 7, 49};
    case 8:
        return {9, 6, 48};
    case 9:
        return {8, 6, 54};
    default:
        return {0, 0, 49};
    }
}

std::vector<int> SelectedSampleNumbers(int codeLength, uint8_t decodSelect) {
    std::vector<int> marks;
    if (decodSelect >= 10 || codeLength <= 0) return marks;
    const int step = DebugLayoutFor(codeLength).Step;
    for (int k = 1; k <= codeLength; ++k) {
        int p = (k - 1) * step + decodSelect - 1;
        if (p < 0) p = 0;
        if (p + 1 > kDebugSampleCount) continue;
        marks.push_back(p + 1);
    }
    return marks;
}

std::string CodeWordsLabel(int codeLength, uint16_t codeA, uint16_t codeB) {
    const std::string spacer(static_cast<size_t>(DebugLayoutFor(codeLength).SpacerBlanks), ' ');
    std::string label;
    for (char digit : Orodja::ToBinaryText(codeLength, codeA))
        label += digit + spacer;
    label += "\r\n";
    for (char digit : Orodja::ToBinaryText(codeLength, codeB))
        label += digit + spacer;
    return label;
}

std::vector<float> TukeyWindow(int samples, float alpha) {
    std::vector<float> w;
    if (samples <= 0) return w;
    const double pi = std::numbers::pi;
    const double a = alpha;
    const double span = double(samples + 2) - 1; // N - 1
    for (int n = 1; n <= samples; ++n) {
        float value;
        if (alpha < 0.01f)
            value = 1.0f;
        else if (n < a * span / 2)
            value = float((1 + std::cos(pi * (2.0 * n / (a * span) - 1))) / 2);
        else if (n > span * (1 - a / 2))
            value = float((1 + std::cos(pi * (2.0 * n / (a * span) - 2 / a + 1))) / 2);
        else
            value = 1.0f;
        w.push_back(value);
    }
    return w;
}

TSpectrumBars SpectrumBars(int codeLength, const TDebugSamples& samples) {
    const int m = DebugLayoutFor(codeLength).BarSamples;
    const std::vector<float> w = TukeyWindow(m);
    auto height = [&](int k) {
        double s = 0, c = 0;
        for (int n = 1; n <= m; ++n) {
            const double phase = 2 * std::numbers::pi * k * (n - 1) / m;
            const double weighted =
                double(samples[static_cast<size_t>(n)]) * double(w[static_cast<size_t>(n - 1)]);
            s += std::sin(phase) * weighted;
            c += std::cos(phase) * weighted;
        }
        return static_cast<int>(std::nearbyint(std::sqrt(s * s + c * c) / 25));
    };
    return {height(codeLength - 1), height(codeLength), height(codeLength + 1)};
}

} // namespace Procedures
