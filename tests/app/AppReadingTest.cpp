// The reading cycle and the Signal level chart, offscreen with real widgets, against the
// simulated adapter and encoder on a real pseudo-terminal.
#include "AppTestSupport.h"
#include "ChartView.h"
#include "DeviceConstants.h"
#include "K310Simulator.h"
#include "K310_BiSS_bidirectional.h"
#include "K310_SPI_Velcor.h"
#include "NumberFormat.h"
#include "PanelColour.h"
#include "QtRoutines.h"
#include "ReadingRules.h"
#include "SimWindow.h"
#include "Tarvo_konstante.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QImage>
#include <QMouseEvent>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <cmath>
#include <functional>

using app_testing::RecordingDialogs;

namespace {

namespace Shared = K310_BiSS_bidirectional;

const QColor kGrey(0x80, 0x80, 0x80);
const QColor kOrange(0xFF, 0xAA, 0x00);

// The dialogs of the tests, with a save dialog that "chooses" `choice` (empty: cancel).
class ExportDialogs : public RecordingDialogs {
public:
    bool execSaveDialog(QFileDialog& dialog) override {
        title = dialog.windowTitle();
        proposed = QFileInfo(dialog.selectedFiles().value(0)).fileName();
        if (choice.isEmpty()) return false;
        dialog.selectFile(choice);
        return true;
    }
    QString choice, title, proposed;
};

// A window connected to a simulated encoder of the given preset, supply on, English separators.
class ReadingCycle : public app_testing::SimulatedWindowWith<ExportDialogs> {
protected:
    int Count(const std::function<bool(const std::string&)>& which) const {
        int n = 0;
        for (const auto& r : simulator->Received())
            n += which(r.command);
        return n;
    }
    int SupplyQueries() const {
        return Count([](const std::string& c) { return c == "e"; });
    }
    void ClickLabel(QLabel* label) {
        const QPointF at(5, 5);
        QMouseEvent press(QEvent::MouseButtonPress, at, label->mapToGlobal(at), Qt::LeftButton,
                          Qt::LeftButton, Qt::NoModifier);
        QMouseEvent release(QEvent::MouseButtonRelease, at, label->mapToGlobal(at), Qt::LeftButton,
                            Qt::NoButton, Qt::NoModifier);
        QCoreApplication::sendEvent(label, &press);
        QCoreApplication::sendEvent(label, &release);
    }
    void DoubleClick(QWidget* chart) {
        const QPointF at(100, 100);
        QMouseEvent dbl(QEvent::MouseButtonDblClick, at, chart->mapToGlobal(at), Qt::LeftButton,
                        Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(chart, &dbl);
    }
};

TEST_F(ReadingCycle, OnePassShowsThePositionInFourFormsAndBeats) {
    Connect("t1mt");
    ASSERT_EQ(form->EncoderResolution, 360.0 / 524288.0);
    simulator->SetPosition(131072, 2); // 2 turns and a quarter: 1179648 counts
    const QColor beat = PanelColour(form->pnlComm);
    EXPECT_EQ(beat, QColor(0x00, 0x44, 0x00));

    form->btnReadEncoder->click();

    EXPECT_EQ(Shared::EncoderPosition.MTST_value, 1179648);
    EXPECT_EQ(form->EncoderPosition_unit, 810.0);
    EXPECT_EQ(form->EncPosDegST, 90.0);
    EXPECT_EQ(form->lblPosUnit->text(), QStringLiteral("810.000 deg"));
    EXPECT_EQ(form->lblPosMT->text(), QStringLiteral("2"));
    EXPECT_EQ(form->lblPosST->text(), QStringLiteral("131072"));
    EXPECT_EQ(form->lblPosRX->text(),
              QString::fromLatin1(Shared::EncoderPosition.RxData).trimmed().toUpper());
    EXPECT_EQ(form->lblPosRX->text().size(), 12);
    EXPECT_EQ(PanelColour(form->pnlComm), QColor(0x00, 0xBB, 0x00));
    for (QWidget* panel : {static_cast<QWidget*>(form->pnlEncErr), static_cast<QWidget*>(form->pnlEncWarn),
                           static_cast<QWidget*>(form->pnlCRC)})
        EXPECT_EQ(PanelColour(panel), kGrey) << panel->objectName().toStdString();
    EXPECT_EQ(form->lblDetailedStatus->text(), QString(16, QLatin1Char('0')));
    EXPECT_EQ(form->lblDetailedStatusTxt->text(), QString());
    EXPECT_EQ(PanelColour(form->lblDetailedStatusTxt), QColor(Qt::white));
    EXPECT_EQ(form->EncPosDegOld, 810.0);
    EXPECT_TRUE(form->LogLines().isEmpty());

    // The unit is whatever the edit says; the heartbeat alternates.
    form->edUnit->setText(QStringLiteral("mm"));
    form->seNominator->setValue(-1);
    form->seDenominator->setValue(1000);
    form->btnReadEncoder->click();
    EXPECT_EQ(form->lblPosUnit->text(), QStringLiteral("-1,179.650 mm"));
    EXPECT_EQ(PanelColour(form->pnlComm), beat);
}

TEST_F(ReadingCycle, IndicatorsAndTheirLogLinesFollowTheEncoder) {
    Connect("t1");
    simulator->SetErrorBit(true);
    simulator->SetWarningBit(true);
    simulator->BadCrcNext(1);
    form->btnReadEncoderClick();
    EXPECT_EQ(PanelColour(form->pnlEncErr), QColor(0xFF, 0x00, 0x00));
    EXPECT_EQ(PanelColour(form->pnlEncWarn), kOrange);
    EXPECT_EQ(PanelColour(form->pnlCRC), QColor(0xEE, 0x82, 0xEE));
    EXPECT_TRUE(form->LogLines().isEmpty()) << "per-reading lines only under Log Encoder Errors";

    form->cbLogErrors->setChecked(true);
    simulator->BadCrcNext(1);
    form->btnReadEncoderClick();
    EXPECT_EQ(form->LogLines(), QStringList({"Error!", "Warning!", "CRC!"}))
        << "a position frame of this type carries no status word";

    // Through the detailed status the status word arrives, and with it the status line.
    form->cbDetailedStatus->setChecked(true);
    form->Memo1->clear();
    form->btnReadEncoderClick();
    ASSERT_NE(Shared::EncoderPosition.Status, 0);
    EXPECT_EQ(form->LogLines(),
              QStringList({"Error!", "Warning!", "Status: " + form->lblDetailedStatus->text()}));
    EXPECT_EQ(form->lblDetailedStatusTxt->text(), Reading::StatusText(Shared::EncoderPosition.Status, 2));
    EXPECT_FALSE(form->lblDetailedStatusTxt->text().isEmpty());
    EXPECT_EQ(PanelColour(form->lblDetailedStatusTxt), kOrange);

    simulator->SetErrorBit(false);
    simulator->SetWarningBit(false);
    form->Memo1->clear();
    form->btnReadEncoderClick();
    EXPECT_TRUE(form->LogLines().isEmpty());
    for (QWidget* panel : {static_cast<QWidget*>(form->pnlEncErr), static_cast<QWidget*>(form->pnlEncWarn),
                           static_cast<QWidget*>(form->pnlCRC)})
        EXPECT_EQ(PanelColour(panel), kGrey) << panel->objectName().toStdString();
    EXPECT_EQ(PanelColour(form->lblDetailedStatusTxt), QColor(Qt::white));
}

TEST_F(ReadingCycle, NewMapShowsThirtyTwoStatusDigitsAndItsNames) {
    Connect("t5");
    ASSERT_EQ(Tarvo_konstante::LenPersistentStatus, 4);
    simulator->SetWarningBit(true);
    form->btnReadEncoderClick();
    const QString bits = form->lblDetailedStatus->text();
    ASSERT_EQ(bits.size(), 32);
    EXPECT_TRUE(bits.startsWith(QString(16, QLatin1Char('0'))));
    EXPECT_EQ(bits.right(16).toUInt(nullptr, 2), Shared::EncoderPosition.Status);
    EXPECT_EQ(form->lblDetailedStatusTxt->text(), QStringLiteral("Warning Temperature\r\n"));
    EXPECT_EQ(PanelColour(form->lblDetailedStatusTxt), kOrange);
}

TEST_F(ReadingCycle, APassReadsOnlyWhatThePageAndOptionsNeed) {
    Connect("t1");
    form->btnReadEncoderClick();
    EXPECT_EQ(Commands(), QStringList({"?04:000", "e"})) << "Initialization page: position and first supply";

    simulator->ClearReceived();
    ShowPage(form->tabSignalLevelTemperature);
    form->btnReadEncoderClick();
    // Position, then sensor temperature and signal level.
    EXPECT_EQ(Commands().size(), 3) << Commands().join(' ').toStdString();

    // The Debug page latches the debug record; a refused latch is logged and the pass goes on.
    simulator->ClearReceived();
    ShowPage(form->tabDebug);
    form->btnReadEncoderClick();
    EXPECT_FALSE(form->LogLines().isEmpty());
    ASSERT_TRUE(K310_SPI_Velcor::WriteRegister(Tarvo_konstante::DEBUG_UNLOCK, 1, Orodja::kDebugUnlockCode));
    simulator->ClearReceived();
    form->Memo1->clear();
    form->btnReadEncoderClick();
    EXPECT_GT(Commands().size(), 30) << "the debug record is latched and read";
    EXPECT_TRUE(form->LogLines().isEmpty());

    simulator->ClearReceived();
    ShowPage(form->tabInit);
    form->StatBeriSignalLevel = true; // the noise test asks for the signal level
    form->btnReadEncoderClick();
    EXPECT_EQ(Commands().size(), 2);
}

TEST_F(ReadingCycle, DiagnosticsPageShowsTheSixRegistersOfFirmwareFour) {
    Connect("t6");
    ShowPage(form->tabDiagnostics);
    uint32_t cycles = 0, minutes = 0, tmin = 0, tmax = 0, rt = 0, per = 0;
    ASSERT_TRUE(simulator->PeekRegister(Tarvo_konstante::POWER_CYCLES, 4, cycles));
    ASSERT_TRUE(simulator->PeekRegister(Tarvo_konstante::OP_TEMP_MIN, 1, tmin));
    ASSERT_TRUE(simulator->PeekRegister(Tarvo_konstante::OP_TEMP_MAX, 2, tmax));
    ASSERT_TRUE(simulator->PeekRegister(Tarvo_konstante::SAFETY_RT, 2, rt));
    ASSERT_TRUE(simulator->PeekRegister(Tarvo_konstante::SAFETY_PER, 2, per));
    form->btnReadEncoderClick();
    ASSERT_TRUE(simulator->PeekRegister(Tarvo_konstante::OPERATING_TIME, 4, minutes));
    EXPECT_EQ(form->lblDiagNumPwrCyc->text(), "Number of power cycles: " + QString::number(cycles));
    EXPECT_EQ(form->lblDiagOpTimeMin->text(), "Operational time (minutes): " + QString::number(minutes));
    EXPECT_EQ(form->lblDiagTempMin->text(), "Operational temperature min: " + QString::number(int8_t(tmin)));
    EXPECT_EQ(form->lblDiagTempMax->text(), "Operational temperature max: " + QString::number(int16_t(tmax)));
    EXPECT_EQ(form->lblDecodingSafetyMargin_RT->text(), "Safety RT: " + QString::number(int16_t(rt)));
    EXPECT_EQ(form->lblDecodingSafetyMargin_PER->text(), "Safety PER: " + QString::number(int16_t(per)));
    EXPECT_TRUE(form->LogLines().isEmpty());

    // A refused register is logged; the pass goes on and its label shows the cleared buffer.
    simulator->SetRegisterError(Tarvo_konstante::POWER_CYCLES, 0x26);
    form->btnReadEncoderClick();
    EXPECT_EQ(form->lblDiagNumPwrCyc->text(), QStringLiteral("Number of power cycles: 0"));
    const QStringList log = form->LogLines();
    ASSERT_FALSE(log.isEmpty());
    EXPECT_EQ(log.front(), QStringLiteral("Invalid register address"));
    EXPECT_EQ(form->lblDecodingSafetyMargin_PER->text(), "Safety PER: " + QString::number(int16_t(per)));
}

TEST_F(ReadingCycle, DiagnosticsAreNotReadFromOtherFirmware) {
    Connect("t1");
    ShowPage(form->tabDiagnostics);
    form->btnReadEncoderClick();
    EXPECT_EQ(Commands(), QStringList({"?04:000", "e"}));
    EXPECT_EQ(form->lblDiagNumPwrCyc->text(), QStringLiteral("..."));
}

TEST_F(ReadingCycle, TemperatureLabelAndPoints) {
    Connect("t4"); // the position frame carries the external temperature
    ShowPage(form->tabSignalLevelTemperature);
    form->cbDrawTemp->setChecked(true);
    struct Row {
        int sensor, raw;
        QString label;
        bool estimate;
    };
    const Row rows[] = {
        {35, 1023, QString::fromUtf8("Temperature EXT: 1023 (40.7 / 41.2 °C)\r\nTemperature SEN: 35"), true},
        {36, 0, QStringLiteral("Temperature SEN: 36"), false},
        {37, 2047, QStringLiteral("Temperature SEN: 37"), false},
        {-4, 1500, {}, true},
    };
    int blue = 0;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.raw);
        simulator->SetTemperatures(row.sensor, row.raw);
        form->btnReadEncoderClick();
        ASSERT_EQ(Shared::EncoderPosition.ExtTemperature, row.raw);
        if (!row.label.isEmpty()) {
            EXPECT_EQ(form->lblTemperature->text(), row.label);
        }
        // Both lines of the text fit in the label.
        EXPECT_GE(form->lblTemperature->height(), form->lblTemperature->sizeHint().height());
        EXPECT_GE(form->lblTemperature->width(), form->lblTemperature->sizeHint().width());
        if (row.estimate) {
            ASSERT_EQ(form->SeriesBlue->Count(), ++blue);
            EXPECT_EQ(form->SeriesBlue->X(blue - 1), blue - 1);
            EXPECT_FLOAT_EQ(form->SeriesBlue->Y(blue - 1),
                            Reading::ExtTemperatureEstimates(row.raw)->Thermistor);
        }
        EXPECT_EQ(form->SeriesBlue->Count(), blue) << "no estimate, no blue point";
    }
    ASSERT_EQ(form->SeriesGreen->Count(), 4);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(form->SeriesGreen->X(i), i);
        EXPECT_EQ(form->SeriesGreen->Y(i), rows[i].sensor);
    }
    EXPECT_TRUE(form->SignalLevelChart->IsAutomatic(TChartView::TAxis::Left));
    EXPECT_TRUE(form->SignalLevelChart->IsAutomatic(TChartView::TAxis::Bottom));
}

// The temperature label grows to two lines; the "Draw Temperature" box must stay clear of it
// whatever the label says, and the label must stay on the page.
TEST_F(ReadingCycle, TemperatureLabelNeverCoversDrawTemperature) {
    for (const char* preset : {"t3", "t5"}) {
        SCOPED_TRACE(preset);
        Connect(preset);
        ShowPage(form->tabSignalLevelTemperature);
        QLabel* label = form->lblTemperature;
        const QRect page = form->tabSignalLevelTemperature->rect();
        for (int raw : {0, 1023, 2046}) {
            simulator->SetTemperatures(-40, raw);
            form->btnReadEncoderClick();
            EXPECT_FALSE(label->geometry().intersects(form->cbDrawTemp->geometry())) << raw;
            EXPECT_TRUE(page.contains(label->geometry())) << raw;
        }
        EXPECT_TRUE(label->text().contains(QLatin1Char('\n'))) << "the pass showed the two-line text";
        form.reset();
        simulator.reset();
    }

    // The widest text the label can take: every external reading with estimates, and the most
    // negative sensor reading.
    Connect("t5");
    QLabel* label = form->lblTemperature;
    QString widest;
    int widestWidth = 0;
    for (int raw = 1; raw <= 2046; ++raw) {
        const QString text = Reading::TemperatureText(int16_t(raw), -32768);
        const int width = label->fontMetrics().boundingRect(QRect(), 0, text).width();
        if (width > widestWidth) widest = text, widestWidth = width;
    }
    label->setText(widest);
    label->adjustSize();
    const QRect page = form->tabSignalLevelTemperature->rect();
    EXPECT_FALSE(label->geometry().intersects(form->cbDrawTemp->geometry()));
    EXPECT_FALSE(label->geometry().intersects(form->cbDrawAirGap->geometry()));
    EXPECT_TRUE(page.contains(label->geometry())) << widest.toStdString();
    EXPECT_LE(label->geometry().bottom(), form->ChartSignalLevel->geometry().top()) << "above the chart";
    // The signal-level label on the same row keeps its own room.
    EXPECT_FALSE(label->geometry().intersects(form->lblSignalLevel->geometry()));
}

// A zoom belongs to the curve it was made on: ticking a mode shows that mode's axes at once.
TEST_F(ReadingCycle, TickingAModeEndsTheZoomAndAppliesItsAxesAtOnce) {
    Connect("t1");
    ShowPage(form->tabSignalLevelTemperature);
    TChartView* chart = form->SignalLevelChart;
    form->cbDrawAirGap->setChecked(true);
    chart->RedrawNow();
    const QCPRange before = chart->ShownRange(TChartView::TAxis::Bottom);
    ASSERT_EQ(before, QCPRange(0, 360));

    chart->ZoomTo(QRect(150, 100, 200, 150));
    ASSERT_TRUE(chart->IsZoomed());
    form->cbDrawTemp->setChecked(true);
    EXPECT_FALSE(chart->IsZoomed());
    // Nothing to span yet: the automatic axes show what they showed before the zoom.
    EXPECT_EQ(chart->ShownRange(TChartView::TAxis::Bottom), before);

    chart->ZoomTo(QRect(150, 100, 200, 150));
    ASSERT_TRUE(chart->IsZoomed());
    form->cbDrawAirGap->setChecked(true);
    EXPECT_FALSE(chart->IsZoomed());
    EXPECT_EQ(chart->ShownRange(TChartView::TAxis::Bottom), QCPRange(0, 360));
    EXPECT_EQ(chart->ShownRange(TChartView::TAxis::Left), QCPRange(0, 400));

    // Points of the new mode spread over its axes, not over the old zoom.
    chart->ZoomTo(QRect(150, 100, 200, 150));
    form->cbDrawTemp->setChecked(true);
    form->btnReadEncoderClick();
    form->btnReadEncoderClick();
    chart->ApplyAxes();
    EXPECT_EQ(chart->ShownRange(TChartView::TAxis::Bottom), QCPRange(0, 1));
}

TEST_F(ReadingCycle, StatusLabelsShowEveryDigitAndEveryName) {
    Connect("t5"); // new map: 32 digits
    ShowPage(form->tabDiagnostics);
    const uint32_t all = sim::kErrMultiturn | sim::kErrSignalLost | sim::kErrSystem | sim::kErrPower |
                         sim::kErrConfiguration | sim::kErrMagneticPattern | sim::kErrAcceleration |
                         sim::kWarnTemperature | sim::kWarnSignalLow | sim::kWarnSignalHigh |
                         sim::kWarnMagneticPattern | sim::kWarnHighSpeed;
    simulator->SetCondition(all, true);
    form->cbPersistentStatus->setChecked(true);
    form->btnReadEncoderClick();

    const QRect page = form->tabDiagnostics->rect();
    QLabel* bits = form->lblDetailedStatus;
    ASSERT_EQ(bits->text().size(), 32);
    EXPECT_GE(bits->contentsRect().width(), bits->fontMetrics().horizontalAdvance(bits->text()));
    EXPECT_TRUE(page.contains(bits->geometry()));

    QLabel* names = form->lblDetailedStatusTxt;
    const QStringList lines = names->text().split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
    ASSERT_GE(lines.size(), 10) << names->text().toStdString();
    EXPECT_GE(names->height(), lines.size() * names->fontMetrics().lineSpacing());
    for (const QString& line : lines)
        EXPECT_GE(names->contentsRect().width(), names->fontMetrics().horizontalAdvance(line))
            << line.toStdString();
    EXPECT_TRUE(page.contains(names->geometry()));
    EXPECT_FALSE(names->geometry().intersects(bits->geometry()));

    // All sixteen names of a map still fit on the page.
    const QString every = Reading::StatusText(0xFFFF, 4);
    names->setText(every);
    names->adjustSize();
    EXPECT_TRUE(page.contains(names->geometry()));

    // Back to nothing: the label returns to its designed size, white.
    simulator->SetCondition(all, false);
    form->cbPersistentStatus->setChecked(false);
    form->btnReadEncoderClick();
    EXPECT_EQ(names->text(), QString());
    EXPECT_EQ(names->size(), QSize(270, 17));
}

#ifndef _WIN32
// Scripted on a pseudo-terminal: Linux only.
using ReadingOnScriptedPort = app_testing::WindowOnScriptedPort;

// A reply quoted in a message shows its bytes as Latin-1 characters; the program's own words,
// written in UTF-8, keep their letters.
TEST_F(ReadingOnScriptedPort, LogShowsDeviceBytesAsLatin1AndOwnWordsAsUtf8) {
    namespace V = K310_SPI_Velcor;
    V::EncoderType = 2;
    V::SingleTurnBits = 18;
    V::SingleTurnCounts = 1 << 18;
    V::SingleTurnMask = (1u << 18) - 1;
    V::MultiTurnBits = 0;
    Tarvo_konstante::SelectLegacyLayout();
    Tarvo_konstante::HasSignalLevel = false;
    form->Page->setCurrentWidget(form->tabSignalLevelTemperature);
    const std::string read =
        "R:0002:" + QStringLiteral("%1")
                        .arg(Tarvo_konstante::RegSensorTemperature, 8, 16, QLatin1Char('0'))
                        .toUpper()
                        .toStdString();
    peer.Add("?04:000", "48D14391\r");
    peer.Add(read, "\xE9t\xE9\r");
    peer.Add("e", "5.00 V\r");
    form->btnReadEncoderClick();
    EXPECT_TRUE(peer.WaitIdle());
    EXPECT_EQ(peer.Unexpected(), "");
    EXPECT_EQ(form->LogLines(),
              QStringList({QStringLiteral("Other Error reading register"),
                           QString::fromStdString("sCmd: " + read) + QString::fromUtf8(" RCV: été")}));

    form->Memo1->clear();
    form->cbDetailedStatus->setChecked(true);
    peer.Add("d", "12\r");
    form->btnReadEncoderClick();
    EXPECT_TRUE(peer.WaitIdle());
    EXPECT_EQ(form->LogLines(),
              QStringList{QString::fromUtf8("Nepravilna dolžina podatkov za ukaz \"d\" (12)!")});
}

#endif // _WIN32

TEST_F(ReadingCycle, SignalLevelAirGapAndOffsetCalibration) {
    Connect("t1");
    ShowPage(form->tabSignalLevelTemperature);
    form->AirGapK = -71.619728f;
    form->AirGapN = 682.0f;
    form->btnReadEncoderClick();
    const uint16_t level = Shared::EncoderPosition.SignalLevel;
    ASSERT_GT(level, 0);
    const float gap = Reading::AirGapFromSignalLevel(level, -71.619728f, 682.0f);
    EXPECT_EQ(form->AirGap, gap);
    EXPECT_EQ(form->lblSignalLevel->text(), Reading::SignalLevelText(level, gap));

    ClickLabel(form->lblSignalLevel);
    ASSERT_EQ(dialogs.Texts().size(), 1);
    EXPECT_EQ(dialogs.Texts()[0], "AirGap N = " + QString::number(std::nearbyint(682.0f - gap)));
    form->btnReadEncoderClick();
    EXPECT_EQ(form->lblSignalLevel->text(),
              QStringLiteral("Signal level: ") + QString::number(level) + QStringLiteral(" / 0 um"));

    // A label that is disabled takes no click.
    form->lblSignalLevel->setEnabled(false);
    ClickLabel(form->lblSignalLevel);
    EXPECT_EQ(dialogs.Texts().size(), 1);

    // No signal at all: no logarithm, an air gap of 0.
    simulator->Inspect([](sim::SimDevice& device, double) { device.SetSignalBase(0); });
    form->btnReadEncoderClick();
    EXPECT_EQ(form->lblSignalLevel->text(), QStringLiteral("Signal level: 0 / 0 um"));
    EXPECT_EQ(form->AirGap, 0.0f);
}

TEST_F(ReadingCycle, AirGapPointsFollowTheShaftSortedByAngleAndColouredByWarning) {
    Connect("t1"); // 18 bits: 1 count = 360 / 262144 deg
    ShowPage(form->tabSignalLevelTemperature);
    form->cbDrawTemp->setChecked(true);
    form->SeriesGreen->Add(1);
    form->cbDrawAirGap->setChecked(true);
    EXPECT_FALSE(form->cbDrawTemp->isChecked());
    EXPECT_EQ(form->SeriesGreen->Count(), 0) << "ticking a mode empties both series";
    EXPECT_EQ(form->SignalLevelChart->ManualRange(TChartView::TAxis::Bottom), QCPRange(0, 360));
    EXPECT_FALSE(form->SignalLevelChart->IsAutomatic(TChartView::TAxis::Bottom));
    EXPECT_EQ(form->SignalLevelChart->ManualRange(TChartView::TAxis::Left), QCPRange(0, 400));
    form->AirGapK = -71.619728f;
    form->AirGapN = 682.0f;

    const auto countsOf = [](double deg) { return int64_t(std::llround(deg * 262144.0 / 360.0)); };
    struct Step {
        double deg;
        bool warn;
        int points;
    };
    const Step steps[] = {
        {100.0, false, 1},  // the first reading of a new curve
        {100.0, false, 1},  // no move
        {100.05, false, 1}, // 0.05: not enough
        {100.25, true, 2},  // 0.2 on from the last point
        {50.0, false, 3},   // lower angle: sorted in front
    };
    for (const Step& s : steps) {
        SCOPED_TRACE(s.deg);
        simulator->SetWarningBit(s.warn);
        simulator->SetPosition(countsOf(s.deg));
        form->btnReadEncoderClick();
        EXPECT_EQ(form->SeriesBlue->Count(), s.points);
    }
    ASSERT_EQ(form->SeriesBlue->Count(), 3);
    EXPECT_NEAR(form->SeriesBlue->X(0), 50.0, 0.01);
    EXPECT_NEAR(form->SeriesBlue->X(1), 100.0, 0.01);
    EXPECT_NEAR(form->SeriesBlue->X(2), 100.25, 0.01);
    EXPECT_EQ(form->SeriesBlue->PointColour(0), QColor(0, 0, 0xFF));
    EXPECT_EQ(form->SeriesBlue->PointColour(2), kOrange);
    EXPECT_EQ(form->SeriesBlue->Y(0), form->AirGap);

    // A slowly turning shaft still draws its curve: many small steps add up past 0.1.
    for (int i = 1; i <= 6; ++i) {
        simulator->SetPosition(countsOf(50.0 + 0.03 * i));
        form->btnReadEncoderClick();
    }
    EXPECT_EQ(form->SeriesBlue->Count(), 4);

    // The Initialization page reads no signal level and adds no point.
    ShowPage(form->tabInit);
    simulator->SetPosition(countsOf(200));
    form->btnReadEncoderClick();
    EXPECT_EQ(form->SeriesBlue->Count(), 4);
}

TEST_F(ReadingCycle, SupplyIsQueriedOnTheFirstPassAndThenEveryThousandAndFirst) {
    Connect("t1");
    for (int pass = 1; pass <= 1002; ++pass) {
        const int before = SupplyQueries();
        form->btnReadEncoderClick();
        const bool queried = SupplyQueries() > before;
        if (pass == 1 || pass == 1002)
            ASSERT_TRUE(queried) << pass;
        else
            ASSERT_FALSE(queried) << pass;
    }
    EXPECT_FALSE(form->lblPower->text().isEmpty());
    EXPECT_EQ(Shared::EncoderPosition.ErrComm, 0);
}

TEST_F(ReadingCycle, AFailedReadLogsStopsAndKeepsTheLabels) {
    Connect("t1");
    form->btnReadEncoderClick();
    const QString shown = form->lblPosUnit->text();
    simulator->SetPosition(1000);
    simulator->SilenceNext(1);
    form->btnReadEncoderClick();
    EXPECT_EQ(form->LogLines(), QStringList({"USB Comm Err -1"}));
    EXPECT_EQ(form->lblPosUnit->text(), shown);
    EXPECT_TRUE(form->initTimer->isActive()) << "a failed transaction starts the adapter search again";
}

TEST_F(ReadingCycle, CheckingRunsOnePassAndReturnsBeforeTheNext) {
    Connect("t1");
    form->seDelayBetweenReadings->setValue(100);
    form->cbReadEncConstantly->setChecked(true);
    // The first pass comes before the box is looked at; the handler does not wait for more.
    EXPECT_EQ(PositionReads(), 1);
    EXPECT_TRUE(form->tmrReadCycle->isActive());
    ASSERT_TRUE(app_testing::WaitFor([&] { return PositionReads() >= 3; }, 2000));
    form->cbReadEncConstantly->setChecked(false);
}

TEST_F(ReadingCycle, UncheckingDuringAPauseTakesExactlyOneMorePass) {
    Connect("t1");
    form->seDelayBetweenReadings->setValue(100);
    form->cbReadEncConstantly->setChecked(true);
    ASSERT_TRUE(app_testing::WaitFor([&] { return PositionReads() >= 2; }, 2000));
    const int atUncheck = PositionReads();
    form->cbReadEncConstantly->setChecked(false);
    // The final pass is done before the code that cleared the box goes on.
    EXPECT_EQ(PositionReads(), atUncheck + 1);
    app_testing::WaitFor([] { return false; }, 300);
    EXPECT_EQ(PositionReads(), atUncheck + 1);
    EXPECT_FALSE(form->tmrReadCycle->isActive());
}

TEST_F(ReadingCycle, ManySwitchesLeaveOneCycle) {
    Connect("t1");
    // While switching, a pause longer than the switching takes: each change runs its own pass at
    // once and none comes due from a timer, however slow the machine, so the count is exact.
    form->seDelayBetweenReadings->setValue(10000);
    for (int i = 0; i < 100; ++i) {
        form->cbReadEncConstantly->setChecked(true);
        QCoreApplication::processEvents();
        form->cbReadEncConstantly->setChecked(false);
        QCoreApplication::processEvents();
    }
    EXPECT_EQ(PositionReads(), 200);
    // Then a 200 ms pause: the passes between changes come from one cycle only.
    form->seDelayBetweenReadings->setValue(200);
    form->cbReadEncConstantly->setChecked(true);
    const int started = PositionReads();
    // One cycle at 200 ms makes two or three passes in half a second; a hundred would make hundreds.
    app_testing::WaitFor([] { return false; }, 500);
    const int live = PositionReads() - started;
    EXPECT_TRUE(form->tmrReadCycle->isActive()) << "the cycle goes on";
    EXPECT_LE(live, 3);
    form->cbReadEncConstantly->setChecked(false);
    const int final = PositionReads();
    app_testing::WaitFor([] { return false; }, 450);
    EXPECT_EQ(PositionReads(), final) << "no pass follows the final one";
}

TEST_F(ReadingCycle, ShortDelaysDoNotPause) {
    Connect("t1");
    // A zero-interval timer runs once for each time the cycle lets events through; a pause lets
    // the event loop run many times.
    const auto ticksPerPass = [&](int delay) {
        form->seDelayBetweenReadings->setValue(delay);
        simulator->ClearReceived();
        int ticks = 0;
        QTimer spin;
        QObject::connect(&spin, &QTimer::timeout, [&] { ++ticks; });
        spin.start(0);
        form->cbReadEncConstantly->setChecked(true);
        app_testing::WaitFor([&] { return PositionReads() >= 20; }, 5000);
        form->cbReadEncConstantly->setChecked(false);
        return double(ticks) / PositionReads();
    };
    EXPECT_EQ(form->CycReadWait, 50);
    EXPECT_LE(ticksPerPass(5), 2.0);
    EXPECT_LE(ticksPerPass(0), 2.0);
    EXPECT_GT(ticksPerPass(10), 5.0);
}

TEST_F(ReadingCycle, APassDueDuringAnActionWaitsUntilItReturns) {
    Connect("t1");
    form->seDelayBetweenReadings->setValue(0);
    form->cbReadEncConstantly->setChecked(true);
    ASSERT_TRUE(app_testing::WaitFor([&] { return PositionReads() >= 3; }, 2000));
    int during = 0;
    {
        TMainForm::TAdapterAction action(*form);
        const int before = PositionReads();
        // The action handles messages (a wait, a message box): the cycle's timer comes due.
        Orodja::WaitWithMessages(60);
        during = PositionReads() - before;
    }
    EXPECT_EQ(during, 0);
    const int after = PositionReads();
    EXPECT_TRUE(app_testing::WaitFor([&] { return PositionReads() > after; }, 1000))
        << "the held pass runs once the action has returned";
    form->cbReadEncConstantly->setChecked(false);
}

TEST_F(ReadingCycle, ClearingTheBoxInsideAnActionDropsTheHeldPass) {
    Connect("t1");
    form->seDelayBetweenReadings->setValue(0);
    form->cbReadEncConstantly->setChecked(true);
    {
        TMainForm::TAdapterAction action(*form);
        Orodja::WaitWithMessages(30); // a pass comes due and is held
        const int before = PositionReads();
        form->cbReadEncConstantly->setChecked(false);
        EXPECT_EQ(PositionReads(), before + 1) << "the final pass runs at once";
    }
    const int final = PositionReads();
    app_testing::WaitFor([] { return false; }, 100);
    EXPECT_EQ(PositionReads(), final);
}

TEST_F(ReadingCycle, ConnectingDuringContinuousReadingIsNotInterleaved) {
    Connect("t1");
    ReadingFast();
    ASSERT_TRUE(ClickFromEventLoop(form->btnConnectEncoder, 3000));
    form->cbReadEncConstantly->setChecked(false);
    const QStringList commands = Commands();
    // The action's traffic is one run: no position command between its first and last command.
    const auto [first, last] = ActionSpan(commands);
    ASSERT_GE(first, 0) << commands.join(' ').toStdString();
    for (qsizetype i = first; i <= last; ++i)
        EXPECT_FALSE(IsPosition(commands[i])) << i << ": " << commands.join(' ').toStdString();
}

TEST_F(ReadingCycle, ALostAdapterEndsContinuousReadingAndRestartsTheSearch) {
    Connect("t1");
    form->seDelayBetweenReadings->setValue(20);
    QTimer::singleShot(150, form.get(), [&] { simulator->Unplug(); });
    form->cbReadEncConstantly->setChecked(true);
    ASSERT_TRUE(app_testing::WaitFor([&] { return !form->cbReadEncConstantly->isChecked(); }, 3000));
    EXPECT_FALSE(form->tmrReadCycle->isActive());
    EXPECT_TRUE(form->initTimer->isActive());
    EXPECT_LT(Shared::EncoderPosition.ErrComm, 0);
    const QStringList log = form->LogLines();
    // The failed pass and the one more that unchecking takes.
    ASSERT_EQ(log.size(), 2) << log.join('|').toStdString();
    EXPECT_TRUE(log[0].startsWith(QStringLiteral("USB Comm Err -"))) << log[0].toStdString();
}

TEST_F(ReadingCycle, ClosingTheWindowEndsTheCycle) {
    Connect("t1");
    form->seDelayBetweenReadings->setValue(0);
    form->cbReadEncConstantly->setChecked(true);
    ASSERT_TRUE(app_testing::WaitFor([&] { return PositionReads() >= 3; }, 2000));
    form->close();
    EXPECT_TRUE(Orodja::ApplicationTerminating());
    const int atClose = PositionReads();
    app_testing::WaitFor([] { return false; }, 100);
    EXPECT_EQ(PositionReads(), atClose);
    EXPECT_TRUE(form->cbReadEncConstantly->isChecked()) << "the cycle ended because the program is closing";
}

TEST_F(ReadingCycle, DoubleClickExportsTheSignalLevelChart) {
    Connect("t1");
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    Shared::EncoderSignature.Dremo_Serial = "AB12.3";
    form->cbDrawAirGap->setChecked(true);
    form->SeriesBlue->AddXY(90, 200, QColor(0, 0, 0xFF));
    form->SeriesBlue->AddXY(180, 250, QColor(0, 0, 0xFF));

    dialogs.choice = dir.filePath(QStringLiteral("test"));
    DoubleClick(form->ChartSignalLevel);
    EXPECT_EQ(dialogs.title, QStringLiteral("Shrani graf..."));
    EXPECT_TRUE(dialogs.proposed.startsWith(QStringLiteral("Air gap AB12")))
        << dialogs.proposed.toStdString();
    EXPECT_FALSE(dialogs.proposed.contains(QStringLiteral("AB12.3")));
    EXPECT_EQ(dialogs.sounds, 1);
    const QString png = dir.filePath(QStringLiteral("test.png"));
    QImage image;
    ASSERT_TRUE(image.load(png, "PNG"));
    EXPECT_EQ(image.size(), form->ChartSignalLevel->size());
    EXPECT_TRUE(dialogs.shown.empty());

    // Another extension becomes .png, and an existing file is never overwritten.
    const auto size = QFileInfo(png).size();
    dialogs.choice = dir.filePath(QStringLiteral("test.jpg"));
    DoubleClick(form->ChartDebug); // the Debug chart exports the Signal level chart too
    ASSERT_EQ(dialogs.Texts(), QStringList({QString::fromUtf8("Datoteka PNG že obstaja!")}));
    EXPECT_EQ(QFileInfo(png).size(), size);
    EXPECT_FALSE(QFileInfo::exists(dir.filePath(QStringLiteral("test.jpg"))));

    // Cancelling writes nothing.
    dialogs.choice.clear();
    DoubleClick(form->ChartSignalLevel);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList({"test.png"}));
}

} // namespace
