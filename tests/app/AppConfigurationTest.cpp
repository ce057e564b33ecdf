// The Configuration page in the window, offscreen with real widgets, against the simulated
// adapter and encoder: the refresh, the register writes, the multiturn preset, saving, factory
// reset and "Set zero here", and how the saving actions meet continuous reading.
#include "K310_BiSS_bidirectional.h"
#include "K310_SPI_Velcor.h"
#include "SimWindow.h"
#include "Tarvo_konstante.h"

#include <QTimer>

#include <gtest/gtest.h>

#include <functional>

namespace {

namespace Shared = K310_BiSS_bidirectional;
namespace Layout = Tarvo_konstante;
using app_testing::SimulatedWindow;

class ConfigurationPage : public SimulatedWindow {
protected:
    // Connected, with the Configuration page on show and an adapter revision that needs no
    // preliminary temperature read before the plain writes (unless a test says otherwise).
    void Open(const std::string& preset, int32_t adapterRevision = 10000) {
        Connect(preset);
        form->K310RevizijaFW = adapterRevision;
        ShowPage(form->tabConfig);
        form->Memo1->clear();
        simulator->ClearReceived();
    }
    sim::EncoderConfig Ram() const {
        sim::EncoderConfig c;
        simulator->Inspect([&](sim::SimDevice& d, double) { c = d.Config(); });
        return c;
    }
    sim::EncoderConfig Saved() const {
        sim::EncoderConfig c;
        simulator->Inspect([&](sim::SimDevice& d, double) { c = d.SavedConfig(); });
        return c;
    }
    void PowerCycle() {
        simulator->SetSupply(false);
        simulator->SetSupply(true);
    }
    void Refresh() {
        ShowPage(form->tabInit);
        ShowPage(form->tabConfig);
    }
    void StopReading() { form->cbReadEncConstantly->setChecked(false); }
    int Occurrences(const QString& command) const { return int(Commands().count(command)); }
};

TEST_F(ConfigurationPage, RefreshReadsOffsetFilterAndTheArcWhereTheEncoderHasIt) {
    struct Row {
        const char* preset;
        bool arc;
    };
    for (const Row& row : {Row{"t1", true}, Row{"bare", false}, Row{"t6", true}}) {
        SCOPED_TRACE(row.preset);
        Connect(row.preset);
        for (QLineEdit* edit : {form->edPosOffset, form->edFilterPosVal, form->edMTerrArc})
            edit->setText(QStringLiteral("old"));
        ASSERT_EQ(Layout::HasMtErrThreshold, row.arc);
        ShowPage(form->tabConfig);
        QStringList expected{Read(Layout::RegPositionOffset, 4), Read(Layout::RegPositionFilter, 4)};
        if (row.arc) expected << Read(Layout::RegMtErrThreshold, 1);
        EXPECT_EQ(Commands(), expected);
        EXPECT_EQ(form->edPosOffset->text(), QStringLiteral("0"));
        EXPECT_EQ(form->edFilterPosVal->text(), QStringLiteral("2"));
        EXPECT_EQ(form->edMTerrArc->text(), row.arc ? QStringLiteral("45") : QStringLiteral("old"));
        EXPECT_TRUE(form->LogLines().isEmpty());
        EXPECT_TRUE(form->edMTerrArc->isEnabled() == row.arc);
    }
}

TEST_F(ConfigurationPage, ARefusedRefreshReadIsLoggedKeepsItsEditAndTheOthersStillRun) {
    Open("t1");
    ASSERT_TRUE(K310_SPI_Velcor::WriteRegister(Layout::RegPositionFilter, 4, 9));
    simulator->SetRegisterError(Layout::RegPositionOffset, 0x96);
    form->edPosOffset->setText(QStringLiteral("typed"));
    simulator->ClearReceived();
    Refresh();
    EXPECT_EQ(Commands().size(), 3);
    EXPECT_EQ(form->edPosOffset->text(), QStringLiteral("typed"));
    EXPECT_EQ(form->edFilterPosVal->text(), QStringLiteral("9"));
    EXPECT_EQ(form->edMTerrArc->text(), QStringLiteral("45"));
    const QStringList log = form->LogLines();
    ASSERT_EQ(log.size(), 2) << log.join('|').toStdString();
    EXPECT_EQ(log[0], QStringLiteral("Access denied"));
    EXPECT_TRUE(log[1].startsWith("sCmd: " + Read(Layout::RegPositionOffset, 4))) << log[1].toStdString();
}

TEST_F(ConfigurationPage, WritesSendTheEditAsItsSigned32BitValue) {
    Open("t1");
    struct Row {
        QLineEdit* edit;
        QPushButton* button;
        const char* text;
        uint32_t address;
        int length;
        uint32_t value;
        const char* firstLogLine; // nullptr: the write succeeds quietly
    };
    const Row rows[] = {
        {form->edPosOffset, form->btnWriteZero, "1000", Layout::RegPositionOffset, 4, 1000, nullptr},
        {form->edFilterPosVal, form->btnWriteFilter, "7", Layout::RegPositionFilter, 4, 7, nullptr},
        {form->edMTerrArc, form->btnMTerrArcWrite, "30", Layout::RegMtErrThreshold, 1, 30, nullptr},
        // Unreadable text counts as 0.
        {form->edPosOffset, form->btnWriteZero, "abc", Layout::RegPositionOffset, 4, 0, nullptr},
        // Too big for one byte: sent as it is, and the encoder's answer is the outcome.
        {form->edMTerrArc, form->btnMTerrArcWrite, "300", Layout::RegMtErrThreshold, 1, 300,
         "Parameter out of range"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.text);
        row.edit->setText(QString::fromLatin1(row.text));
        simulator->ClearReceived();
        form->Memo1->clear();
        row.button->click();
        EXPECT_EQ(Commands(), QStringList({"x", Write(row.address, row.length, row.value)}));
        const QStringList log = form->LogLines();
        if (row.firstLogLine) {
            ASSERT_FALSE(log.isEmpty());
            EXPECT_EQ(log[0], QString::fromLatin1(row.firstLogLine));
        } else {
            EXPECT_TRUE(log.isEmpty()) << log.join('|').toStdString();
        }
    }
    EXPECT_TRUE(dialogs.shown.empty());
    const sim::EncoderConfig ram = Ram();
    EXPECT_EQ(ram.positionOffset, 0u);
    EXPECT_EQ(ram.positionFilter, 7u);
    EXPECT_EQ(ram.mtErrThreshold, 30u);
}

TEST_F(ConfigurationPage, NegativeValuesAreARangeErrorAndWriteNothing) {
    for (int32_t revision : {10000, 9999}) {
        SCOPED_TRACE(revision);
        Open("t1", revision);
        const std::pair<QLineEdit*, QPushButton*> writes[] = {{form->edPosOffset, form->btnWriteZero},
                                                              {form->edFilterPosVal, form->btnWriteFilter},
                                                              {form->edMTerrArc, form->btnMTerrArcWrite}};
        for (const auto& [edit, button] : writes) {
            SCOPED_TRACE(button->text().toStdString());
            edit->setText(QStringLiteral("-5"));
            simulator->ClearReceived();
            dialogs.shown.clear();
            button->click();
            ASSERT_EQ(dialogs.shown.size(), 1u);
            EXPECT_EQ(dialogs.shown[0].kind, QStringLiteral("error"));
            EXPECT_TRUE(dialogs.shown[0].text.startsWith(QStringLiteral("Range check error")))
                << dialogs.shown[0].text.toStdString();
            EXPECT_TRUE(dialogs.shown[0].text.contains(QStringLiteral("-5")));
            // The temperature read that this adapter needs comes before the value is looked at.
            if (revision < 10000)
                EXPECT_EQ(Commands(), QStringList({Read(Layout::RegSensorTemperature, 2)}));
            else
                EXPECT_TRUE(Commands().isEmpty()) << Commands().join(' ').toStdString();
        }
        EXPECT_TRUE(form->LogLines().isEmpty());
        EXPECT_EQ(Ram().positionOffset, 0u);
    }
}

TEST_F(ConfigurationPage, ApplyMTPresetsTheLow16BitsOfTheEdit) {
    Open("t1mt");
    struct Row {
        const char* text;
        uint16_t preset;
        int32_t turns; // as the position frame carries them, signed
    };
    for (const Row& row :
         {Row{"70000", 4464, 4464}, Row{"-1", 65535, -1}, Row{"abc", 0, 0}, Row{"3", 3, 3}}) {
        SCOPED_TRACE(row.text);
        form->edMultiturnPreset->setText(QString::fromLatin1(row.text));
        simulator->ClearReceived();
        form->btnApplyMT->click();
        EXPECT_EQ(Commands(), QStringList({Read(Layout::RegSensorTemperature, 2), "x",
                                           Write(Layout::RegMultiturnPreset, 4, row.preset), "x",
                                           Write(Layout::RegCommand, 1, Layout::CMD_APPLY_MT_PRESET)}));
        form->btnReadEncoderClick();
        EXPECT_EQ(Shared::EncoderPosition.MT_value, row.turns);
    }
    EXPECT_TRUE(form->LogLines().isEmpty());
    EXPECT_FALSE(form->cbReadEncConstantly->isChecked()) << "Apply MT does not touch continuous reading";

    // A refused preset is logged.
    simulator->SetRegisterError(Layout::RegMultiturnPreset, 0xF6);
    form->btnApplyMT->click();
    ASSERT_FALSE(form->LogLines().isEmpty());
    EXPECT_EQ(form->LogLines()[0], QStringLiteral("Write access is locked"));
}

TEST_F(ConfigurationPage, SensorTemperatureIsReadFirstWhereTheEncoderAndAdapterNeedIt) {
    struct Row {
        const char* preset;
        int32_t revision;
        const char* action;
        bool readFirst;
    };
    const Row rows[] = {
        {"t1", 9999, "Write Zero", true},     {"t1", 10000, "Write Zero", false},
        {"t1", 9999, "Write Filter", true},   {"t1", 10000, "Write Filter", false},
        {"t1", 9999, "Write MT arc", true},   {"t1", 10000, "Write MT arc", false},
        {"t1", 9999, "Apply MT", true},       {"t1", 10000, "Apply MT", true},
        {"t1", 10000, "Save to NVRAM", true}, {"t1", 10000, "Set zero here", true},
        {"t1", 9999, "Factory Reset", false}, {"t6", 0, "Write Zero", false},
        {"t6", 0, "Apply MT", false},         {"t6", 0, "Save to NVRAM", false},
        {"t6", 0, "Set zero here", false},
    };
    std::string connected;
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.preset) + " " + std::to_string(row.revision) + " " + row.action);
        if (connected != row.preset) {
            Open(row.preset);
            connected = row.preset;
        }
        form->K310RevizijaFW = row.revision;
        for (QLineEdit* edit :
             {form->edPosOffset, form->edFilterPosVal, form->edMTerrArc, form->edMultiturnPreset})
            edit->setText(QStringLiteral("3"));
        simulator->ClearReceived();
        QPushButton* button = nullptr;
        for (QPushButton* b : form->tabConfig->findChildren<QPushButton*>())
            if (b->text() == QString::fromLatin1(row.action)) button = b;
        ASSERT_NE(button, nullptr);
        button->click();
        StopReading();
        const QString sensor = Read(Layout::RegSensorTemperature, 2);
        if (row.readFirst) {
            EXPECT_EQ(ActionCommands().value(0), sensor) << ActionCommands().join(' ').toStdString();
        } else {
            EXPECT_EQ(Occurrences(sensor), 0) << Commands().join(' ').toStdString();
        }
    }
}

TEST_F(ConfigurationPage, SavedSettingsSurviveAPowerCycleUnsavedOnesDoNot) {
    Open("t1");
    form->edPosOffset->setText(QStringLiteral("1000"));
    form->btnWriteZero->click();
    form->edFilterPosVal->setText(QStringLiteral("7"));
    form->btnWriteFilter->click();
    form->btnSaveFlash->click();
    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_EQ(dialogs.shown[0].kind, QStringLiteral("information"));
    EXPECT_EQ(dialogs.shown[0].text, QStringLiteral("Save data done!"));
    EXPECT_TRUE(form->cbReadEncConstantly->isChecked()) << "saving starts continuous reading at its end";
    StopReading();
    EXPECT_EQ(Saved().positionOffset, 1000u);
    EXPECT_EQ(Saved().positionFilter, 7u);

    PowerCycle();
    Refresh();
    EXPECT_EQ(form->edPosOffset->text(), QStringLiteral("1000"));
    EXPECT_EQ(form->edFilterPosVal->text(), QStringLiteral("7"));

    // Written but not saved: gone with the supply.
    form->edFilterPosVal->setText(QStringLiteral("9"));
    form->btnWriteFilter->click();
    Refresh();
    EXPECT_EQ(form->edFilterPosVal->text(), QStringLiteral("9"));
    PowerCycle();
    Refresh();
    EXPECT_EQ(form->edFilterPosVal->text(), QStringLiteral("7"));

    // Factory reset: the factory settings, shown by the action's own refresh, and kept.
    dialogs.shown.clear();
    form->btnFactoryReset->click();
    ASSERT_EQ(dialogs.Texts(), QStringList({"Factory reset done!"}));
    EXPECT_TRUE(form->cbReadEncConstantly->isChecked());
    StopReading();
    EXPECT_EQ(form->edPosOffset->text(), QStringLiteral("0"));
    EXPECT_EQ(form->edFilterPosVal->text(), QStringLiteral("2"));
    PowerCycle();
    Refresh();
    EXPECT_EQ(form->edPosOffset->text(), QStringLiteral("0"));
    EXPECT_TRUE(form->LogLines().isEmpty()) << form->LogLines().join('|').toStdString();
}

TEST_F(ConfigurationPage, ARefusedSaveOrFactoryResetIsReportedNotConfirmed) {
    Open("t1");
    form->edFilterPosVal->setText(QStringLiteral("7"));
    form->btnWriteFilter->click();
    simulator->SetRegisterError(Layout::RegCommand, 0xF6);
    struct Row {
        QPushButton* button;
        const char* failed;
    };
    for (const Row& row : {Row{form->btnSaveFlash, "Save data failed! "},
                           Row{form->btnFactoryReset, "Factory reset failed! "}}) {
        SCOPED_TRACE(row.failed);
        dialogs.shown.clear();
        form->Memo1->clear();
        row.button->click();
        const QString reason = QStringLiteral("Write access is locked\r\nsCmd: ") +
                               "W:0001:" + QString::asprintf("%08X", Layout::RegCommand);
        ASSERT_EQ(dialogs.shown.size(), 1u);
        EXPECT_EQ(dialogs.shown[0].kind, QStringLiteral("warning"));
        EXPECT_TRUE(dialogs.shown[0].text.startsWith(QString::fromLatin1(row.failed) + reason))
            << dialogs.shown[0].text.toStdString();
        EXPECT_EQ(form->LogLines().value(0), QStringLiteral("Write access is locked"));
        EXPECT_TRUE(form->cbReadEncConstantly->isChecked()) << "reading starts again all the same";
        StopReading();
    }
    EXPECT_EQ(Saved().positionFilter, 2u);
    EXPECT_EQ(Ram().positionFilter, 7u);
    EXPECT_EQ(form->edFilterPosVal->text(), QStringLiteral("7")) << "the action's refresh still ran";
}

TEST_F(ConfigurationPage, SaveStopsReadingForItsOwnTrafficThenStartsItAgain) {
    Open("t1");
    form->seDelayBetweenReadings->setValue(200);
    form->cbReadEncConstantly->setChecked(true);
    simulator->ClearReceived();
    form->btnSaveFlash->click();
    const QStringList commands = Commands();
    // The final pass, the save with its refresh, then the first pass of the new cycle.
    const QStringList action{Read(Layout::RegSensorTemperature, 2),
                             "x",
                             Write(Layout::RegCommand, 1, Layout::CMD_SAVE_NVRAM),
                             Read(Layout::RegPositionOffset, 4),
                             Read(Layout::RegPositionFilter, 4),
                             Read(Layout::RegMtErrThreshold, 1)};
    ASSERT_GE(commands.size(), action.size() + 2) << commands.join(' ').toStdString();
    EXPECT_TRUE(IsPosition(commands.front()));
    EXPECT_EQ(commands.mid(1, action.size()), action);
    EXPECT_TRUE(IsPosition(commands[action.size() + 1]));
    EXPECT_TRUE(form->cbReadEncConstantly->isChecked());
    EXPECT_TRUE(form->tmrReadCycle->isActive());
    StopReading();
}

TEST_F(ConfigurationPage, SaveClickedDuringContinuousReadingIsNotInterleaved) {
    Open("t1");
    ReadingFast();
    ASSERT_TRUE(ClickFromEventLoop(form->btnSaveFlash, 3000));
    ASSERT_TRUE(app_testing::WaitFor([&] { return PositionReads() >= 3; }, 2000)) << "reading goes on";
    StopReading();
    const QStringList commands = Commands();
    const auto [first, last] = ActionSpan(commands);
    ASSERT_GE(first, 0) << commands.join(' ').toStdString();
    EXPECT_EQ(commands.mid(first, last - first + 1).size(), 6) << commands.join(' ').toStdString();
    for (qsizetype i = first; i <= last; ++i)
        EXPECT_FALSE(IsPosition(commands[i])) << i << ": " << commands.join(' ').toStdString();
}

TEST_F(ConfigurationPage, TenSavesWhileReadingLeaveReadingOnWithOneCycle) {
    Open("t1");
    form->seDelayBetweenReadings->setValue(200);
    form->cbReadEncConstantly->setChecked(true);
    for (int i = 0; i < 10; ++i)
        ASSERT_TRUE(ClickFromEventLoop(form->btnSaveFlash, 3000));
    EXPECT_EQ(dialogs.Texts(), QStringList(10, QStringLiteral("Save data done!")));
    EXPECT_TRUE(form->cbReadEncConstantly->isChecked());
    const int started = PositionReads();
    // One cycle at 200 ms makes two or three passes in half a second; ten would make twenty or more.
    app_testing::WaitFor([] { return false; }, 500);
    const int live = PositionReads() - started;
    EXPECT_GE(live, 1);
    EXPECT_LE(live, 3);
    StopReading();
}

TEST_F(ConfigurationPage, SetZeroHereMakesThePresentPositionReadZero) {
    constexpr int64_t kTurn = 524288; // t1mt: 19 bits
    struct Row {
        uint32_t offset;   // the encoder's offset before
        int64_t shaft;     // shaft position in counts
        uint32_t reading;  // what the encoder reads there
        int32_t newOffset; // offset + reading - 2, within one turn
    };
    const Row rows[] = {
        {0, 3 * kTurn + 100000, 100000, 99998},
        {500000, kTurn + 75712, 100000, 75710}, // past the end of the turn: wraps
        {0, 1, 1, 524287},                      // below zero: wraps back
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.offset);
        Open("t1mt");
        form->edPosOffset->setText(QString::number(row.offset));
        form->btnWriteZero->click();
        simulator->SetPosition(row.shaft % kTurn, row.shaft / kTurn);
        form->seDelayBetweenReadings->setValue(200);
        form->cbReadEncConstantly->setChecked(true);

        form->btnTarvoSetZero->click();

        EXPECT_EQ(form->lblTarvoZeroStatus->text(),
                  QStringLiteral(
                      "Current zero pos: %1\r\nEncoder pos: %2\r\nNew zero pos: %3\r\nMultiturn preset: 0")
                      .arg(row.offset)
                      .arg(row.reading)
                      .arg(row.newOffset));
        EXPECT_EQ(dialogs.Texts(), QStringList({"Save data done!"}));
        EXPECT_EQ(form->edPosOffset->text(), QString::number(row.newOffset));
        EXPECT_EQ(form->edMultiturnPreset->text(), QStringLiteral("0"));
        EXPECT_EQ(Saved().positionOffset, uint32_t(row.newOffset));
        EXPECT_TRUE(form->cbReadEncConstantly->isChecked());
        EXPECT_TRUE(form->LogLines().isEmpty()) << form->LogLines().join('|').toStdString();
        StopReading();

        // Two counts past the new zero, on turn 0, and so after a power cycle too.
        for (int cycle = 0; cycle < 2; ++cycle) {
            form->btnReadEncoderClick();
            EXPECT_EQ(Shared::EncoderPosition.ST_value, 2u);
            EXPECT_EQ(Shared::EncoderPosition.MT_value, 0);
            EXPECT_EQ(form->lblPosST->text(), QStringLiteral("2"));
            PowerCycle();
        }
    }
}

TEST_F(ConfigurationPage, SetZeroHereRefusesAFaultyReadingAndWritesNothing) {
    // Type 6 on the Initialization page: no temperature read and no refresh, so the position read
    // is the preset's first command. The lost reply leaves the previous frame's CRC flag set.
    Connect("t6");
    simulator->BadCrcNext(1);
    form->btnReadEncoderClick();
    ASSERT_TRUE(Shared::EncoderPosition.ErrCRC);
    simulator->SilenceNext(1);
    simulator->ClearReceived();
    form->Memo1->clear();
    form->btnTarvoSetZero->click();
    form->initTimer->stop(); // the lost reply restarted the adapter search
    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_EQ(dialogs.shown[0].text,
              QStringLiteral("Unable to set zero position. Errors encountered: CRC, Comm, "));
    EXPECT_EQ(form->lblTarvoZeroStatus->text(), QStringLiteral("..."));
    EXPECT_TRUE(form->cbReadEncConstantly->isChecked()) << "reading starts again";
    StopReading();
    EXPECT_TRUE(ActionCommands().isEmpty()) << Commands().join(' ').toStdString();

    // An encoder in error is no base for a zero either.
    Open("t1");
    simulator->SetErrorBit(true);
    form->btnTarvoSetZero->click();
    StopReading();
    EXPECT_EQ(dialogs.Texts(), QStringList({"Unable to set zero position. Errors encountered: Error bit, "}));
    for (const QString& c : Commands())
        EXPECT_FALSE(c == QStringLiteral("x") || c.startsWith(QStringLiteral("W:"))) << c.toStdString();
    EXPECT_EQ(Ram().positionOffset, 0u);
}

TEST_F(ConfigurationPage, SetZeroHereBeforeIdentificationRefusesAndSendsNothing) {
    Connect("t1", "", false);
    form->btnTarvoSetZeroClick();
    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_EQ(dialogs.shown[0].kind, QStringLiteral("warning"));
    EXPECT_TRUE(dialogs.shown[0].text.startsWith(QStringLiteral("Unable to set zero position")));
    EXPECT_TRUE(Commands().isEmpty()) << Commands().join(' ').toStdString();
    EXPECT_FALSE(form->cbReadEncConstantly->isChecked());
    EXPECT_EQ(form->lblTarvoZeroStatus->text(), QStringLiteral("..."));
}

TEST_F(ConfigurationPage, SetZeroHereStopsWhenTheCurrentOffsetCannotBeRead) {
    Open("t6");
    form->edPosOffset->setText(QStringLiteral("5000")); // stale: not what the encoder holds
    simulator->SetPosition(1000);
    simulator->SilenceNext(1); // the refresh's offset read gets no reply
    form->btnTarvoSetZero->click();
    ASSERT_EQ(Commands().value(0), Read(Layout::RegPositionOffset, 4)) << Commands().join(' ').toStdString();
    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_EQ(dialogs.shown[0].kind, QStringLiteral("warning"));
    EXPECT_EQ(dialogs.shown[0].text, QStringLiteral("Unable to set zero position. The current zero position "
                                                    "could not be read from the encoder."));
    EXPECT_EQ(form->LogLines().value(0), QStringLiteral("USB Comm Err -1"));
    EXPECT_EQ(form->lblTarvoZeroStatus->text(), QStringLiteral("..."));
    EXPECT_TRUE(form->cbReadEncConstantly->isChecked());
    StopReading();
    form->initTimer->stop();
    for (const QString& c : Commands())
        EXPECT_FALSE(c == QStringLiteral("x") || c.startsWith(QStringLiteral("W:"))) << c.toStdString();
    EXPECT_EQ(Saved().positionOffset, 0u);
    EXPECT_EQ(Ram().positionOffset, 0u);
}

TEST_F(ConfigurationPage, SetZeroHereReportsARefusedOffsetWriteAndGoesOn) {
    Open("t1mt");
    simulator->SetPosition(1);
    // The window takes the turn for 2^21 counts where the encoder has 2^19: the new zero, one
    // below 0 and so at the top of the larger turn, is out of the encoder's range.
    K310_SPI_Velcor::SingleTurnCounts = 1 << 21;
    form->btnTarvoSetZero->click();
    StopReading();
    const QStringList texts = dialogs.Texts();
    ASSERT_EQ(texts.size(), 2) << texts.join('|').toStdString();
    EXPECT_TRUE(texts[0].startsWith(
        QStringLiteral(
            "Error writing new zero position. Errors encountered: Parameter out of range\r\nsCmd: ") +
        Write(Layout::RegPositionOffset, 4, 2097151)))
        << texts[0].toStdString();
    EXPECT_EQ(texts[1], QStringLiteral("Save data done!"));
    EXPECT_EQ(form->lblTarvoZeroStatus->text(),
              QStringLiteral("Current zero pos: 0\r\nEncoder pos: 1\r\nNew zero "
                             "pos: 2097151\r\nMultiturn preset: 0"));
    EXPECT_EQ(Occurrences(Write(Layout::RegCommand, 1, Layout::CMD_SAVE_NVRAM)), 1);
    EXPECT_EQ(Occurrences(Write(Layout::RegMultiturnPreset, 4, 0)), 2);
    EXPECT_EQ(form->edPosOffset->text(), QStringLiteral("0")) << "the save's refresh shows the offset kept";
}

} // namespace
