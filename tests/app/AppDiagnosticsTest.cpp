// The Diagnostics page's own controls in the window, offscreen with real widgets, against the
// simulated adapter and encoder.
#include "K310_SPI_Velcor.h"
#include "SimWindow.h"
#include "Tarvo_konstante.h"

#include <gtest/gtest.h>

namespace {

namespace Layout = Tarvo_konstante;
using app_testing::SimulatedWindow;

class DiagnosticsPage : public SimulatedWindow {};

TEST_F(DiagnosticsPage, PersistentAndDetailedStatusExcludeEachOther) {
    Connect("t1");
    struct Row {
        bool persistent, detailed; // before
        QCheckBox* box;
        bool check;
        bool persistentAfter, detailedAfter;
    };
    QCheckBox* const p = form->cbPersistentStatus;
    QCheckBox* const d = form->cbDetailedStatus;
    const Row rows[] = {
        {true, false, d, true, false, true}, // the tick moves to the box checked
        {false, true, p, true, true, false}, // and the other way round
        {false, false, p, true, true, false},  {false, false, d, true, false, true},
        {true, false, p, false, false, false}, // unchecking the checked one leaves both clear
        {false, true, d, false, false, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << row.persistent << row.detailed << " "
                                        << row.box->objectName().toStdString() << " " << row.check);
        p->setChecked(false);
        d->setChecked(false);
        p->setChecked(row.persistent);
        d->setChecked(row.detailed);
        ASSERT_EQ(p->isChecked(), row.persistent);
        ASSERT_EQ(d->isChecked(), row.detailed);
        row.box->click();
        ASSERT_EQ(row.box->isChecked(), row.check);
        EXPECT_EQ(p->isChecked(), row.persistentAfter);
        EXPECT_EQ(d->isChecked(), row.detailedAfter);
    }
    EXPECT_TRUE(Commands().isEmpty()) << "choosing the status word sends nothing";
}

TEST_F(DiagnosticsPage, TheGameModeSettingDetailedStatusClearsPersistentStatus) {
    Connect("t1");
    form->K310VerzijaFW = 109;
    form->cbPersistentStatus->setChecked(true);
    // GAME mode clears "Detailed status": the persistent status stays.
    form->cbVelcorZBGAME->setChecked(true);
    EXPECT_FALSE(form->cbDetailedStatus->isChecked());
    EXPECT_FALSE(form->cbDetailedStatus->isEnabled());
    EXPECT_TRUE(form->cbPersistentStatus->isChecked());
    // Leaving it checks "Detailed status", which takes the tick from the persistent status.
    form->cbVelcorZBGAME->setChecked(false);
    EXPECT_TRUE(form->cbDetailedStatus->isChecked());
    EXPECT_TRUE(form->cbDetailedStatus->isEnabled());
    EXPECT_FALSE(form->cbPersistentStatus->isChecked());
    EXPECT_TRUE(dialogs.shown.empty());
}

TEST_F(DiagnosticsPage, SafetyResetWritesThirtyTwoThousandAtTheSameAddressInBothLayouts) {
    for (const char* preset : {"t1", "t6"}) {
        SCOPED_TRACE(preset);
        Connect(preset);
        ShowPage(form->tabDiagnostics);
        form->btnDecodingSafetyReset->click();
        EXPECT_EQ(Commands(), QStringList({"x", "W:0002:00000012:00007D00"}));
        // Only firmware 4 has the margin registers: older firmware refuses, and the log says so.
        uint32_t per = 0;
        const bool readable = simulator->PeekRegister(Layout::SAFETY_PER, 2, per);
        EXPECT_EQ(readable, std::string(preset) == "t6");
        if (readable) {
            EXPECT_EQ(per, 32000u);
            EXPECT_TRUE(form->LogLines().isEmpty());
        } else {
            EXPECT_EQ(form->LogLines().value(0), QStringLiteral("Invalid register address"));
        }
    }
    // Firmware 4 shows the margin on the next pass on this page.
    form->btnReadEncoderClick();
    uint32_t per = 0;
    ASSERT_TRUE(simulator->PeekRegister(Layout::SAFETY_PER, 2, per));
    const QString shown = QStringLiteral("Safety PER: ") + QString::number(int16_t(per));
    EXPECT_EQ(form->lblDecodingSafetyMargin_PER->text(), shown);

    // A refused write is one reason in the log, the label untouched.
    simulator->SetRegisterError(Layout::SAFETY_PER, 0xF6);
    form->Memo1->clear();
    form->btnDecodingSafetyReset->click();
    ASSERT_FALSE(form->LogLines().isEmpty());
    EXPECT_EQ(form->LogLines()[0], QStringLiteral("Write access is locked"));
    EXPECT_EQ(form->lblDecodingSafetyMargin_PER->text(), shown);
    EXPECT_TRUE(dialogs.shown.empty());
}

TEST_F(DiagnosticsPage, ClearPersistentStatus) {
    struct Row {
        const char* preset;
        bool temperatureFirst, hasRegister;
    };
    for (const Row& row : {Row{"t1", true, true}, Row{"bare", true, false}, Row{"t6", false, true}}) {
        SCOPED_TRACE(row.preset);
        Connect(row.preset);
        ASSERT_EQ(Layout::HasPersistentStatus, row.hasRegister);
        EXPECT_EQ(form->btnClearPersistentStatus->isEnabled(), row.hasRegister);
        // A condition that has gone is still held in the persistent status, until cleared.
        simulator->SetErrorBit(true);
        simulator->SetErrorBit(false);
        simulator->ClearReceived();
        form->btnClearPersistentStatusClick();
        QStringList expected;
        if (row.temperatureFirst) expected << Read(Layout::RegSensorTemperature, 2);
        if (row.hasRegister)
            expected << "x" << Write(Layout::RegCommand, 1, Layout::CMD_CLEAR_PERSISTENT_STATUS);
        EXPECT_EQ(Commands(), expected);
        uint32_t persistent = 0;
        simulator->Inspect([&](sim::SimDevice& d, double) { persistent = d.PersistentConditions(); });
        EXPECT_EQ(persistent == 0, row.hasRegister);
        EXPECT_TRUE(form->LogLines().isEmpty()) << form->LogLines().join('|').toStdString();
    }
    Connect("t6");
    simulator->SetRegisterError(Layout::RegCommand, 0xF6);
    form->btnClearPersistentStatus->click();
    ASSERT_FALSE(form->LogLines().isEmpty());
    EXPECT_EQ(form->LogLines()[0], QStringLiteral("Write access is locked"));
}

TEST_F(DiagnosticsPage, ProtocolResetLogsTheAdapterConfirmationOrTheReason) {
    Connect("t1");
    form->btnResetVelcorProtocol->click();
    EXPECT_EQ(Commands(), QStringList({"x"}));
    EXPECT_EQ(form->LogLines(), QStringList({"Reset of Velcor protocol performed"}));

    form->Memo1->clear();
    simulator->ErrorReplyNext(1);
    form->btnResetVelcorProtocol->click();
    const QStringList log = form->LogLines();
    ASSERT_EQ(log.size(), 1);
    EXPECT_TRUE(log[0].startsWith(QStringLiteral("ERROR"))) << log[0].toStdString();

    form->Memo1->clear();
    simulator->SilenceNext(1);
    form->btnResetVelcorProtocol->click();
    EXPECT_EQ(form->LogLines(), QStringList({"USB Comm Err -1"}));
    EXPECT_TRUE(dialogs.shown.empty());
}

TEST_F(DiagnosticsPage, WriteAccessStatusLine) {
    Connect("t1");
    const auto statusLine = [&] {
        form->Memo1->clear();
        simulator->ClearReceived();
        form->btnReadWriteAccessRegister->click();
        EXPECT_EQ(Commands(), QStringList({Read(Layout::WRITE_ACCESS_STATUS, 1)}));
        return form->LogLines();
    };
    EXPECT_EQ(statusLine(), QStringList({"Write status: [0x00] (no recent write access)"}));

    // After a write the encoder refused as out of range, and after one it took.
    form->edMTerrArc->setText(QStringLiteral("300"));
    form->btnMTerrArcWrite->click();
    EXPECT_EQ(statusLine(), QStringList({"Write status: [0x02] Value out of range"}));
    form->edMTerrArc->setText(QStringLiteral("40"));
    form->btnMTerrArcWrite->click();
    EXPECT_EQ(statusLine(), QStringList({"Write status: [0x40] Command executed"}));

    // A refused read: its reason instead.
    simulator->SetRegisterError(Layout::WRITE_ACCESS_STATUS, 0x26);
    const QStringList log = statusLine();
    ASSERT_EQ(log.size(), 2) << log.join('|').toStdString();
    EXPECT_EQ(log[0], QStringLiteral("Invalid register address"));
    EXPECT_TRUE(log[1].startsWith("sCmd: " + Read(Layout::WRITE_ACCESS_STATUS, 1) + " RCV: 0x26"))
        << log[1].toStdString();
    EXPECT_TRUE(dialogs.shown.empty());
}

} // namespace
