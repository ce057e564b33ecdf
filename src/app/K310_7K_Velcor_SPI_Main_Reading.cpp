// The reading cycle: "Read Position" takes one pass, "Read constantly" runs passes in a loop.
// A pass reads only what the page on show and the ticked options need, so the position rate on
// the Initialization page is bound by the wire alone.
#include "K310_7K_Velcor_SPI_Main.h"

#include "ChartView.h"
#include "K310_BiSS_bidirectional.h"
#include "K310_SPI_Velcor.h"
#include "Orodja.h"
#include "PanelColour.h"
#include "ProcedureTraffic.h"
#include "QtRoutines.h"
#include "ReadingRules.h"
#include "RecordingPass.h"
#include "Serial_driver.h"
#include "Tarvo_konstante.h"

#include <QCoreApplication>

#include <cmath>

namespace {

namespace Shared = K310_BiSS_bidirectional;
namespace Velcor = K310_SPI_Velcor;
namespace Layout = Tarvo_konstante;

void SetTextIfChanged(QLabel* label, const QString& text) {
    // Setting an unchanged text would still relayout the label on every pass.
    if (label->text() != text) label->setText(text);
}

// Labels whose text varies in length and lines have a place but no size: they grow with their
// text (the two-line temperature, 32 status digits, one status name per line), never below the
// size the form gives them.
void SetAutoSizedText(QLabel* label, const QString& text) {
    if (label->text() == text) return;
    label->setText(text);
    label->adjustSize();
}

QString StatusBits() {
    return QString::fromLatin1(
        Orodja::ToBinaryText(8 * Layout::LenPersistentStatus, Shared::EncoderPosition.Status));
}

uint32_t RegisterValue() {
    const auto& d = Shared::RegisterData;
    return uint32_t(d[0]) << 24 | uint32_t(d[1]) << 16 | uint32_t(d[2]) << 8 | uint32_t(d[3]);
}

} // namespace

void TMainForm::btnReadEncoderClick() {
    TAdapterAction busy(*this);
    auto& position = Shared::EncoderPosition;

    // 1, 2: heartbeat, drawn at once so a stalled link shows as a still panel.
    SetPanelColour(pnlComm, QColor::fromRgb(PanelColour(pnlComm).rgb() ^ 0x00FF00));
    pnlComm->repaint();
    Shared::LastErrorText.clear();

    // 3, 4: the position; without it the pass has nothing to show.
    LastPass = {};
    const bool read = cbDetailedStatus->isChecked() ? Velcor::ReadDetailedStatus() : Velcor::ReadPosition();
    if (!read) {
        TPassOutcome failed;
        failed.LinkLost = position.ErrComm < 0;
        failed.Reason = Procedures::OneLineReason(Shared::LastErrorText);
        if (failed.Reason.empty()) failed.Reason = "reading failed";
        AddLog(ProtocolErrorText());
        // Unchecking runs the loop's handler once more, inside this call.
        cbReadEncConstantly->setChecked(false);
        if (position.ErrComm < 0) RestartAdapterSearch();
        LastPass = failed;
        return;
    }
    // A reply that is no whole frame or fails its CRC is shown as it is (the CRC panel), but it
    // holds no position a procedure or a record may use.
    LastPass.Decoded = true;
    LastPass.Read = !position.ErrCRC;
    if (position.ErrCRC) LastPass.Reason = "CRC error (" + position.RxData + ")";

    // 5, 6: scaled positions and the four position labels.
    EncoderPosition_unit = double(position.MTST_value) * EncoderResolution;
    EncPosDegST = double(position.ST_value) * EncoderResolution;
    SetTextIfChanged(lblPosRX, QString::fromLatin1(Orodja::Trim(position.RxData)).toUpper());
    SetTextIfChanged(lblPosMT, QString::number(position.MT_value));
    SetTextIfChanged(lblPosST, QString::number(position.ST_value));
    SetTextIfChanged(lblPosUnit, Reading::PositionUnitText(EncoderPosition_unit, edUnit->text()));

    // 7, 8: indicators and the status bits.
    SetPanelColour(pnlEncErr, position.ErrBit ? kRed : kGrey);
    SetPanelColour(pnlEncWarn, position.WarnBit ? kOrange : kGrey);
    SetPanelColour(pnlCRC, position.ErrCRC ? kViolet : kGrey);
    SetAutoSizedText(lblDetailedStatus, StatusBits());

    // 9: the reading's own complaints, only when asked for.
    if (cbLogErrors->isChecked()) {
        if (position.ErrBit) AddLog(QStringLiteral("Error!"));
        if (position.WarnBit) AddLog(QStringLiteral("Warning!"));
        if (position.ErrCRC) AddLog(QStringLiteral("CRC!"));
        if (position.Status != 0) AddLog(QStringLiteral("Status: ") + lblDetailedStatus->text());
    }

    QWidget* const page = Page->currentWidget();
    const bool signalPage = page == tabSignalLevelTemperature;
    const bool recording = cbShranjujMeritveDebug->isChecked();

    // 10: temperatures.
    if (signalPage || recording) {
        if (!Velcor::ReadSensorTemperature()) AddLog(ProtocolErrorText());
        SetAutoSizedText(lblTemperature,
                         Reading::TemperatureText(position.ExtTemperature, position.SenTemperature));
        if (cbDrawTemp->isChecked()) {
            if (const auto t = Reading::ExtTemperatureEstimates(position.ExtTemperature))
                SeriesBlue->Add(t->Thermistor);
            SeriesGreen->Add(position.SenTemperature);
        }
    }

    // 11: signal level and air gap.
    if ((signalPage || StatBeriSignalLevel || recording) && Layout::HasSignalLevel) {
        if (!Velcor::ReadSignalLevel()) {
            AddLog(ProtocolErrorText());
        } else {
            AirGap = Reading::AirGapFromSignalLevel(position.SignalLevel, AirGapK, AirGapN);
            SetAutoSizedText(lblSignalLevel, Reading::SignalLevelText(position.SignalLevel, AirGap));
            if (cbDrawAirGap->isChecked() &&
                Reading::AirGapPointDue(EncoderPosition_unit, AirGapPointPosition)) {
                SeriesBlue->AddXY(EncPosDegST, AirGap, position.WarnBit ? kOrange : kBlue);
                AirGapPointPosition = EncoderPosition_unit;
            }
        }
    }

    // 12: the persistent status replaces the reading's status.
    if (Layout::HasPersistentStatus && cbPersistentStatus->isChecked()) {
        if (!Velcor::ReadPersistentStatus()) AddLog(ProtocolErrorText());
        SetAutoSizedText(lblDetailedStatus, StatusBits());
    }

    // 13: status names.
    const QString statusText = Reading::StatusText(position.Status, Layout::LenPersistentStatus);
    SetAutoSizedText(lblDetailedStatusTxt, statusText);
    SetPanelColour(lblDetailedStatusTxt, statusText.isEmpty() ? kWhite : kOrange);

    // 14: lifetime diagnostics of firmware 4.
    if (page == tabDiagnostics && Shared::EncoderSignature.Dremo_FWverMajor == 4) {
        struct Diagnostic {
            uint32_t address;
            uint8_t length;
            QLabel* label;
            const char* text;
            QString (*value)(uint32_t);
        };
        const auto asUnsigned = [](uint32_t v) { return QString::number(v); };
        const auto asInt8 = [](uint32_t v) { return QString::number(int8_t(v & 0xFF)); };
        const auto asInt16 = [](uint32_t v) { return QString::number(int16_t(v & 0xFFFF)); };
        const Diagnostic diagnostics[] = {
            {Layout::POWER_CYCLES, 4, lblDiagNumPwrCyc, "Number of power cycles: ", asUnsigned},
            {Layout::OPERATING_TIME, 4, lblDiagOpTimeMin, "Operational time (minutes): ", asUnsigned},
            {Layout::OP_TEMP_MIN, 1, lblDiagTempMin, "Operational temperature min: ", asInt8},
            {Layout::OP_TEMP_MAX, 2, lblDiagTempMax, "Operational temperature max: ", asInt16},
            {Layout::SAFETY_RT, 2, lblDecodingSafetyMargin_RT, "Safety RT: ", asInt16},
            {Layout::SAFETY_PER, 2, lblDecodingSafetyMargin_PER, "Safety PER: ", asInt16},
        };
        for (const Diagnostic& d : diagnostics) {
            if (!Velcor::ReadRegister(d.address, d.length)) AddLog(ProtocolErrorText());
            SetTextIfChanged(d.label, QString::fromLatin1(d.text) + d.value(RegisterValue()));
        }
    }

    // 15: debug data.
    if (page == tabDebug || recording) {
        if (!Velcor::LatchDebugData()) AddLog(ProtocolErrorText());
        if (page == tabDebug) UpdateDebugPage();
    }

    // 16: the adapter's supply reading, every 1001st pass.
    if (Procedures::SupplyStatusDue(K310PowerReadCounter)) {
        std::string reply;
        position.ErrComm = Serial_driver::SendCommand(Shared::PortHandle, "e", 0, reply);
        SetTextIfChanged(lblPower, QString::fromLatin1(Orodja::Trim(reply)));
    }

    // 17, 18: a record that could not be written ends the pass (reported); a reading without a
    // trustworthy position writes none.
    if (recording && LastPass.Read && !WriteDebugRecord()) return;
    EncPosDegOld = EncoderPosition_unit;
}

void TMainForm::cbReadEncConstantlyClick() {
    // Runs on every change of the box, also when a failed pass clears it: the pass comes first,
    // so clearing the box always takes exactly one more reading, done before the code that
    // cleared it goes on. A pass held for an action is dropped: this one replaces it.
    tmrReadCycle->stop();
    readingPassHeld_ = false;
    btnReadEncoderClick();
    ScheduleReadingPass();
}

void TMainForm::tmrReadCycleTimer() {
    if (AdapterActionRunning()) {
        // Due inside an action's own waiting: it runs when the action has returned.
        readingPassHeld_ = true;
        return;
    }
    btnReadEncoderClick();
    ScheduleReadingPass();
}

void TMainForm::ScheduleReadingPass() {
    if (!cbReadEncConstantly->isChecked() || Orodja::ApplicationTerminating()) {
        tmrReadCycle->stop();
        return;
    }
    // Short pauses are not worth a timer's resolution: the next pass follows as soon as the
    // window's messages have been handled.
    tmrReadCycle->start(CycReadWait >= 10 ? CycReadWait : 0);
}

TMainForm::TAdapterAction::TAdapterAction(TMainForm& form) : form_(form) {
    ++form_.adapterActions_;
}

TMainForm::TAdapterAction::~TAdapterAction() {
    form_.EndAdapterAction();
}

void TMainForm::EndAdapterAction() {
    if (--adapterActions_ > 0 || !readingPassHeld_) return;
    readingPassHeld_ = false;
    // After the action's return, on the next turn of the event loop.
    if (cbReadEncConstantly->isChecked() && !Orodja::ApplicationTerminating()) tmrReadCycle->start(0);
}

void TMainForm::seDelayBetweenReadingsChange() {
    CycReadWait = seDelayBetweenReadings->value();
}
