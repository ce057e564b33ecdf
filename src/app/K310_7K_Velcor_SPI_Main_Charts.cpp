// The charts of the window: their design settings, the Signal level page's temperature and
// air-gap modes, the air-gap offset calibration and the export of the chart to a PNG file.
#include "K310_7K_Velcor_SPI_Main.h"

#include "ChartView.h"
#include "K310_BiSS_bidirectional.h"
#include "ReadingRules.h"

#include <QEvent>
#include <QFile>
#include <QMouseEvent>

#include <cmath>
#include <limits>

namespace {

// A label has no click of its own; this gives it one. A disabled label takes no clicks.
class ClickFilter : public QObject {
public:
    ClickFilter(QWidget* target, std::function<void()> onClick)
        : QObject(target), target_(target), onClick_(std::move(onClick)) {
        target->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == target_ && event->type() == QEvent::MouseButtonRelease && target_->isEnabled()) {
            auto* mouse = static_cast<QMouseEvent*>(event);
            if (mouse->button() == Qt::LeftButton && target_->rect().contains(mouse->position().toPoint()))
                onClick_();
        }
        return false;
    }

private:
    QWidget* target_;
    std::function<void()> onClick_;
};

} // namespace

void TMainForm::SetUpCharts() {
    SignalLevelChart = new TChartView(ChartSignalLevel, 1001, 1000, this);
    SeriesGreen = SignalLevelChart->AddLineSeries(QColor(0x00, 0xAA, 0x00), 2);
    SeriesBlue = SignalLevelChart->AddLineSeries(QColor(0x00, 0x00, 0xFF), 2);

    DebugChart = new TChartView(ChartDebug, 1201, 1000, this);
    SeriesDebug = DebugChart->AddLineSeries(QColor(0x00, 0x00, 0x80), 2);
    Series2 = DebugChart->AddPointSeries(QColor(0xFF, 0x80, 0x40), 3);

    ErrMapChart = new TChartView(chartErrMap, this);
    Series1 = ErrMapChart->AddLineSeries(QColor(0xFF, 0x00, 0x00), 1);

    AirGapPointPosition = std::numeric_limits<double>::quiet_NaN();

    connect(cbDrawTemp, &QCheckBox::toggled, this, &TMainForm::cbDrawTempClick);
    connect(cbDrawAirGap, &QCheckBox::toggled, this, &TMainForm::cbDrawAirGapClick);
    new ClickFilter(lblSignalLevel, [this] { lblSignalLevelClick(); });
    // Both charts export the Signal level chart: the Debug page has no export of its own.
    connect(SignalLevelChart, &TChartView::DoubleClicked, this, &TMainForm::ChartSignalLevelDblClick);
    connect(DebugChart, &TChartView::DoubleClicked, this, &TMainForm::ChartSignalLevelDblClick);
}

void TMainForm::ClearSignalLevelChart() {
    SeriesBlue->Clear();
    SeriesGreen->Clear();
    AirGapPointPosition = std::numeric_limits<double>::quiet_NaN();
}

void TMainForm::cbDrawTempClick() {
    if (!cbDrawTemp->isChecked()) return;
    cbDrawAirGap->setChecked(false);
    SignalLevelChart->SetAutomatic(TChartView::TAxis::Bottom, true);
    SignalLevelChart->SetAutomatic(TChartView::TAxis::Left, true);
    SignalLevelChart->SetManualMaximum(TChartView::TAxis::Left, 2047);
    ClearSignalLevelChart();
    // A zoom into the previous mode's curve would hide the new one: the new axes hold at once.
    SignalLevelChart->Unzoom();
}

void TMainForm::cbDrawAirGapClick() {
    if (!cbDrawAirGap->isChecked()) return;
    cbDrawTemp->setChecked(false);
    SignalLevelChart->SetManual(TChartView::TAxis::Bottom, 0, 360);
    SignalLevelChart->SetManual(TChartView::TAxis::Left, 0, 400);
    ClearSignalLevelChart();
    SignalLevelChart->Unzoom();
}

void TMainForm::lblSignalLevelClick() {
    AirGapN = Reading::CalibratedAirGapN(AirGapN, AirGap);
    dialogs_->information(Reading::AirGapNMessage(AirGapN));
}

void TMainForm::ChartSignalLevelDblClick() {
    SaveDialog1->setWindowTitle(QStringLiteral("Shrani graf..."));
    SaveDialog1->selectFile(
        Reading::ExportProposedName(K310_BiSS_bidirectional::EncoderSignature.Dremo_Serial));
    dialogs_->questionSound();
    if (!dialogs_->execSaveDialog(*SaveDialog1)) return;
    const QStringList chosen = SaveDialog1->selectedFiles();
    if (chosen.isEmpty()) return;
    const QString name = Reading::WithPngExtension(chosen.front());
    if (QFile::exists(name)) {
        dialogs_->information(QStringLiteral("Datoteka PNG že obstaja!"));
        return;
    }
    Orodja::SaveChartAsPng(*SignalLevelChart, name, *dialogs_);
}
