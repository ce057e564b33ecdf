// A window connected to the in-process simulator (supply on, encoder identified), with the
// commands the simulated adapter received for checking what an action sent.
#pragma once

#include "AppTestSupport.h"
#include "K310Simulator.h"
#include "K310_7K_Velcor_SPI_Main.h"
#include "NumberFormat.h"
#include "QtRoutines.h"

#include <QStringList>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

namespace app_testing {

class SimWindow : public ::testing::Test {
protected:
    void Connect(const std::string& preset, const std::string& extra = "") {
        sim::SimOptions options;
        std::string error;
        ASSERT_TRUE(sim::ParseSimOptions(preset + ",power-on=1" + extra, options, error)) << error;
        simulator = std::make_unique<sim::K310Simulator>(options);
        ASSERT_TRUE(simulator->Start(&error)) << error;
        ResetProtocolState();
        Orodja::SetDecimalSeparator(QLatin1Char('.'));
        Orodja::SetThousandSeparator(QLatin1Char(','));
        form = std::make_unique<TMainForm>(TestOptions(*dialogs));
        form->initTimer->stop();
        ASSERT_TRUE(UseAsAdapterPort(simulator->SlavePath()));
        form->btnConnectEncoderClick();
        ASSERT_TRUE(form->btnReadEncoder->isEnabled()) << form->LogLines().join('\n').toStdString();
        form->Memo1->clear();
        simulator->ClearReceived();
    }
    void TearDown() override {
        form.reset();
        simulator.reset();
        ResetProtocolState();
        Orodja::ResetNumberSeparators();
        Orodja::SetApplicationTerminating(false);
    }

    QStringList Commands() const {
        QStringList all;
        for (const auto& r : simulator->Received())
            all << QString::fromStdString(r.command);
        return all;
    }
    static bool IsPositionRead(const QString& c) { return c.startsWith(QStringLiteral("?0")) || c == "d"; }
    int PositionReads() const {
        int n = 0;
        for (const auto& r : simulator->Received())
            n += IsPositionRead(QString::fromStdString(r.command));
        return n;
    }
    void ShowPage(QWidget* page) {
        form->Page->setTabVisible(form->Page->indexOf(page), true);
        form->Page->setCurrentWidget(page);
    }
    uint32_t Peek(uint32_t address, int length) const {
        uint32_t value = 0;
        EXPECT_TRUE(simulator->PeekRegister(address, length, value)) << std::hex << address;
        return value;
    }

    // A test may put a recorder of its own here before Connect.
    std::unique_ptr<RecordingDialogs> dialogs = std::make_unique<RecordingDialogs>();
    std::unique_ptr<sim::K310Simulator> simulator;
    std::unique_ptr<TMainForm> form;
};

} // namespace app_testing
