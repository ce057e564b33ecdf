// "Connect Encoder": set up the adapter's SPI side, identify the encoder, adapt the window to it.
#include "K310_7K_Velcor_SPI_Main.h"

#include "K310_BiSS_bidirectional.h"
#include "K310_SPI_Velcor.h"
#include "Orodja.h"
#include "QtRoutines.h"
#include "Serial_driver.h"
#include "Tarvo_konstante.h"

#include <QByteArray>

#include <algorithm>
#include <cmath>

namespace {

QString Printable(const std::string& reply) {
    return QString::fromLatin1(Orodja::KeepPrintable(reply));
}

QString TrueFalse(bool value) {
    return value ? QStringLiteral("True") : QStringLiteral("False");
}

} // namespace

void TMainForm::btnConnectEncoderClick() {
    TAdapterAction busy(*this);
    using namespace K310_BiSS_bidirectional;
    std::string reply;
    EncoderPosition.ErrComm = Serial_driver::SendCommand(PortHandle, "e", 0, reply);
    if (EncoderPosition.ErrComm < 0) {
        RestartAdapterSearch();
        return;
    }
    lblPower->setText(QString::fromLatin1(Orodja::Trim(reply)));

    for (const std::string& command :
         {std::string(cbVelcorZBGAME->isChecked() ? "Cr" : "Ce"), std::string("G0:1"), std::string("D015")}) {
        reply.clear();
        const int32_t result = Serial_driver::SendCommand(PortHandle, command, 0, reply);
        const QString problem = QStringLiteral("Problem pri nastavljanju SPI vmesnika: ") +
                                QString::fromLatin1(command) + QStringLiteral(" -> ") + Printable(reply);
        if (result != Serial_driver::kReplyComplete) AddLog(problem);
        if (QByteArray::fromStdString(reply).toUpper().contains("ERROR")) AddLog(problem);
        AddLog(QStringLiteral("Setting: ") + Printable(reply));
    }

    const bool identified = K310_SPI_Velcor::ReadEncoderSignature();
    const auto& sig = EncoderSignature;
    AddLog(QStringLiteral("Velcor version: ") + QString::number(K310_SPI_Velcor::VelcorVersion));
    AddLog(QStringLiteral("Part number: ") + QString::fromLatin1(sig.Dremo_PartNumber));
    AddLog(QStringLiteral("Serial number: ") + QString::fromLatin1(sig.Dremo_Serial));
    AddLog(QStringLiteral("FW version: ") + QString::fromLatin1(sig.Dremo_FWverStr));
    if (!identified) {
        AddLog(QStringLiteral("Error reading Encoder signature!\r\n") + Orodja::MessageText(LastErrorText));
        return;
    }

    lblEncoderInfo->setText(QString::fromLatin1(sig.Dremo_PartNumber) + QStringLiteral("\r\n") +
                            QString::fromLatin1(sig.Dremo_Serial) + QStringLiteral("   ") +
                            QString::fromLatin1(sig.Dremo_FWverStr));
    FitEncoderInfo();

    using namespace Tarvo_konstante;
    AddLog(QStringLiteral("Registers present in the encoder:"));
    AddLog(QStringLiteral("  MT_ERR_TRESHOLD\t") + TrueFalse(HasMtErrThreshold));
    AddLog(QStringLiteral("  PERSISTENT_STATUS\t") + TrueFalse(HasPersistentStatus));
    AddLog(QStringLiteral("  SIGNAL_LEVEL      \t") + TrueFalse(HasSignalLevel));
    AddLog(QStringLiteral("  SELF_CAL_TIMEOUT\t") + TrueFalse(HasSelfCalTimeout));
    AddLog(QStringLiteral("  FIRMWARE_REVISION\t") + TrueFalse(HasFirmwareRevision) + QStringLiteral(" [") +
           QString::number(LenFwVersion) + QStringLiteral("] [") + QString::number(LenFwVerSvn) +
           QStringLiteral("]"));

    for (QWidget* w :
         {static_cast<QWidget*>(cbPersistentStatus), static_cast<QWidget*>(btnClearPersistentStatus)})
        w->setEnabled(HasPersistentStatus);
    for (QWidget* w : {static_cast<QWidget*>(lblSignalLevel), static_cast<QWidget*>(cbDrawAirGap)})
        w->setEnabled(HasSignalLevel);
    for (QWidget* w : {static_cast<QWidget*>(lblSelfCalTmo), static_cast<QWidget*>(edSelfCalTimeout)})
        w->setEnabled(HasSelfCalTimeout);
    for (QWidget* w : {static_cast<QWidget*>(lblMTerrArc), static_cast<QWidget*>(edMTerrArc),
                       static_cast<QWidget*>(btnMTerrArcWrite)})
        w->setEnabled(HasMtErrThreshold);

    seNominator->setValue(360);
    seDenominator->setValue(K310_SPI_Velcor::SingleTurnCounts);
    seNominatorChange();

    EncDolzinaKode = CodeLengthFromPartNumber(sig.Dremo_PartNumber);
    const TAirGapCoefficients c = AirGapCoefficients(EncDolzinaKode, sig.Dremo_FWverMajor,
                                                     sig.Dremo_FWverMinor, K310_SPI_Velcor::EncoderType);
    AirGapK = c.K;
    AirGapN = c.N;

    cmbFreqSPI->setCurrentIndex(4);
    cmbFreqSPIChange();

    btnReadEncoder->setEnabled(true);
    cbReadEncConstantly->setEnabled(true);
    Page->setEnabled(true);
    PageChange();
}

void TMainForm::FitEncoderInfo() {
    // A long serial with four firmware numbers and a hash is wider than the designed box: the
    // label takes its text's width, and the box grows with it along the band, over the logo if
    // it must, never beyond the band.
    constexpr int kMargin = 4;
    const int room = pnl1Top->width() - GroupBox1->x() - kMargin;
    lblEncoderInfo->adjustSize();
    const int needed = lblEncoderInfo->x() + lblEncoderInfo->width() + kMargin;
    GroupBox1->resize(std::min(needed, room), GroupBox1->height());
    lblEncoderInfo->resize(
        std::min(lblEncoderInfo->width(), GroupBox1->width() - lblEncoderInfo->x() - kMargin),
        lblEncoderInfo->height());
    GroupBox1->raise();
}

void TMainForm::seNominatorChange() {
    EncoderResolution =
        static_cast<double>(seNominator->value()) / static_cast<double>(seDenominator->value());
}
