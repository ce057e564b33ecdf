// Supply, SPI clock and GAME mode against a scripted adapter on a real pseudo-terminal.
#include "AppTestSupport.h"
#include "ChartView.h"
#include "K310_BiSS_bidirectional.h"
#include "ScriptedPeer.h"

#include <gtest/gtest.h>

using app_testing::RecordingDialogs;
using testing_support::Exchange;
using testing_support::ScriptedPeer;

namespace {

class Supply : public app_testing::WindowOnScriptedPort {};

TEST_F(Supply, OnSendsVoltageThenOnThenReadsTheStatus) {
    struct Row {
        const char* name;
        int powerSel;
        std::string voltageCommand, voltageReply, onReply;
        QStringList messages;
    };
    const Row rows[] = {
        {"5 V, all well", 1, "V5", "V5 OK\r", "ON\r", {}},
        {"3.3 V, all well", 0, "V3", "V3\r", "ON\r", {}},
        {"voltage refused",
         1,
         "V5",
         "ERROR 3\r",
         "ON\r",
         {"Setting power supply (V5) not successfull! (ERROR 3)"}},
        {"supply refused", 0, "V3", "V3\r", "OFF\r", {"Setting power supply (n) not successfull! (OFF)"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        dialogs.shown.clear();
        form->Memo1->clear();
        form->SetPowerSelIndex(row.powerSel);
        form->SeriesGreen->addData(1, 2);
        peer.Add(row.voltageCommand, row.voltageReply);
        peer.Add("n", row.onReply);
        peer.Add("e", "  5.02 V  48 mA\r\n");

        form->btnPowerONClick();

        EXPECT_TRUE(peer.WaitIdle());
        EXPECT_EQ(peer.Unexpected(), "");
        EXPECT_EQ(dialogs.Texts(), row.messages);
        const QString onLine = QString::fromStdString(row.onReply).trimmed();
        EXPECT_EQ(form->LogLines(), QStringList({onLine, "5.02 V  48 mA"}));
        EXPECT_EQ(form->lblPower->text(), QStringLiteral("5.02 V  48 mA"));
        EXPECT_EQ(K310_BiSS_bidirectional::EncoderPosition.ErrComm, 0);
        EXPECT_TRUE(form->SeriesGreen->data()->isEmpty()) << "the curves start anew with the supply";
        EXPECT_FALSE(form->initTimer->isActive());
    }
    EXPECT_EQ(peer.ReceivedText(), "V5neV3neV5neV3ne");
}

TEST_F(Supply, OnWithTheAdapterGoneRestartsTheSearchAndSendsNothingMore) {
    peer.HangUp();
    form->Memo1->appendPlainText(QStringLiteral("earlier line"));
    form->btnPowerONClick();
    EXPECT_LT(K310_BiSS_bidirectional::EncoderPosition.ErrComm, 0);
    EXPECT_TRUE(form->initTimer->isActive());
    EXPECT_TRUE(dialogs.shown.empty());
    EXPECT_EQ(form->LogLines(), QStringList({"earlier line"}));
}

// A successful OFF starts a fresh log with the supply's new state, which the label shows too; a
// failed one keeps the log, says why there and in a warning, and a lost adapter is searched for.
TEST_F(Supply, OffShowsTheNewSupplyStateOrWarnsThatItFailed) {
    struct Row {
        const char* name;
        std::vector<Exchange> script;
        QStringList log; // after "earlier line"; a line ending in '*' is compared by its start
        QString label;   // lblPower afterwards
        bool warned, searching;
    };
    const QString failed = QStringLiteral("Setting power supply (f) not successfull! (");
    const Row rows[] = {
        {"switched off",
         {{"f", {{"OFF\r"}}}, {"e", {{" Supply 5.0 V OFF, 0 mA \r"}}}},
         {"Supply 5.0 V OFF, 0 mA"},
         "Supply 5.0 V OFF, 0 mA",
         false,
         false},
        {"refused",
         {{"f", {{"ERROR command failed\r"}}}},
         {"earlier line", failed + "ERROR command failed)"},
         "Supply 5.0 V ON, 48 mA",
         true,
         false},
        {"refused in lower case",
         {{"f", {{"error 7\r"}}}},
         {"earlier line", failed + "error 7)"},
         "Supply 5.0 V ON, 48 mA",
         true,
         false},
        // A time-out is a negative result too: the adapter is searched for again.
        {"unanswered",
         {{"f", {}}},
         {"earlier line", failed + "USB Comm Err -1)"},
         "Supply 5.0 V ON, 48 mA",
         true,
         true},
        // Off, but the state is not known: the log says why, the label shows no state.
        {"off, status unanswered", {{"f", {{"OFF\r"}}}, {"e", {}}}, {"USB Comm Err -1"}, "", false, true},
        // Last: the peer is gone after it.
        {"unplugged", {}, {"earlier line", failed + "USB Comm Err -*"}, "Supply 5.0 V ON, 48 mA", true, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        dialogs.shown.clear();
        form->Memo1->clear();
        form->AddLog(QStringLiteral("earlier line"));
        form->lblPower->setText(QStringLiteral("Supply 5.0 V ON, 48 mA"));
        for (const auto& e : row.script)
            peer.Add(e);
        if (row.name == std::string("unplugged")) peer.HangUp();
        form->initTimer->stop();

        form->btnPowerOFFClick();

        EXPECT_TRUE(peer.WaitIdle());
        EXPECT_EQ(peer.Unexpected(), "");
        const QStringList log = form->LogLines();
        ASSERT_EQ(log.size(), row.log.size()) << log.join('|').toStdString();
        for (qsizetype i = 0; i < log.size(); ++i) {
            if (row.log[i].endsWith('*'))
                EXPECT_TRUE(log[i].startsWith(row.log[i].chopped(1))) << log[i].toStdString();
            else
                EXPECT_EQ(log[i], row.log[i]);
        }
        EXPECT_EQ(form->lblPower->text(), row.label);
        if (row.warned) {
            ASSERT_EQ(dialogs.shown.size(), 1u);
            EXPECT_EQ(dialogs.shown[0].kind, QStringLiteral("warning"));
            EXPECT_EQ(dialogs.shown[0].text, log.last());
        } else {
            EXPECT_TRUE(dialogs.shown.empty());
        }
        EXPECT_EQ(form->initTimer->isActive(), row.searching);
    }
    EXPECT_LT(K310_BiSS_bidirectional::EncoderPosition.ErrComm, 0);
}

TEST_F(Supply, ClockSendsTheStepAndLogsTheAdaptersClock) {
    struct Row {
        const char* name;
        int index;
        std::vector<Exchange> script;
        QStringList log, messages;
    };
    const Row rows[] = {
        {"12 MHz", 7, {{"M8", {{"OK\r"}}}, {"m", {{" 12 MHz \r"}}}}, {"Frequency: 12 MHz"}, {}},
        {"94 kHz", 0, {{"M1", {{"OK\r"}}}, {"m", {{"94 kHz\r"}}}}, {"Frequency: 94 kHz"}, {}},
        // A partial reply to the step is still a reply: no line, no message.
        {"step times out after a partial reply", 4, {{"M5", {{"O"}}}}, {}, {}},
        {"step silent", 4, {{"M5", {}}}, {}, {"Setting frequency 5 not successfull."}},
        {"clock silent", 2, {{"M3", {{"OK\r"}}}, {"m", {}}}, {}, {"Setting frequency 3 not successfull."}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        dialogs.shown.clear();
        form->Memo1->clear();
        for (const auto& e : row.script)
            peer.Add(e);
        form->cmbFreqSPI->setCurrentIndex(row.index);
        form->cmbFreqSPIChange();
        EXPECT_TRUE(peer.WaitIdle());
        EXPECT_EQ(peer.Unexpected(), "");
        EXPECT_EQ(form->LogLines(), row.log);
        EXPECT_EQ(dialogs.Texts(), row.messages);
        EXPECT_FALSE(form->initTimer->isActive()) << "the clock handler never restarts the search";
    }
}

TEST_F(Supply, ClockWithoutPortOnlyShowsTheMessage) {
    form.reset();
    app_testing::ResetProtocolState(); // closes the port: PortHandle is -1
    form = std::make_unique<TMainForm>(app_testing::TestOptions(dialogs));
    form->initTimer->stop();
    form->cmbFreqSPI->setCurrentIndex(7);
    form->cmbFreqSPIChange();
    EXPECT_EQ(dialogs.Texts(), QStringList({"Setting frequency 8 not successfull."}));
    EXPECT_TRUE(form->LogLines().isEmpty());
    EXPECT_FALSE(form->initTimer->isActive());
}

TEST_F(Supply, GameModeChoosesSupplyAndDetailedStatus) {
    struct Row {
        int adapterVersion;
        QStringList messages;
    };
    for (const Row& row :
         {Row{108, {"Too old interface version! Use K310-7K v1.09 or newer!"}}, Row{109, {}}}) {
        SCOPED_TRACE(row.adapterVersion);
        dialogs.shown.clear();
        form->K310VerzijaFW = row.adapterVersion;
        form->cbDetailedStatus->setChecked(true);
        form->SetPowerSelIndex(1);

        form->cbVelcorZBGAME->setChecked(true); // from code, as a click: the handler runs
        EXPECT_EQ(dialogs.Texts(), row.messages);
        EXPECT_EQ(form->PowerSelIndex(), 0) << "3.3 V, also after the warning";
        EXPECT_FALSE(form->cbDetailedStatus->isChecked());
        EXPECT_FALSE(form->cbDetailedStatus->isEnabled());

        form->cbVelcorZBGAME->setChecked(false);
        EXPECT_EQ(form->PowerSelIndex(), 1);
        EXPECT_TRUE(form->cbDetailedStatus->isChecked());
        EXPECT_TRUE(form->cbDetailedStatus->isEnabled());
        EXPECT_EQ(dialogs.Texts(), row.messages) << "unticking warns about nothing";
    }
    EXPECT_EQ(peer.ReceivedText(), "") << "the mode sends nothing by itself";
}

} // namespace
