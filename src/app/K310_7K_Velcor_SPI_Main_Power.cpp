// Supply, SPI clock and Velcor GAME mode on the Initialization page.
#include "K310_7K_Velcor_SPI_Main.h"

#include "Clock.h"
#include "K310_BiSS_bidirectional.h"
#include "Orodja.h"
#include "Serial_driver.h"

#include <qcustomplot.h>

namespace {

QString Printable(const std::string& reply) {
    return QString::fromLatin1(Orodja::KeepPrintable(reply));
}

bool BeginsWith(const std::string& text, const std::string& prefix) {
    return text.rfind(prefix, 0) == 0;
}

} // namespace

void TMainForm::btnPowerONClick() {
    TAdapterAction busy(*this);
    using K310_BiSS_bidirectional::EncoderPosition;
    using K310_BiSS_bidirectional::PortHandle;
    // The curves start anew with the new supply.
    ClearSignalLevelChart();

    const std::string command = PowerSelIndex() == 1 ? "V5" : "V3";
    std::string reply;
    EncoderPosition.ErrComm = Serial_driver::SendCommand(PortHandle, command, 0, reply);
    if (EncoderPosition.ErrComm < 0) {
        RestartAdapterSearch();
        return;
    }
    if (!BeginsWith(reply, command))
        dialogs_->warning(QStringLiteral("Setting power supply (") + QString::fromLatin1(command) +
                          QStringLiteral(") not successfull! (") + Printable(reply) + QStringLiteral(")"));

    reply.clear();
    Serial_driver::SendCommand(PortHandle, "n", 0, reply);
    AddLog(Printable(reply));
    if (!BeginsWith(reply, "ON"))
        dialogs_->warning(QStringLiteral("Setting power supply (n) not successfull! (") + Printable(reply) +
                          QStringLiteral(")"));

    // The encoder needs a moment after switching on before its status means anything.
    platform::SleepMs(200);

    reply.clear();
    EncoderPosition.ErrComm = Serial_driver::SendCommand(PortHandle, "e", 0, reply);
    lblPower->setText(QString::fromLatin1(Orodja::Trim(reply)));
    AddLog(lblPower->text());
}

void TMainForm::btnPowerOFFClick() {
    TAdapterAction busy(*this);
    using K310_BiSS_bidirectional::EncoderPosition;
    std::string reply;
    EncoderPosition.ErrComm = Serial_driver::SendCommand(K310_BiSS_bidirectional::PortHandle, "f", 0, reply);
    if (EncoderPosition.ErrComm < 0)
        RestartAdapterSearch();
    else
        Memo1->clear(); // switching the supply off starts a fresh log
}

void TMainForm::cmbFreqSPIChange() {
    TAdapterAction busy(*this);
    using K310_BiSS_bidirectional::PortHandle;
    const int step = cmbFreqSPI->currentIndex() + 1;
    std::string reply;
    if (Serial_driver::SendCommand(PortHandle, "M" + std::to_string(step), 0, reply) ==
        Serial_driver::kReplyComplete) {
        reply.clear();
        if (Serial_driver::SendCommand(PortHandle, "m", 0, reply) == Serial_driver::kReplyComplete)
            AddLog(QStringLiteral("Frequency: ") + QString::fromLatin1(Orodja::Trim(reply)));
    }
    if (reply.empty())
        dialogs_->warning(QStringLiteral("Setting frequency ") + QString::number(step) +
                          QStringLiteral(" not successfull."));
}

void TMainForm::cbVelcorZBGAMEClick() {
    TAdapterAction busy(*this);
    const bool game = cbVelcorZBGAME->isChecked();
    cbDetailedStatus->setChecked(!game);
    cbDetailedStatus->setEnabled(!game);
    if (game) {
        if (K310VerzijaFW < 109)
            dialogs_->warning(QStringLiteral("Too old interface version! Use K310-7K v1.09 or newer!"));
        SetPowerSelIndex(0);
    } else {
        SetPowerSelIndex(1);
    }
}
