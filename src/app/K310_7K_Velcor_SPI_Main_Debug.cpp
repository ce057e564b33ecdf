// The Debug page: the latched decoder samples as a curve with the selected ones marked, the two
// code words, and three bars of the curve's spectrum around the code's own frequency.
#include "K310_7K_Velcor_SPI_Main.h"

#include "ChartView.h"
#include "DebugPage.h"
#include "K310_SPI_Velcor.h"

void TMainForm::UpdateDebugPage() {
    const K310_SPI_Velcor::TDebugData& debug = K310_SPI_Velcor::DebugData;
    Procedures::TDebugSamples samples;
    std::copy(debug.Samples.begin(), debug.Samples.end(), samples.begin());

    SeriesDebug->Clear();
    for (int s = 1; s <= Procedures::kDebugSampleCount; ++s)
        SeriesDebug->AddXY(s, samples[s - 1]);
    Series2->Clear();
    for (int s : Procedures::SelectedSampleNumbers(EncDolzinaKode, debug.DecodSelect))
        Series2->AddXY(s, samples[s - 1]);

    const QString code =
        QString::fromLatin1(Procedures::CodeWordsLabel(EncDolzinaKode, debug.CodeA, debug.CodeB));
    if (lblKodaNaGrafu->text() != code) lblKodaNaGrafu->setText(code);

    const Procedures::TSpectrumBars bars = Procedures::SpectrumBars(EncDolzinaKode, samples);
    const QRect background = shBgFFT->geometry();
    for (const auto& [bar, height] :
         {std::pair{shLevo, bars.Left}, std::pair{shCenter, bars.Center}, std::pair{shDesno, bars.Right}}) {
        const int top = Procedures::BarTop(background.y(), background.height(), height);
        bar->setGeometry(bar->x(), top, bar->width(), height);
    }
}
