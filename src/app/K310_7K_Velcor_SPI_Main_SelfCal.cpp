// The Self-Calibration page: starting the encoder's own calibration, the wait for its end on
// tmrSelfCalWait, and the status bits and results of the last calibration.
#include "K310_7K_Velcor_SPI_Main.h"

#include "K310_BiSS_bidirectional.h"
#include "K310_SPI_Velcor.h"
#include "Orodja.h"
#include "PanelColour.h"
#include "Tarvo_konstante.h"

#include <cmath>

namespace {

namespace Shared = K310_BiSS_bidirectional;
namespace Velcor = K310_SPI_Velcor;
namespace Layout = Tarvo_konstante;

// Timeouts the encoder accepts; 0 would leave its own value in place, so it too becomes the most.
constexpr int kMaxSelfCalTimeout = 40;
constexpr int kDefaultSelfCalArc = 360;
constexpr int kDefaultSelfCalTimeout = 10;
// Wait steps when the encoder has no timeout register: its fixed 10 s and a fifth more.
constexpr int kStepsWithoutTimeoutRegister = 24;
// From this build on the encoder answers no register access while it calibrates, so the first
// successful read marks the end; older builds answer throughout and only new results tell.
constexpr uint32_t kLastBuildAnsweringDuringSelfCal = 9356;

// A decimal integer as the edit holds it, or `fallback` for any text that is not one.
int IntegerOr(const QLineEdit* edit, int fallback) {
    bool ok = false;
    const int value = edit->text().toInt(&ok, 10);
    return ok ? value : fallback;
}

uint32_t RegisterValue16() {
    return uint32_t(Shared::RegisterData[2]) << 8 | Shared::RegisterData[3];
}

struct StatusPanel {
    uint32_t mask;
    QLabel* TMainForm::*panel;
    QColor colour;
};

// The status bits of the two layouts; panels not listed for a layout keep their colour.
const StatusPanel kOneByteStatus[] = {
    {0x04, &TMainForm::pnlAselfCalTimeout, kRed},
    {0x08, &TMainForm::pnlAselfCalOutOfRange, kRed},
    {0x10, &TMainForm::pnlAselfCalParamOutOfRange, kRed},
    {0x20, &TMainForm::pnlAselfCalNoCorrection, kOrange},
    {0x40, &TMainForm::pnlASelfCalUserErrMap, kLime},
};
const StatusPanel kFourByteStatus[] = {
    {0x20, &TMainForm::pnlAselfCalNoCorrection, kOrange}, {0x100, &TMainForm::pnlAselfCalTimeout, kRed},
    {0x200, &TMainForm::pnlASelfCalEncoderError, kRed},   {0x1000, &TMainForm::pnlASelfCalNumericalErr, kRed},
    {0x2000, &TMainForm::pnlAselfCalOutOfRange, kRed},    {0x8000, &TMainForm::pnlASelfCalRadialDisp, kRed},
    {0x100000, &TMainForm::pnlASelfCalUserErrMap, kLime}, {0x200000, &TMainForm::pnlASelfCalWriteErr, kRed},
};
constexpr uint32_t kOneByteFailures = 0x1C;
constexpr uint32_t kFourByteFailure = 0x40;

} // namespace

void TMainForm::SelfCalibrationRefresh() {
    TAdapterAction busy(*this);

    if (Velcor::ReadRegister(Layout::RegSelfCalArc, 2)) {
        edSelfCalArc->setText(QString::number(RegisterValue16()));
        // A read that failed once (the page shown before an encoder was connected, a lost reply)
        // must not keep the arc locked for the rest of the session.
        edSelfCalArc->setEnabled(true);
    } else {
        AddLog(ProtocolErrorText());
        edSelfCalArc->setEnabled(false);
    }

    if (Layout::HasSelfCalTimeout) {
        if (Velcor::ReadRegister(Layout::RegSelfCalTimeout, 1)) {
            edSelfCalTimeout->setText(QString::number(Shared::RegisterData[3]));
        } else {
            AddLog(ProtocolErrorText());
            edSelfCalTimeout->setText(QStringLiteral("0"));
            edSelfCalTimeout->setEnabled(false);
        }
    }

    btnSelfCalReadStatusClick();
}

void TMainForm::btnSelfCalStartClick() {
    TAdapterAction busy(*this);

    // The calibration needs the encoder to itself; the wait's end turns reading on again.
    cbReadEncConstantly->setChecked(false);
    for (QWidget* panel : SelfCalStatusPanels())
        SetPanelColour(panel, kGrey);

    if (!Velcor::ReadSelfCalResults()) {
        AddLog(ProtocolErrorText());
        return;
    }
    SelfCalResultStart = QString::fromUtf8(Velcor::SelfCalResultText);
    SelfCalCounterStart = uint8_t(Velcor::SelfCalStatus & 3);

    int arc = 0;
    if (edSelfCalArc->isEnabled()) {
        arc = IntegerOr(edSelfCalArc, kDefaultSelfCalArc);
        if (arc < 0 || arc > 0xFFFF) {
            Dialogs().error(QStringLiteral("Range check error"));
            return;
        }
    }

    int timeout = 0;
    int steps = kStepsWithoutTimeoutRegister;
    if (edSelfCalTimeout->isEnabled()) {
        timeout = IntegerOr(edSelfCalTimeout, kDefaultSelfCalTimeout);
        if (timeout < 0 || timeout > 0xFF) {
            Dialogs().error(QStringLiteral("Range check error"));
            return;
        }
        if (timeout == 0 || timeout > kMaxSelfCalTimeout) {
            timeout = kMaxSelfCalTimeout;
            edSelfCalTimeout->setText(QString::number(timeout));
        }
        // A fifth more than the encoder's own limit, in half-second steps.
        steps = int(std::nearbyint(timeout * 1.2 * 2));
    }
    pbSelfCalProgress->setMaximum(steps);

    // The arc and the timeout first, each only when it is not 0. A refused one would leave the
    // encoder calibrating over an arc or a time nobody chose: no start then.
    const struct {
        uint32_t address;
        uint8_t length;
        int value;
        const char* name;
    } settings[] = {{Layout::RegSelfCalArc, 2, arc, "SELF_CAL_ARC"},
                    {Layout::RegSelfCalTimeout, 1, timeout, "SELF_CAL_TIMEOUT"}};
    for (const auto& setting : settings) {
        if (setting.value == 0 ||
            Velcor::WriteRegister(setting.address, setting.length, uint32_t(setting.value)))
            continue;
        AddLog(QString::fromLatin1(setting.name) +
               QStringLiteral(" not written, self-calibration not started: ") + ProtocolErrorText());
        return;
    }
    // Both are written: the start leaves them as they are.
    if (!Velcor::StartSelfCalibration(0, 0)) AddLog(ProtocolErrorText());
    mmSelfCalStatus->setPlainText(QStringLiteral("Status: ") +
                                  QString::fromLatin1(Orodja::ToBinaryText(8, Velcor::SelfCalStatus)));

    pbSelfCalProgress->setValue(0);
    // Started afresh also when a wait is already running: the new wait counts from now.
    tmrSelfCalWait->start();
}

void TMainForm::tmrSelfCalWaitTimer() {
    TAdapterAction busy(*this);

    // The bar never goes past its maximum, so a step beyond it reads as the maximum.
    pbSelfCalProgress->setValue(std::min(pbSelfCalProgress->value() + 1, pbSelfCalProgress->maximum()));
    if (pbSelfCalProgress->value() == pbSelfCalProgress->maximum() || SelfCalCompleted()) {
        tmrSelfCalWait->stop();
        btnSelfCalReadStatusClick();
        cbReadEncConstantly->setChecked(true);
    }
    // A read that failed while the encoder was busy calibrating is no news for the log.
    Shared::LastErrorText.clear();
}

bool TMainForm::SelfCalCompleted() {
    TAdapterAction busy(*this);
    if (!Velcor::ReadSelfCalResults()) return false;
    if (Shared::EncoderSignature.Dremo_FWverSVN > kLastBuildAnsweringDuringSelfCal) return true;
    return QString::fromUtf8(Velcor::SelfCalResultText) != SelfCalResultStart;
}

void TMainForm::btnSelfCalReadStatusClick() {
    TAdapterAction busy(*this);

    if (!Velcor::ReadSelfCalResults()) {
        AddLog(ProtocolErrorText());
        return;
    }
    const uint32_t status = Velcor::SelfCalStatus;
    // The memo shows the result's lines as lines.
    QString results = QString::fromUtf8(Velcor::SelfCalResultText);
    results.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    mmSelfCalStatus->setPlainText(
        QStringLiteral("Status: ") +
        QString::fromLatin1(Orodja::ToBinaryText(8 * Layout::LenSelfCalStatus, status)) + QLatin1Char('\n') +
        results);

    const uint8_t counter = uint8_t(status & 3);
    const bool oneByte = Layout::LenSelfCalStatus == 1;
    const auto paint = [&](const auto& table) {
        for (const StatusPanel& p : table)
            SetPanelColour(this->*p.panel, (status & p.mask) ? p.colour : kGrey);
    };
    if (oneByte)
        paint(kOneByteStatus);
    else
        paint(kFourByteStatus);
    const bool good = oneByte ? (status & kOneByteFailures) == 0 : (status & kFourByteFailure) == 0;

    const bool finished = counter != SelfCalCounterStart;
    if (finished && !Shared::EncoderPosition.ErrBit && good) {
        SetPanelColour(pnlAselfCalSucessfull, kLime);
        pbSelfCalProgress->setValue(pbSelfCalProgress->maximum());
    } else {
        SetPanelColour(pnlAselfCalSucessfull, kGrey);
        pbSelfCalProgress->setValue(0);
    }
    SetPanelColour(pnlAselfCalFinished, finished ? kGreen : kGrey);
}

std::vector<QWidget*> TMainForm::SelfCalStatusPanels() const {
    return {pnlAselfCalFinished,     pnlAselfCalSucessfull,     pnlAselfCalTimeout,
            pnlAselfCalOutOfRange,   pnlAselfCalNoCorrection,   pnlASelfCalUserErrMap,
            pnlASelfCalEncoderError, pnlASelfCalNumericalErr,   pnlASelfCalRadialDisp,
            pnlASelfCalWriteErr,     pnlAselfCalParamOutOfRange};
}
