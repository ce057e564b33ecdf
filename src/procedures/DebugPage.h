// The Debug page's arithmetic: which samples the decoder selected, the two code words as the
// label shows them, and the three spectrum bars at the code's own frequency and its neighbours.
// The window draws the curve, the marks, the label and the bars from these.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace Procedures {

constexpr int kDebugSampleCount = 56;
using TDebugSamples = std::array<int16_t, kDebugSampleCount>; // sample s is element s - 1

// The page's layout for code length L: blanks after each digit of the code words, the step
// between two selected samples, and the number of samples the bars use.
struct TDebugLayout {
    int SpacerBlanks = 0;
    int Step = 0;
    int BarSamples = 49;
};
TDebugLayout DebugLayoutFor(int codeLength);

// The numbers (1..56) of the samples the decoder selected: DecodSelect, DecodSelect + step, ...,
// L of them (the first on sample 1 when DecodSelect is 0). None when DecodSelect is 10 or more or
// L is not positive. A mark that would fall beyond sample 56 (L 9 with DecodSelect 9 reaches 57)
// is left out: there is no sample to put it on.
std::vector<int> SelectedSampleNumbers(int codeLength, uint8_t decodSelect);

// The label over the chart: each of the L low bits of CodeA, most significant first, followed by
// the spacer's blanks; CR LF; the same for CodeB.
std::string CodeWordsLabel(int codeLength, uint16_t codeA, uint16_t codeB);

// The tapered-cosine (Tukey) window of length N = samples + 2 with taper ratio `alpha`, at
// n = 1..samples (element n - 1); its two zero ends are not used. Alpha and every value are held
// in single precision, as the page has always computed them.
std::vector<float> TukeyWindow(int samples, float alpha = 0.9f);

// Heights in pixels of the bars at k = L - 1, L and L + 1 cycles per M samples, M from the
// layout: h = sqrt(S^2 + C^2) / 25 rounded half to even, where S and C sum sin and cos of
// 2 pi k (n - 1) / M times sample n + 1 times the window, n = 1..M. Not limited to the
// background's height.
struct TSpectrumBars {
    int Left = 0;   // k = L - 1
    int Center = 0; // k = L
    int Right = 0;  // k = L + 1
};
TSpectrumBars SpectrumBars(int codeLength, const TDebugSamples& samples);

// A bar grows upwards from the background's bottom edge: its top for height h.
inline int BarTop(int backgroundTop, int backgroundHeight, int height) {
    return backgroundTop + backgroundHeight - height;
}

} // namespace Procedures
