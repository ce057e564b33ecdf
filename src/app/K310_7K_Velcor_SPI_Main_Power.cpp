// Supply, SPI clock and Velcor GAME mode on the Initialization page.
#include "K310_7K_Velcor_SPI_Main.h"

#include "Clock.h"
#include "K310_BiSS_bidirectional.h"
#include "Orodja.h"
#include "Serial_driver.h"
#include "SupplySwitch.h"

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
    const bool switchedOn = SupplySwitch::SwitchOn(&reply);
    AddLog(Printable(reply));
    if (!switchedOn)
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
    using K310_BiSS_bidirectional::PortHandle;
    if (!SupplySwitch::SwitchOff()) {
        // The supply may still be on: the engineer must not unplug the encoder trusting it is off.
        const QString text = QStringLiteral("Setting power supply (f) not successfull! (") +
                             ProtocolErrorText() + QStringLiteral(")");
        AddLog(text);
        dialogs_->warning(text);
        // After the warning: the search closes the port, and the engineer has read why.
        if (EncoderPosition.ErrComm < 0) RestartAdapterSearch();
        return;
    }

    // Switching the supply off starts a fresh log, which begins with the supply's new state; the
    // label must not go on showing the supply as on.
    Memo1->clear();
    std::string reply;
    EncoderPosition.ErrComm = Serial_driver::SendCommand(PortHandle, "e", 0, reply);
    lblPower->setText(QString::fromLatin1(Orodja::Trim(reply)));
    if (EncoderPosition.ErrComm == Serial_driver::kReplyComplete) {
        AddLog(lblPower->text());
        return;
    }
    AddLog(QStringLiteral("USB Comm Err ") + QString::number(EncoderPosition.ErrComm));
    if (EncoderPosition.ErrComm < 0) RestartAdapterSearch();
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
