// The Configuration page in the window, offscreen with real widgets, against the simulated
// adapter and encoder: the refresh, the register writes, the multiturn preset, saving, factory
// reset and "Set zero here", configuration profiles saved and loaded through the file dialog,
// and how the saving actions meet continuous reading.
#include "ConfigProfile.h"
#include "K310_BiSS_bidirectional.h"
#include "K310_SPI_Velcor.h"
#include "SimWindow.h"
#include "Tarvo_konstante.h"

#include <QTimer>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>

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
    // The next command the simulated adapter receives after a refresh has filled the arc edit is
    // answered with an error line: for "Set zero here" on an encoder with the arc, that is the
    // reading that follows its refresh.
    void FailTheCommandAfterTheRefresh() {
        form->edMTerrArc->setText(QStringLiteral("not read yet"));
        auto once = std::make_shared<QMetaObject::Connection>();
        *once = QObject::connect(form->edMTerrArc, &QLineEdit::textChanged, form.get(), [this, once] {
            QObject::disconnect(*once);
            simulator->ErrorReplyNext(1);
        });
    }
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

TEST_F(ConfigurationPage, WritesSendTheEditAsItsValue) {
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
    EXPECT_EQ(ram.positionOffset, 1000u);
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

TEST_F(ConfigurationPage, ATypoIsRefusedWithTheRangeCheckAndWritesNothing) {
    Open("t1mt");
    simulator->SetPosition(100, 5);
    form->btnReadEncoderClick();
    ASSERT_EQ(Shared::EncoderPosition.MT_value, 5);
    struct Row {
        QLineEdit* edit;
        QPushButton* button;
        const char* what;
        const char* text;
    };
    const Row rows[] = {
        {form->edPosOffset, form->btnWriteZero, "Position offset", "abc"},
        {form->edPosOffset, form->btnWriteZero, "Position offset", ""},
        {form->edPosOffset, form->btnWriteZero, "Position offset", "12O"},
        {form->edFilterPosVal, form->btnWriteFilter, "Position filter", "1.5"},
        {form->edFilterPosVal, form->btnWriteFilter, "Position filter", "   "},
        {form->edMTerrArc, form->btnMTerrArcWrite, "Multiturn error arc", "3O"},
        {form->edMTerrArc, form->btnMTerrArcWrite, "Multiturn error arc", "0x1E"},
        {form->edMultiturnPreset, form->btnApplyMT, "Multiturn preset", "abc"},
        {form->edMultiturnPreset, form->btnApplyMT, "Multiturn preset", ""},
        {form->edMultiturnPreset, form->btnApplyMT, "Multiturn preset", "1 000"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.what) + " \"" + row.text + "\"");
        row.edit->setText(QString::fromLatin1(row.text));
        simulator->ClearReceived();
        dialogs.shown.clear();
        row.button->click();
        ASSERT_EQ(dialogs.shown.size(), 1u);
        EXPECT_EQ(dialogs.shown[0].kind, QStringLiteral("error"));
        EXPECT_TRUE(dialogs.shown[0].text.startsWith(
            QStringLiteral("Range check error: ") + QString::fromLatin1(row.what) + " \"" +
            QString::fromLatin1(row.text) + "\" is not a whole number"))
            << dialogs.shown[0].text.toStdString();
        EXPECT_TRUE(dialogs.shown[0].text.endsWith(QStringLiteral("Nothing was written.")));
        // Apply MT reads the sensor temperature of this type first; nothing is written either way.
        if (row.button == form->btnApplyMT) {
            EXPECT_EQ(Commands(), QStringList({Read(Layout::RegSensorTemperature, 2)}));
        } else {
            EXPECT_TRUE(Commands().isEmpty()) << Commands().join(' ').toStdString();
        }
    }
    EXPECT_TRUE(form->LogLines().isEmpty()) << form->LogLines().join('|').toStdString();
    const sim::EncoderConfig ram = Ram();
    EXPECT_EQ(ram.positionOffset, 0u);
    EXPECT_EQ(ram.positionFilter, 2u);
    EXPECT_EQ(ram.mtErrThreshold, 45u);
    form->btnReadEncoderClick();
    EXPECT_EQ(Shared::EncoderPosition.MT_value, 5) << "the multiturn counter was not preset";
}

// The refresh shows the 4-byte registers as unsigned numbers, so the edits take every such number
// back as it is; the encoder's answer decides (this one holds no offset beyond one turn and no
// filter above 255). What no register holds is refused before anything is sent.
TEST_F(ConfigurationPage, OffsetAndFilterTakeTheRegistersWholeUnsignedRange) {
    Open("t1");
    struct Row {
        QLineEdit* edit;
        QPushButton* button;
        const char* text;
        uint32_t address;
        std::optional<uint32_t> sent; // empty: refused
    };
    const Row rows[] = {
        {form->edPosOffset, form->btnWriteZero, "4294967295", Layout::RegPositionOffset, 0xFFFFFFFFu},
        {form->edPosOffset, form->btnWriteZero, "2147483648", Layout::RegPositionOffset, 0x80000000u},
        {form->edFilterPosVal, form->btnWriteFilter, " 3000000000 ", Layout::RegPositionFilter, 3000000000u},
        {form->edPosOffset, form->btnWriteZero, "4294967296", Layout::RegPositionOffset, std::nullopt},
        {form->edFilterPosVal, form->btnWriteFilter, "99999999999999999999", Layout::RegPositionFilter,
         std::nullopt},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.text);
        row.edit->setText(QString::fromLatin1(row.text));
        simulator->ClearReceived();
        form->Memo1->clear();
        dialogs.shown.clear();
        row.button->click();
        if (row.sent) {
            EXPECT_EQ(Commands(), QStringList({"x", Write(row.address, 4, *row.sent)}));
            EXPECT_EQ(form->LogLines().value(0), QStringLiteral("Parameter out of range"));
            EXPECT_TRUE(dialogs.shown.empty()) << dialogs.Texts().join('|').toStdString();
        } else {
            EXPECT_TRUE(Commands().isEmpty()) << Commands().join(' ').toStdString();
            ASSERT_EQ(dialogs.shown.size(), 1u);
            EXPECT_EQ(dialogs.shown[0].kind, QStringLiteral("error"));
            EXPECT_TRUE(
                dialogs.shown[0].text.contains(QStringLiteral(" is out of range: a whole number from 0 to "
                                                              "4294967295 is expected.")))
                << dialogs.shown[0].text.toStdString();
        }
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
         {Row{"70000", 4464, 4464}, Row{"-1", 65535, -1}, Row{" 0 ", 0, 0}, Row{"3", 3, 3}}) {
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

TEST_F(ConfigurationPage, SetZeroHereRefusesAReadingThatFailedOnACompleteReply) {
    // Both replies are complete, so the transaction itself succeeded: only the read's own result
    // tells that the position and the clean flags are still the previous reading's.
    struct Row {
        bool detailed;
        const char* position;
        const char* reason; // UTF-8
    };
    const Row rows[] = {
        {false, "?06:000", "Invalid position frame\r\nsCmd: ?06:000 RCV: ERROR command failed"},
        {true, "d", "Nepravilna dolžina podatkov za ukaz \"d\" (ERROR command failed)!"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.position);
        Open("t6");
        form->cbDetailedStatus->setChecked(row.detailed);
        simulator->SetPosition(1000);
        form->btnReadEncoderClick();
        const auto& position = Shared::EncoderPosition;
        ASSERT_EQ(position.ST_value, 1000u);
        ASSERT_FALSE(position.ErrTimeout || position.ErrBit || position.ErrCRC || position.ErrComm != 0);
        simulator->SetPosition(300000);
        FailTheCommandAfterTheRefresh();
        simulator->ClearReceived();
        form->Memo1->clear();

        form->btnTarvoSetZero->click();

        const QString reason = QString::fromUtf8(row.reason);
        EXPECT_EQ(dialogs.Texts(),
                  QStringList({"Unable to set zero position. Errors encountered: " + reason}));
        EXPECT_EQ(form->LogLines(), reason.split(QStringLiteral("\r\n")));
        EXPECT_EQ(form->lblTarvoZeroStatus->text(), QStringLiteral("..."));
        EXPECT_TRUE(form->cbReadEncConstantly->isChecked()) << "reading starts again";
        StopReading();
        const QStringList commands = Commands();
        EXPECT_EQ(commands.mid(0, 4),
                  QStringList({Read(Layout::RegPositionOffset, 4), Read(Layout::RegPositionFilter, 4),
                               Read(Layout::RegMtErrThreshold, 1), QString::fromLatin1(row.position)}));
        for (const QString& c : commands)
            EXPECT_FALSE(c == QStringLiteral("x") || c.startsWith(QStringLiteral("W:"))) << c.toStdString();
        EXPECT_EQ(Ram().positionOffset, 0u);
        EXPECT_EQ(Saved().positionOffset, 0u);
    }
}

TEST_F(ConfigurationPage, SetZeroHereStopsBeforeTheSaveWhenAWriteIsRefused) {
    struct Row {
        const char* name;
        bool presetRefused;      // else the offset write is refused
        const char* reason;      // the first line of the encoder's refusal
        uint32_t refusedAddress; // the write refused
        uint32_t refusedValue;   //
        const char* stopped;     // the label's last line
    };
    const Row rows[] = {
        {"multiturn preset refused", true, "Write access is locked", Layout::RegMultiturnPreset, 0,
         "Stopped: Multiturn preset failed: Write access is locked"},
        // The window takes the turn for 2^21 counts where the encoder has 2^19: the new zero, one
        // below 0 and so at the top of the larger turn, is out of the encoder's range.
        {"offset refused", false, "Parameter out of range", Layout::RegPositionOffset, 2097151,
         "Stopped: Writing new zero pos 2097151 failed: Parameter out of range"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Open("t1mt");
        simulator->SetPosition(1);
        if (row.presetRefused)
            simulator->SetRegisterError(Layout::RegMultiturnPreset, 0xF6);
        else
            K310_SPI_Velcor::SingleTurnCounts = 1 << 21;

        form->btnTarvoSetZero->click();

        EXPECT_TRUE(form->cbReadEncConstantly->isChecked()) << "reading starts again as after a success";
        StopReading();
        const QString refused = Write(row.refusedAddress, 4, row.refusedValue);
        const QStringList texts = dialogs.Texts();
        ASSERT_EQ(texts.size(), 1) << texts.join('|').toStdString();
        EXPECT_EQ(dialogs.shown[0].kind, QStringLiteral("warning"));
        EXPECT_TRUE(
            texts[0].startsWith(QStringLiteral("Error writing new zero position. Errors encountered: ") +
                                QString::fromLatin1(row.reason) + QStringLiteral("\r\nsCmd: ") + refused))
            << texts[0].toStdString();
        EXPECT_EQ(form->lblTarvoZeroStatus->text(),
                  QStringLiteral("Current zero pos: 0\r\nEncoder pos: 1\r\n") +
                      QString::fromLatin1(row.stopped));
        EXPECT_EQ(form->LogLines().value(0), QString::fromLatin1(row.reason));
        EXPECT_EQ(Occurrences(refused), 1);
        EXPECT_EQ(Occurrences(Write(Layout::RegMultiturnPreset, 4, 0)), 1) << "no second preset";
        EXPECT_EQ(Occurrences(Write(Layout::RegCommand, 1, Layout::CMD_SAVE_NVRAM)), 0) << "nothing saved";
        const QString offsetWrite = Write(Layout::RegPositionOffset, 4, 0).left(16);
        EXPECT_EQ(int(Commands().filter(offsetWrite).size()), row.presetRefused ? 0 : 1)
            << Commands().join(' ').toStdString();
        EXPECT_EQ(Ram().positionOffset, 0u);
        EXPECT_EQ(Saved().positionOffset, 0u);
    }
}

// A connection that finds the multiturn error arc absent disables its controls; the next one
// whose read of the register succeeds enables them again, and the page reads and writes it.
TEST_F(ConfigurationPage, ArcControlsComeBackWithASuccessfulReadOfTheRegister) {
    Connect("t1", "", false);
    form->K310RevizijaFW = 10000; // no temperature read before the plain writes
    const auto arcControls = [&] {
        return QList<QWidget*>{form->lblMTerrArc, form->edMTerrArc, form->btnMTerrArcWrite};
    };
    simulator->SetRegisterError(Layout::RegMtErrThreshold, 0x26);
    form->btnConnectEncoderClick();
    ASSERT_TRUE(form->btnReadEncoder->isEnabled());
    EXPECT_TRUE(form->LogLines().contains(QStringLiteral("  MT_ERR_TRESHOLD\tFalse")));
    for (QWidget* w : arcControls())
        EXPECT_FALSE(w->isEnabled()) << w->objectName().toStdString();
    form->edMTerrArc->setText(QStringLiteral("old"));
    simulator->ClearReceived();
    ShowPage(form->tabConfig);
    EXPECT_EQ(Commands(),
              QStringList({Read(Layout::RegPositionOffset, 4), Read(Layout::RegPositionFilter, 4)}));
    EXPECT_EQ(form->edMTerrArc->text(), QStringLiteral("old"));

    simulator->SetRegisterError(Layout::RegMtErrThreshold, 0);
    form->Memo1->clear();
    form->btnConnectEncoderClick();
    EXPECT_TRUE(form->LogLines().contains(QStringLiteral("  MT_ERR_TRESHOLD\tTrue")));
    for (QWidget* w : arcControls())
        EXPECT_TRUE(w->isEnabled()) << w->objectName().toStdString();
    EXPECT_EQ(form->edMTerrArc->text(), QStringLiteral("45")) << "the connection's refresh read it";

    // A refresh read that fails is logged and leaves the controls as they are.
    simulator->SetRegisterError(Layout::RegMtErrThreshold, 0x96);
    form->Memo1->clear();
    Refresh();
    EXPECT_EQ(form->LogLines().value(0), QStringLiteral("Access denied"));
    EXPECT_TRUE(form->edMTerrArc->isEnabled());
    simulator->SetRegisterError(Layout::RegMtErrThreshold, 0);

    form->edMTerrArc->setText(QStringLiteral("30"));
    simulator->ClearReceived();
    form->btnMTerrArcWrite->click();
    EXPECT_EQ(Commands(), QStringList({"x", Write(Layout::RegMtErrThreshold, 1, 30)}));
    Refresh();
    EXPECT_EQ(form->edMTerrArc->text(), QStringLiteral("30"));
}

#ifndef _WIN32
// Scripted on a pseudo-terminal: Linux only.
// An encoder whose offset register holds what the simulated one refuses to take (2^31 and more),
// scripted exchange by exchange on a real pseudo-terminal: the refresh shows it unsigned, and the
// zero preset takes it as shown.
class ZeroPresetOnScriptedEncoder : public app_testing::WindowOnScriptedPort {
protected:
    static std::string ReadCommand(uint32_t address, int length) {
        return QString::asprintf("R:%04X:%08X", unsigned(length), unsigned(address)).toStdString();
    }
    static std::string WriteCommand(uint32_t address, int length, uint32_t value) {
        return QString::asprintf("W:%04X:%08X:%08X", unsigned(length), unsigned(address), unsigned(value))
            .toStdString();
    }
    static std::string ReadReply(uint32_t value) {
        return QString::asprintf("0x9:0x%08X\r", unsigned(value)).toStdString();
    }
    void Written(uint32_t address, int length, uint32_t value) {
        peer.Add("x", "Reset of Velcor protocol performed\r");
        peer.Add(WriteCommand(address, length, value), "0x9\r");
    }
    void Refreshed(uint32_t offset) {
        peer.Add(ReadCommand(Layout::RegPositionOffset, 4), ReadReply(offset));
        peer.Add(ReadCommand(Layout::RegPositionFilter, 4), ReadReply(2));
    }
    // As a click on the page's tab (PageChange runs).
    void ShowPage(QWidget* page) {
        form->Page->setTabVisible(form->Page->indexOf(page), true);
        form->Page->setCurrentWidget(page);
    }
    void MultiturnPreset() {
        Written(Layout::RegMultiturnPreset, 4, 0);
        Written(Layout::RegCommand, 1, Layout::CMD_APPLY_MT_PRESET);
    }
};

TEST_F(ZeroPresetOnScriptedEncoder, AnOffsetOf2To31OrMoreIsTakenAsTheRegisterHoldsIt) {
    // A 19-bit multiturn encoder of type 2 (no temperature read first), read through the "d"
    // report, which carries the singleturn count 0x00C350 = 50000.
    namespace V = K310_SPI_Velcor;
    V::EncoderType = 2;
    V::SingleTurnBits = 19;
    V::SingleTurnCounts = 1 << 19;
    V::SingleTurnMask = (1u << 19) - 1;
    V::MultiTurnBits = 16;
    Layout::SelectLegacyLayout();
    Layout::HasMtErrThreshold = false;
    form->cbDetailedStatus->setChecked(true);
    form->K310PowerReadCounter = 1000; // no supply reading among the passes
    const std::string report = "S:0000 M:0003 P:00C350\r";

    struct Row {
        uint32_t offset;
        int32_t newZero; // offset + 50000 - 2, within one turn
    };
    for (const Row& row : {Row{0xFFFFFFFFu, 49997}, Row{0x80000000u, 49998}, Row{0x7FFFFFFFu, 49997}}) {
        SCOPED_TRACE(row.offset);
        dialogs.shown.clear();
        ShowPage(form->tabInit);
        Refreshed(row.offset);
        ShowPage(form->tabConfig);
        ASSERT_TRUE(peer.WaitIdle());
        EXPECT_EQ(form->edPosOffset->text(), QString::number(row.offset)) << "shown unsigned";

        Refreshed(row.offset);
        peer.Add("d", report);
        MultiturnPreset();
        Written(Layout::RegPositionOffset, 4, uint32_t(row.newZero));
        Written(Layout::RegCommand, 1, Layout::CMD_SAVE_NVRAM);
        Refreshed(uint32_t(row.newZero));
        MultiturnPreset();
        peer.Add("d", report); // reading starts again
        form->btnTarvoSetZeroClick();
        peer.Add("d", report); // and its last pass when it stops
        form->cbReadEncConstantly->setChecked(false);

        ASSERT_TRUE(peer.WaitIdle());
        EXPECT_EQ(peer.Unexpected(), "");
        EXPECT_EQ(dialogs.Texts(), QStringList({"Save data done!"}));
        EXPECT_EQ(
            form->lblTarvoZeroStatus->text(),
            QStringLiteral("Current zero pos: %1\r\nEncoder pos: 50000\r\nNew zero pos: %2\r\nMultiturn "
                           "preset: 0")
                .arg(row.offset)
                .arg(row.newZero));
        EXPECT_EQ(form->edPosOffset->text(), QString::number(row.newZero));
        EXPECT_TRUE(form->LogLines().isEmpty()) << form->LogLines().join('|').toStdString();
    }

    // Write Zero sends what the refresh showed, all 32 bits of it.
    Refreshed(0xFFFFFFFFu);
    ShowPage(form->tabInit);
    ShowPage(form->tabConfig);
    Written(Layout::RegPositionOffset, 4, 0xFFFFFFFFu);
    form->btnWriteZero->click();
    ASSERT_TRUE(peer.WaitIdle());
    EXPECT_EQ(peer.Unexpected(), "");
}

#endif // _WIN32

} // namespace

// ---------------------------------------------------------------- configuration profiles

class ConfigurationProfiles : public ConfigurationPage {
protected:
    void SetUp() override {
        ConfigurationPage::SetUp();
        folder = std::filesystem::temp_directory_path() /
                 ("tarvo-app-profile-" +
                  std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        std::filesystem::remove_all(folder);
        std::filesystem::create_directories(folder);
    }
    void TearDown() override {
        std::filesystem::remove_all(folder);
        ConfigurationPage::TearDown();
    }
    QString File(const char* name) const { return QString::fromStdString((folder / name).string()); }
    void WriteText(const QString& file, const std::string& text) const {
        std::ofstream(file.toStdString(), std::ios::binary) << text;
    }
    // The five configurable registers as the simulated encoder holds them now.
    std::vector<std::pair<std::string, uint32_t>> EncoderRegisters() const {
        return {{"POSITION_OFFSET", Peek(Layout::RegPositionOffset, 4)},
                {"POSITION_FILTER", Peek(Layout::RegPositionFilter, 4)},
                {"MT_ERR_TRESHOLD", Peek(Layout::RegMtErrThreshold, 1)},
                {"SELF_CAL_ARC", Peek(Layout::RegSelfCalArc, 2)},
                {"SELF_CAL_TIMEOUT", Peek(Layout::RegSelfCalTimeout, 1)}};
    }
    bool Logged(const QString& part) const { return form->Memo1->toPlainText().contains(part); }
    std::filesystem::path folder;
};

TEST_F(ConfigurationProfiles, SaveProfileWritesWhatTheEncoderHolds) {
    Open("t1");
    form->edFilterPosVal->setText(QStringLiteral("7"));
    form->btnWriteFilter->click();
    form->edPosOffset->setText(QStringLiteral("1234"));
    form->btnWriteZero->click();
    form->cbReadEncConstantly->setChecked(true);
    const QString file = File("saved.json");
    dialogs.fileAnswers << file;
    form->btnSaveProfile->click();
    EXPECT_EQ(dialogs.fileDialogs, QStringList{QStringLiteral("Save profile")});
    Procedures::TConfigProfile saved;
    std::string error;
    ASSERT_TRUE(Procedures::ReadProfileFile(file.toStdString(), saved, error)) << error;
    EXPECT_EQ(saved.EncoderType, 1);
    EXPECT_EQ(saved.PartNumberPattern, "VK766-0A18B00010");
    EXPECT_EQ(saved.Registers, EncoderRegisters());
    EXPECT_EQ(saved.Registers[1].second, 7u);
    EXPECT_EQ(dialogs.Texts(), QStringList{QStringLiteral("Profile saved to ") + file});
    EXPECT_TRUE(Logged(QStringLiteral("Profile saved to ") + file));
    EXPECT_TRUE(form->cbReadEncConstantly->isChecked()) << "reading was on, so it runs again";
    StopReading();

    // Cancelling the dialog does nothing at all.
    simulator->ClearReceived();
    dialogs.shown.clear();
    form->btnSaveProfile->click();
    EXPECT_TRUE(ActionCommands().isEmpty()) << ActionCommands().join(' ').toStdString();
    EXPECT_TRUE(dialogs.shown.empty());
}

TEST_F(ConfigurationProfiles, LoadProfileAppliesItAndTheEditsShowTheNewValues) {
    Open("t1");
    const QString file = File("load.json");
    WriteText(file, R"({"format": 1, "profile": "line 3",
        "encoder": {"type": 1, "layout": "legacy", "part_number": "VK766-*"},
        "registers": {"POSITION_OFFSET": 4321, "POSITION_FILTER": 9, "MT_ERR_TRESHOLD": 12}})");
    const sim::EncoderConfig saved = Saved();
    dialogs.fileAnswers << file;
    form->btnLoadProfile->click();
    EXPECT_EQ(dialogs.fileDialogs, QStringList{QStringLiteral("Load profile")});
    EXPECT_EQ(Ram().positionOffset, 4321u);
    EXPECT_EQ(Ram().positionFilter, 9u);
    EXPECT_EQ(Ram().mtErrThreshold, 12u);
    // The page's refresh after the writes.
    EXPECT_EQ(form->edPosOffset->text(), QStringLiteral("4321"));
    EXPECT_EQ(form->edFilterPosVal->text(), QStringLiteral("9"));
    EXPECT_EQ(form->edMTerrArc->text(), QStringLiteral("12"));
    EXPECT_EQ(dialogs.Texts(),
              QStringList{
                  QStringLiteral("Profile \"line 3\" applied. Save to NVRAM keeps it after a power cycle.")});
    EXPECT_EQ(Saved().positionFilter, saved.positionFilter) << "loading does not save to NVRAM";
    const QStringList action = ActionCommands();
    EXPECT_TRUE(action.contains(Write(Layout::RegPositionFilter, 4, 9))) << action.join(' ').toStdString();
    EXPECT_FALSE(form->cbReadEncConstantly->isChecked()) << "reading was off and stays off";
}

TEST_F(ConfigurationProfiles, ABadOrUnfittingProfileShowsTheErrorAndWritesNothing) {
    struct Row {
        const char* what;
        std::string text;
        QString error;
    };
    const std::vector<Row> rows = {
        {"a bad value", R"({"format": 1, "profile": "p", "encoder": {"type": 1, "layout": "legacy",
            "part_number": "*"}, "registers": {"POSITION_FILTER": "7a"}})",
         QStringLiteral(": registers.POSITION_FILTER: expected an integer 0..4294967295, got \"7a\"")},
        {"not JSON", "{\"format\": 1", QStringLiteral(": not JSON (line 1, column 13)")},
        {"another type", R"({"format": 1, "profile": "p", "encoder": {"type": 2, "layout": "legacy",
            "part_number": "*"}, "registers": {"POSITION_FILTER": 8}})",
         QStringLiteral("the profile does not fit: the encoder is type 1, the profile is for type 2")},
    };
    Open("t1");
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        const QString file = File("bad.json");
        WriteText(file, row.text);
        const sim::EncoderConfig ram = Ram();
        dialogs.shown.clear();
        form->Memo1->clear();
        simulator->ClearReceived();
        dialogs.fileAnswers << file;
        form->btnLoadProfile->click();
        ASSERT_EQ(dialogs.shown.size(), 1u);
        EXPECT_EQ(dialogs.shown[0].kind, QStringLiteral("error"));
        EXPECT_TRUE(dialogs.shown[0].text.startsWith(QStringLiteral("Load profile failed: ")))
            << dialogs.shown[0].text.toStdString();
        EXPECT_TRUE(dialogs.shown[0].text.contains(row.error)) << dialogs.shown[0].text.toStdString();
        EXPECT_TRUE(Logged(row.error)) << form->Memo1->toPlainText().toStdString();
        for (const QString& c : Commands())
            EXPECT_FALSE(c.startsWith(QStringLiteral("W:"))) << c.toStdString();
        EXPECT_EQ(Ram().positionFilter, ram.positionFilter);
    }
}
