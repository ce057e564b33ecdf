// A window connected to the in-process simulator, for the page tests: the encoder of a preset,
// supply on, identified; the log, the recorded message boxes and the simulator's received
// commands start empty.
#pragma once

#include "AppTestSupport.h"
#include "K310Simulator.h"
#include "NumberFormat.h"
#include "QtRoutines.h"

#include <QAbstractButton>
#include <QStringList>
#include <QTimer>

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <utility>

namespace app_testing {

// `Dialogs` is the recorder of message boxes: a test that needs more of them (a save dialog that
// chooses, a hook on the hourglass) names its own subclass of RecordingDialogs.
template <class Dialogs = RecordingDialogs> class SimulatedWindowWith : public ::testing::Test {
protected:
    // `identify` false: the adapter's port is open but "Connect Encoder" has not run.
    void Connect(const std::string& preset, const std::string& extra = "", bool identify = true) {
        form.reset();
        simulator.reset();
        sim::SimOptions options;
        std::string error;
        ASSERT_TRUE(sim::ParseSimOptions(preset + ",power-on=1" + extra, options, error)) << error;
        options.inProcess = app_testing::SimulatorInProcess();
        simulator = std::make_unique<sim::K310Simulator>(options);
        ASSERT_TRUE(simulator->Start(&error)) << error;
        ResetProtocolState();
        Orodja::SetDecimalSeparator(QLatin1Char('.'));
        Orodja::SetThousandSeparator(QLatin1Char(','));
        TMainFormOptions formOptions = TestOptions(dialogs);
        AdjustOptions(formOptions);
        form = std::make_unique<TMainForm>(formOptions);
        form->initTimer->stop();
        ASSERT_TRUE(UseAsAdapterPort(simulator->SlavePath()));
        if (identify) {
            form->btnConnectEncoderClick();
            ASSERT_TRUE(form->btnReadEncoder->isEnabled()) << form->LogLines().join('\n').toStdString();
        }
        form->Memo1->clear();
        dialogs.shown.clear();
        simulator->ClearReceived();
    }
    // The window's options beyond the tests' usual ones (a recording folder, ...).
    virtual void AdjustOptions(TMainFormOptions&) {}

    void TearDown() override {
        form.reset();
        simulator.reset();
        ResetProtocolState();
        Orodja::ResetNumberSeparators();
        Orodja::SetApplicationTerminating(false);
    }

    // Shows a page as a click on its tab does (PageChange runs).
    void ShowPage(QWidget* page) {
        form->Page->setTabVisible(form->Page->indexOf(page), true);
        form->Page->setCurrentWidget(page);
    }

    // Continuous reading at delay 0, three passes in; then the received commands start empty.
    void ReadingFast() {
        form->seDelayBetweenReadings->setValue(0);
        form->cbReadEncConstantly->setChecked(true);
        ASSERT_TRUE(WaitFor([&] { return PositionReads() >= 3; }, 2000));
        simulator->ClearReceived();
    }
    // Clicks `button` as the user's click comes: from the event loop, between two reading passes.
    // True once its handler has returned.
    bool ClickFromEventLoop(QAbstractButton* button, int timeoutMs) {
        auto clicked = std::make_shared<bool>(false);
        QTimer::singleShot(0, form.get(), [button, clicked] {
            button->click();
            *clicked = true;
        });
        return WaitFor([&] { return *clicked; }, timeoutMs);
    }

    QStringList Commands() const {
        QStringList all;
        for (const auto& r : simulator->Received())
            all << QString::fromStdString(r.command);
        return all;
    }
    static bool IsPosition(const QString& c) { return c.startsWith(QStringLiteral("?0")) || c == "d"; }
    int PositionReads() const {
        int n = 0;
        for (const QString& c : Commands())
            n += IsPosition(c);
        return n;
    }
    // What an action sent, without the reading passes around it and their supply queries.
    QStringList ActionCommands() const {
        QStringList action;
        for (const QString& c : Commands())
            if (!IsPosition(c) && c != QStringLiteral("e")) action << c;
        return action;
    }

    // Where an action's own traffic begins and ends among `commands`: the indexes of its first and
    // last command that is neither a position read nor the supply query; -1, -1 for none.
    static std::pair<qsizetype, qsizetype> ActionSpan(const QStringList& commands) {
        qsizetype first = -1, last = -1;
        for (qsizetype i = 0; i < commands.size(); ++i)
            if (!IsPosition(commands[i]) && commands[i] != QStringLiteral("e")) {
                if (first < 0) first = i;
                last = i;
            }
        return {first, last};
    }

    // The adapter's register commands as the protocol spells them.
    static QString Read(uint32_t address, int length) {
        return QString::asprintf("R:%04X:%08X", unsigned(length), unsigned(address));
    }
    static QString Write(uint32_t address, int length, uint32_t value) {
        return QString::asprintf("W:%04X:%08X:%08X", unsigned(length), unsigned(address), unsigned(value));
    }
    // A register's value in the simulated encoder, as the encoder holds it now.
    uint32_t Peek(uint32_t address, int length) const {
        uint32_t value = 0;
        EXPECT_TRUE(simulator->PeekRegister(address, length, value)) << std::hex << address;
        return value;
    }

    Dialogs dialogs;
    std::unique_ptr<sim::K310Simulator> simulator;
    std::unique_ptr<TMainForm> form;
};

using SimulatedWindow = SimulatedWindowWith<>;

} // namespace app_testing
