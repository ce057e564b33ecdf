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
#include <array>
#include <cmath>

namespace {

QString Printable(const std::string& reply) {
    return QString::fromLatin1(Orodja::KeepPrintable(reply));
}

QString TrueFalse(bool value) {
    return value ? QStringLiteral("True") : QStringLiteral("False");
}

} // namespace

int32_t CodeLengthFromPartNumber(const std::string& partNumber) {
    struct Row {
        const char* prefix;
        int32_t length;
    };
    static constexpr std::array<Row, 8> kRows{{{"VK766", 9},
                                               {"VK768", 9},
                                               {"QX", 9},
                                               {"VK876", 7},
                                               {"VK867", 7},
                                               {"VK886", 6},
                                               {"VK888", 6},
                                               {"VS7", 5}}};
    for (const Row& row : kRows)
        if (partNumber.rfind(row.prefix, 0) == 0) return row.length;
    return 8;
}

TAirGapCoefficients AirGapCoefficients(int32_t codeLength, uint32_t fwMajor, uint32_t fwMinor,
                                       int encoderType) {
    // K is -(code period in degrees)/pi for the scale's code length, in single precision.
    TAirGapCoefficients c;
    switch (codeLength) {
    case 5:
        c = {-119.36621f, 1236.0f};
        break;
    case 6:
        c = {-95.492966f, 977.1f};
        break;
    case 7:
        c = {-83.556343f, 846.1f};
        break;
    case 8:
        c = {-71.619728f, 682.0f};
        break;
    case 9:
        c = {-70.293434f, 735.0f};
        break;
    default:
        c = {0.0f, 0.0f};
        break;
    }
    if (fwMajor == 2 && fwMinor >= 9) {
        if (codeLength == 7)
            c = {-83.556343f, 865.0f};
        else if (codeLength == 8)
            c = {-71.619728f, 748.0f};
        else
            c = {0.0f, 0.0f};
    }
    if (fwMajor == 4)
        c = codeLength == 9 ? TAirGapCoefficients{-71.619728f, 730.0f} : TAirGapCoefficients{0.0f, 0.0f};
    if (codeLength == 9 && encoderType == 5) c = {-71.619728f, 749.0f};
    return c;
}

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
