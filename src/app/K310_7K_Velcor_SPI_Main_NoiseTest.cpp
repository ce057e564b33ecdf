// The position-noise test: 5000 reading passes with the shaft at rest, then the statistics into
// the result memo and onto the clipboard.
#include "K310_7K_Velcor_SPI_Main.h"

#include "K310_BiSS_bidirectional.h"
#include "NoiseTest.h"
#include "NumberFormat.h"
#include "QtRoutines.h"

#include <QCoreApplication>

void TMainForm::btnPositionNoiseClick() {
    TAdapterAction busy(*this);
    const auto& position = K310_BiSS_bidirectional::EncoderPosition;
    btnPositionNoise->setEnabled(false);
    cbDrawAirGap->setChecked(false);
    cbDrawTemp->setChecked(false);

    Procedures::TNoiseAcquisition acquisition;
    bool failed = false;
    // The button is disabled, so the test cannot start again inside its own message handling.
    while (!acquisition.Complete() && !failed && !Orodja::ApplicationTerminating()) {
        StatBeriSignalLevel = acquisition.SignalLevelDue();
        btnReadEncoderClick();
        QCoreApplication::processEvents();
        StatBeriSignalLevel = false;
        failed = position.ErrTimeout || position.ErrComm != 0;
        // A failed reading's position is the previous one again: not a sample of the noise.
        if (!failed) acquisition.AddReading(position.ST_value, position.SignalLevel);
        btnPositionNoise->setText(QString::fromStdString(acquisition.Caption()));
    }

    const Procedures::TNoiseStatistics statistics = acquisition.Statistics();
    Orodja::SetDecimalSeparator(QLatin1Char(','));
    mmTestRezultat->setPlainText(QString::fromStdString(Procedures::NoiseReportText(statistics)).trimmed());
    Orodja::CopyToClipboard(QString::fromStdString(Procedures::NoiseClipboardText(statistics)));
    Orodja::SetDecimalSeparator(QLatin1Char('.'));
    btnPositionNoise->setText(QStringLiteral("Position Noise"));
    btnPositionNoise->setEnabled(true);
}
