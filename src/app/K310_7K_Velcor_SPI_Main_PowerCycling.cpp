// The Test page's power-cycling test: the procedures' step machine, one step per tick of
// timerOnOff. The window supplies its controls' values before each step and the traffic (its
// reading pass, the supply commands); the checks, the counts and the lines are the machine's.
#include "K310_7K_Velcor_SPI_Main.h"

#include "K310_BiSS_bidirectional.h"
#include "NumberFormat.h"
#include "PowerCycleRun.h"
#include "QtRoutines.h"
#include "WindowTraffic.h"

#include <QCoreApplication>

#include <chrono>

namespace {

// The controls' values, as the engineer may have changed them since the last step.
void TakeSettings(TMainForm& form, Procedures::TPowerCycleRun& run) {
    run.Remaining = form.seSteviloIzklopov->value();
    run.MinMs = form.seIzklopDelayMin->value();
    run.MaxMs = form.seIzklopDelayMax->value();
    run.AtRest = form.cbCiklirajStacionarno->isChecked();
    run.Separators = Orodja::WindowNumberSeparators();
}

} // namespace

void TMainForm::cbCiklirajIzklopeClick() {
    TAdapterAction busy(*this);
    Procedures::TNextStep first{true, 0};
    if (cbCiklirajIzklope->isChecked()) {
        Page->setCurrentWidget(tabTest);
        Orodja::WaitWithMessages(200);
        Memo1->clear();
        PowerCycleRun = std::make_unique<Procedures::TPowerCycleRun>(
            PowerCycle, *procedureTraffic_,
            [this](const std::string& line) { AddLog(QString::fromStdString(line)); },
            static_cast<uint32_t>(std::chrono::system_clock::now().time_since_epoch().count()));
        TakeSettings(*this, *PowerCycleRun);
        first = PowerCycleRun->Start();
    } else if (PowerCycleRun && PowerCycleRun->Running()) {
        // Stopped by the engineer: the figures so far.
        PowerCycleRun->Stop(Procedures::TRunEnd::Interrupted);
    }
    // Both ways: the supply ends up on and reading runs exactly while the test does not; with the
    // adapter gone there is nothing to switch on or read.
    const bool linked = K310_BiSS_bidirectional::PortHandle.IsValid() &&
                        !(PowerCycleRun && PowerCycleRun->End() == Procedures::TRunEnd::LostPort);
    if (linked) btnPowerONClick();
    timerOnOff->setInterval(first.Done ? seIzklopDelayMin->value() : first.WaitMs);
    const bool run = cbCiklirajIzklope->isChecked() && !first.Done && !Orodja::ApplicationTerminating();
    if (run)
        timerOnOff->start();
    else
        timerOnOff->stop();
    if (cbCiklirajIzklope->isChecked() && !run) {
        // The run could not begin (the link is gone): the box follows.
        cbCiklirajIzklope->setChecked(false);
        return;
    }
    if (linked || run) cbReadEncConstantly->setChecked(!cbCiklirajIzklope->isChecked());
}

void TMainForm::timerOnOffTimer() {
    TAdapterAction busy(*this);
    timerOnOff->stop();
    if (!PowerCycleRun || !PowerCycleRun->Running()) {
        cbCiklirajIzklope->setChecked(false);
        return;
    }
    TakeSettings(*this, *PowerCycleRun);
    const Procedures::TNextStep next = PowerCycleRun->Step();
    if (seSteviloIzklopov->value() != PowerCycleRun->Remaining)
        seSteviloIzklopov->setValue(static_cast<int>(PowerCycleRun->Remaining));
    if (next.Done) {
        cbCiklirajIzklope->setChecked(false);
        return;
    }
    timerOnOff->setInterval(next.WaitMs);
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
