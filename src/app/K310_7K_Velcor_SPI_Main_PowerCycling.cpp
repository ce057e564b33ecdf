// The Test page's power-cycling test: a timer step switches the supply off and on and checks each
// powered reading against the one before. The checks and their lines are the procedures'; the
// timer, the supply commands and the readings are the window's.
#include "K310_7K_Velcor_SPI_Main.h"

#include "K310_BiSS_bidirectional.h"
#include "NumberFormat.h"
#include "PowerCycling.h"
#include "QtRoutines.h"
#include "Serial_driver.h"

#include <QCoreApplication>

#include <chrono>

namespace {

namespace Shared = K310_BiSS_bidirectional;

void SendSupplyCommand(const char* command) {
    std::string reply;
    // The reply is not looked at: a lost adapter shows up as failed readings.
    Serial_driver::SendCommand(Shared::PortHandle, command, 0, reply);
}

} // namespace

void TMainForm::cbCiklirajIzklopeClick() {
    TAdapterAction busy(*this);
    if (cbCiklirajIzklope->isChecked()) {
        PowerCycleRandom.seed(static_cast<std::mt19937::result_type>(
            std::chrono::system_clock::now().time_since_epoch().count()));
        PowerCycle.CikliranjeSmerInit = true;
        Page->setCurrentWidget(tabTest);
        Orodja::WaitWithMessages(200);
        btnReadEncoderClick();
        Procedures::StartPowerCycleRun(PowerCycle, EncoderPosition_unit);
        Memo1->clear();
        AddLog(QString::fromStdString(Procedures::PowerCycleStartLine(seSteviloIzklopov->value())));
    }
    // Both ways: the supply ends up on and reading runs exactly while the test does not.
    btnPowerONClick();
    timerOnOff->setInterval(seIzklopDelayMin->value());
    if (cbCiklirajIzklope->isChecked() && !Orodja::ApplicationTerminating())
        timerOnOff->start();
    else
        timerOnOff->stop();
    cbReadEncConstantly->setChecked(!cbCiklirajIzklope->isChecked());
}

void TMainForm::timerOnOffTimer() {
    TAdapterAction busy(*this);
    const auto step = Procedures::NextPowerCycleStep(seSteviloIzklopov->value(), PowerCycle.PowerOnStatus);
    if (step == Procedures::TPowerCycleStep::Stop) {
        AddLog(QString::fromLatin1(Procedures::kPowerCycleStopLine));
        cbCiklirajIzklope->setChecked(false);
        return;
    }
    timerOnOff->stop();
    timerOnOff->setInterval(
        Procedures::RandomDelayMs(seIzklopDelayMin->value(), seIzklopDelayMax->value(), PowerCycleRandom));
    if (step == Procedures::TPowerCycleStep::CheckAndSwitchOff) {
        btnReadEncoderClick();
        for (const std::string& line :
             Procedures::PowerCycleCheck(PowerCycle, cbCiklirajStacionarno->isChecked(), EncoderPosition_unit,
                                         seSteviloIzklopov->value(), Orodja::WindowNumberSeparators()))
            AddLog(QString::fromStdString(line));
        SendSupplyCommand("f");
        PowerCycle.PowerOnStatus = false;
    } else {
        SendSupplyCommand("n");
        PowerCycle.PowerOnStatus = true;
        seSteviloIzklopov->setValue(seSteviloIzklopov->value() - 1);
    }
    // Once, so the Start box can be cleared between steps; the timer is off meanwhile, so steps
    // never overlap.
    QCoreApplication::processEvents();
    if (cbCiklirajIzklope->isChecked() && !Orodja::ApplicationTerminating()) timerOnOff->start();
}

void TMainForm::seIzklopDelayMinChange() {
    timerOnOff->setInterval(seIzklopDelayMin->value());
    seIzklopDelayMin->setMaximum(seIzklopDelayMax->value());
    seIzklopDelayMax->setMinimum(seIzklopDelayMin->value());
}
