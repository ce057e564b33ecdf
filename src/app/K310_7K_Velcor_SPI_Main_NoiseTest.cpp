// The position-noise test: the procedures' step machine takes one reading pass per turn of the
// event loop (tmrNoiseStep), so the window stays responsive and the caption counts up; at the
// end the statistics go into the result memo and onto the clipboard.
#include "K310_7K_Velcor_SPI_Main.h"

#include "NoiseTest.h"
#include "NumberFormat.h"
#include "QtRoutines.h"
#include "WindowTraffic.h"

void TMainForm::btnPositionNoiseClick() {
    if (NoiseRun) return; // the button is disabled while a run goes on
    btnPositionNoise->setEnabled(false);
    cbDrawAirGap->setChecked(false);
    cbDrawTemp->setChecked(false);
    NoiseRun = std::make_unique<Procedures::TNoiseRun>(
        *procedureTraffic_, Procedures::kNoiseSampleCount,
        [this](const std::string& text) { AddLog(QString::fromStdString(text)); });
    tmrNoiseStep->start(0);
}

void TMainForm::tmrNoiseStepTimer() {
    if (!NoiseRun) return;
    if (Orodja::ApplicationTerminating()) NoiseRun->Stop(Procedures::TRunEnd::Interrupted);
    bool done = true;
    {
        TAdapterAction busy(*this);
        done = NoiseRun->Step().Done;
    }
    btnPositionNoise->setText(QString::fromStdString(NoiseRun->Acquisition().Caption()));
    if (!done) {
        tmrNoiseStep->start(0);
        return;
    }

    const Procedures::TNoiseStatistics statistics = NoiseRun->Statistics();
    Orodja::SetDecimalSeparator(QLatin1Char(','));
    mmTestRezultat->setPlainText(QString::fromStdString(Procedures::NoiseReportText(statistics)).trimmed());
    const std::vector<std::string> report = NoiseRun->ReportLines();
    // An early end says so under the figures (and in the log), never on the clipboard.
    if (report.size() > 9) {
        mmTestRezultat->appendPlainText(QString::fromStdString(report.back()));
        AddLog(QString::fromStdString(report.back()));
    }
    Orodja::CopyToClipboard(QString::fromStdString(Procedures::NoiseClipboardText(statistics)));
    Orodja::SetDecimalSeparator(QLatin1Char('.'));
    NoiseRun.reset();
    btnPositionNoise->setText(QStringLiteral("Position Noise"));
    btnPositionNoise->setEnabled(true);
}
