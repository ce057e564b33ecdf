// The Self-Calibration page offscreen: the start's numbers, the status panels of both status
// layouts, the wait's completion test, and whole runs against the simulated encoder.
#include "AppTestSupport.h"
#include "K310_BiSS_bidirectional.h"
#include "K310_SPI_Velcor.h"
#include "Orodja.h"
#include "PanelColour.h"
#include "SimWindow.h"
#include "Tarvo_konstante.h"

#include <QRegularExpression>
#include <QTimer>

#include <gtest/gtest.h>

#include <map>

namespace {

namespace Shared = K310_BiSS_bidirectional;
namespace Layout = Tarvo_konstante;
using SimWindow = app_testing::SimulatedWindow;

const QColor kGrey(0x80, 0x80, 0x80);
const QColor kRed(0xFF, 0x00, 0x00);
const QColor kOrange(0xFF, 0xAA, 0x00);
const QColor kLime(0x00, 0xFF, 0x00);
const QColor kGreen(0x00, 0x80, 0x00);

// Expected colours by panel name; every panel not named must be grey.
using Colours = std::map<std::string, QColor>;

void ExpectPanels(TMainForm& form, const Colours& expected, const std::string& context) {
    for (QWidget* panel : form.SelfCalStatusPanels()) {
        const std::string name = panel->objectName().toStdString();
        const auto it = expected.find(name);
        EXPECT_EQ(PanelColour(panel), it == expected.end() ? kGrey : it->second) << context << ": " << name;
    }
}

QStringList Writes(const QStringList& commands) {
    return commands.filter(QRegularExpression(QStringLiteral("^W:")));
}

// ---------------------------------------------------------------- start

class SelfCalStart : public SimWindow {};

TEST_F(SelfCalStart, TheWaitLastsTheTimeoutAndAFifthInHalfSeconds) {
    // The calibration ends at once, so every start finds the encoder answering.
    Connect("t6", ",selfcal-seconds=0");
    EXPECT_EQ(form->tmrSelfCalWait->interval(), 500);
    EXPECT_EQ(form->pbSelfCalProgress->maximum(), 23);
    struct Row {
        const char* text;
        int steps;
        const char* shown; // the edit afterwards
        int written;       // SELF_CAL_TIMEOUT
    };
    const Row rows[] = {
        {"40", 96, "40", 40},  {"1", 2, "1", 1},    {"10", 24, "10", 10},
        {"25", 60, "25", 25},  {"0", 96, "40", 40}, {"41", 96, "40", 40},
        {"255", 96, "40", 40}, {"", 24, "", 10},    {"abc", 24, "abc", 10},
    };
    for (const Row& row : rows) {
        const std::string context = std::string("timeout \"") + row.text + "\"";
        form->edSelfCalTimeout->setText(QString::fromLatin1(row.text));
        form->pbSelfCalProgress->setValue(5);
        simulator->ClearReceived();
        form->btnSelfCalStart->click();
        EXPECT_EQ(form->pbSelfCalProgress->maximum(), row.steps) << context;
        EXPECT_EQ(form->pbSelfCalProgress->value(), 0) << context;
        EXPECT_EQ(form->edSelfCalTimeout->text(), QString::fromLatin1(row.shown)) << context;
        EXPECT_TRUE(form->tmrSelfCalWait->isActive()) << context;
        EXPECT_EQ(Writes(Commands()).filter(QStringLiteral("W:0001:000000C6:")),
                  QStringList{QString::asprintf("W:0001:000000C6:%08X", row.written)})
            << context;
        EXPECT_TRUE(dialogs.shown.empty()) << context;
        form->tmrSelfCalWait->stop();
    }
}

TEST_F(SelfCalStart, NumbersOutOfRangeStopBeforeAnyWrite) {
    Connect("t6", ",selfcal-seconds=0");
    struct Row {
        const char* arc;
        const char* timeout;
    };
    const Row rows[] = {{"360", "256"}, {"360", "-1"}, {"65536", "10"}, {"-1", "10"}};
    for (const Row& row : rows) {
        const std::string context = std::string("arc ") + row.arc + ", timeout " + row.timeout;
        form->edSelfCalArc->setText(QString::fromLatin1(row.arc));
        form->edSelfCalTimeout->setText(QString::fromLatin1(row.timeout));
        form->seDelayBetweenReadings->setValue(100);
        form->cbReadEncConstantly->setChecked(true);
        dialogs.shown.clear();
        simulator->ClearReceived();

        form->btnSelfCalStart->click();

        ASSERT_EQ(dialogs.shown.size(), 1u) << context;
        EXPECT_EQ(dialogs.shown[0].kind, QStringLiteral("error")) << context;
        EXPECT_EQ(dialogs.shown[0].text, QStringLiteral("Range check error")) << context;
        EXPECT_TRUE(Writes(Commands()).isEmpty()) << context << ": " << Commands().join(' ').toStdString();
        EXPECT_FALSE(form->tmrSelfCalWait->isActive()) << context;
        EXPECT_FALSE(form->cbReadEncConstantly->isChecked()) << context << ": reading stays off";
        EXPECT_EQ(form->edSelfCalTimeout->text(), QString::fromLatin1(row.timeout)) << context;
    }
}

TEST_F(SelfCalStart, TheArcIsWrittenUnlessZeroOrTheEditIsDisabled) {
    Connect("t6", ",selfcal-seconds=0");
    struct Row {
        const char* text;
        bool enabled;
        int written; // -1: SELF_CAL_ARC not written
    };
    const Row rows[] = {{"", true, 360},        {"abc", true, 360}, {"90", true, 90},
                        {"65535", true, 65535}, {"0", true, -1},    {"90", false, -1}};
    for (const Row& row : rows) {
        const std::string context = std::string("arc \"") + row.text + (row.enabled ? "\"" : "\" disabled");
        form->edSelfCalArc->setText(QString::fromLatin1(row.text));
        form->edSelfCalArc->setEnabled(row.enabled);
        form->edSelfCalTimeout->setText(QStringLiteral("5"));
        simulator->ClearReceived();
        form->btnSelfCalStart->click();
        const QStringList arcWrites = Writes(Commands()).filter(QStringLiteral("W:0002:000000C4:"));
        if (row.written < 0) {
            EXPECT_TRUE(arcWrites.isEmpty()) << context << ": " << arcWrites.join(' ').toStdString();
        } else {
            EXPECT_EQ(arcWrites, QStringList{QString::asprintf("W:0002:000000C4:%08X", row.written)})
                << context;
        }
        // The start command goes out in every case.
        EXPECT_TRUE(Writes(Commands()).contains(QStringLiteral("W:0001:000000BD:00000041"))) << context;
        form->tmrSelfCalWait->stop();
    }
}

// A refused arc or timeout would leave the encoder calibrating over values nobody chose: the
// reason is logged and the start command is never sent.
TEST_F(SelfCalStart, ARefusedArcOrTimeoutIsLoggedAndNothingStarts) {
    Connect("t6", ",selfcal-seconds=0");
    struct Row {
        const char* name;
        uint32_t address;
        const char* arc;
        QStringList log;
    };
    const Row rows[] = {
        {"arc",
         Layout::RegSelfCalArc,
         "720",
         {"SELF_CAL_ARC not written, self-calibration not started: Parameter out of range",
          "sCmd: W:0002:000000C4:000002D0 RCV: 0x56"}},
        {"timeout",
         Layout::RegSelfCalTimeout,
         "180",
         {"SELF_CAL_TIMEOUT not written, self-calibration not started: Parameter out of range",
          "sCmd: W:0001:000000C6:00000005 RCV: 0x56"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        simulator->SetRegisterError(row.address, 0x56);
        form->edSelfCalArc->setText(QString::fromLatin1(row.arc));
        form->edSelfCalTimeout->setText(QStringLiteral("5"));
        form->seDelayBetweenReadings->setValue(100);
        form->cbReadEncConstantly->setChecked(true);
        form->Memo1->clear();
        simulator->ClearReceived();

        form->btnSelfCalStart->click();

        EXPECT_EQ(form->LogLines(), row.log);
        EXPECT_FALSE(Writes(Commands()).contains(QStringLiteral("W:0001:000000BD:00000041")))
            << Commands().join(' ').toStdString();
        EXPECT_FALSE(form->tmrSelfCalWait->isActive());
        EXPECT_FALSE(form->cbReadEncConstantly->isChecked())
            << "reading stays off, as after a failed first read";
        EXPECT_TRUE(dialogs.shown.empty());
        bool running = true;
        simulator->Inspect([&](sim::SimDevice& d, double) { running = d.SelfCalRunning(); });
        EXPECT_FALSE(running);
        simulator->SetRegisterError(row.address, 0);
    }
}

TEST_F(SelfCalStart, WithoutTheTimeoutRegisterTheWaitIsTwelveSeconds) {
    Connect("bare", ",selfcal-seconds=0");
    ASSERT_FALSE(Layout::HasSelfCalTimeout);
    ASSERT_FALSE(form->edSelfCalTimeout->isEnabled());
    form->edSelfCalTimeout->setText(QStringLiteral("5"));
    form->btnSelfCalStart->click();
    EXPECT_EQ(form->pbSelfCalProgress->maximum(), 24);
    EXPECT_TRUE(
        Writes(Commands()).filter(QString::asprintf("W:0001:%08X:", Layout::RegSelfCalTimeout)).isEmpty())
        << Commands().join(' ').toStdString();
    EXPECT_TRUE(form->tmrSelfCalWait->isActive());
    form->tmrSelfCalWait->stop();
}

TEST_F(SelfCalStart, AFailedFirstReadEndsTheActionWithReadingOff) {
    Connect("t6");
    form->seDelayBetweenReadings->setValue(100);
    form->cbReadEncConstantly->setChecked(true);
    SetPanelColour(form->pnlAselfCalTimeout, kRed);
    simulator->SetRegisterError(Layout::RegSelfCalStatus, 0x96);
    simulator->ClearReceived();

    form->btnSelfCalStart->click();

    EXPECT_FALSE(form->cbReadEncConstantly->isChecked());
    EXPECT_FALSE(form->tmrSelfCalWait->isActive());
    EXPECT_EQ(PanelColour(form->pnlAselfCalTimeout), kGrey) << "the panels are cleared first";
    EXPECT_TRUE(Writes(Commands()).isEmpty());
    const QStringList log = form->LogLines();
    ASSERT_EQ(log.size(), 2) << log.join('|').toStdString();
    EXPECT_EQ(log[0], QStringLiteral("Access denied"));
    EXPECT_EQ(log[1], QStringLiteral("sCmd: R:0004:000000C0 RCV: 0x96:"));
}

TEST_F(SelfCalStart, AFailedStartCommandIsLoggedAndTheWaitStillRuns) {
    Connect("t6", ",selfcal-seconds=0");
    simulator->SetRegisterError(Layout::RegCommand, 0xF6);
    form->edSelfCalTimeout->setText(QStringLiteral("1"));
    form->btnSelfCalStart->click();
    EXPECT_TRUE(form->tmrSelfCalWait->isActive());
    EXPECT_TRUE(form->LogLines().contains(QStringLiteral("Write access is locked")))
        << form->LogLines().join(QLatin1Char('|')).toStdString();
    EXPECT_TRUE(form->mmSelfCalStatus->toPlainText().startsWith(QStringLiteral("Status: ")));
    EXPECT_EQ(form->mmSelfCalStatus->toPlainText().size(), 8 + 8);
    form->tmrSelfCalWait->stop();
}

// ---------------------------------------------------------------- status panels

#ifndef _WIN32
// Scripted on a pseudo-terminal: Linux only.
// Scripted replies to the four reads of a status read.
class SelfCalStatusPanels : public app_testing::WindowOnScriptedPort {
protected:
    void Script(bool fourBytes, uint32_t status) {
        const uint32_t base = fourBytes ? 0xC0 : 0x52;
        peer.Add(QString::asprintf("R:%04X:%08X", fourBytes ? 4 : 1, base).toStdString(),
                 QString::asprintf("0x9:0x%08X\r", status).toStdString());
        const uint32_t ecc = fourBytes ? 0xC8 : 0x1B, phase = fourBytes ? 0xCA : 0x1D,
                       shift = fourBytes ? 0xCC : 0x1F;
        peer.Add(QString::asprintf("R:0002:%08X", ecc).toStdString(), "0x9:0x0000000C\r");
        peer.Add(QString::asprintf("R:0002:%08X", phase).toStdString(), "0x9:0x0000010E\r");
        peer.Add(QString::asprintf("R:0002:%08X", shift).toStdString(), "0x9:0x0000FFFD\r");
    }
};

TEST_F(SelfCalStatusPanels, EachLayoutLightsItsPanels) {
    struct Row {
        const char* name;
        bool fourBytes;
        uint32_t status;
        uint8_t counterStart;
        bool errBit;
        Colours colours;
        bool full; // progress at its maximum
    };
    const Row rows[] = {
        {"one byte 0x21",
         false,
         0x21,
         0,
         false,
         {{"pnlAselfCalFinished", kGreen},
          {"pnlAselfCalSucessfull", kLime},
          {"pnlAselfCalNoCorrection", kOrange}},
         true},
        {"one byte 0x05",
         false,
         0x05,
         0,
         false,
         {{"pnlAselfCalFinished", kGreen}, {"pnlAselfCalTimeout", kRed}},
         false},
        {"one byte 0x5D",
         false,
         0x5D,
         0,
         false,
         {{"pnlAselfCalFinished", kGreen},
          {"pnlAselfCalTimeout", kRed},
          {"pnlAselfCalOutOfRange", kRed},
          {"pnlAselfCalParamOutOfRange", kRed},
          {"pnlASelfCalUserErrMap", kLime}},
         false},
        {"one byte 0x41, encoder error",
         false,
         0x41,
         0,
         true,
         {{"pnlAselfCalFinished", kGreen}, {"pnlASelfCalUserErrMap", kLime}},
         false},
        {"one byte 0x25, counter unchanged",
         false,
         0x25,
         1,
         false,
         {{"pnlAselfCalTimeout", kRed}, {"pnlAselfCalNoCorrection", kOrange}},
         false},
        {"four bytes 0x00000041", true, 0x41, 0, false, {{"pnlAselfCalFinished", kGreen}}, false},
        {"four bytes 0x00100022",
         true,
         0x00100022,
         1,
         false,
         {{"pnlAselfCalFinished", kGreen},
          {"pnlAselfCalSucessfull", kLime},
          {"pnlAselfCalNoCorrection", kOrange},
          {"pnlASelfCalUserErrMap", kLime}},
         true},
        {"four bytes, every listed bit",
         true,
         0x0030B363,
         3,
         false,
         {{"pnlAselfCalNoCorrection", kOrange},
          {"pnlAselfCalTimeout", kRed},
          {"pnlASelfCalEncoderError", kRed},
          {"pnlASelfCalNumericalErr", kRed},
          {"pnlAselfCalOutOfRange", kRed},
          {"pnlASelfCalRadialDisp", kRed},
          {"pnlASelfCalUserErrMap", kLime},
          {"pnlASelfCalWriteErr", kRed}},
         false},
    };
    for (const Row& row : rows) {
        if (row.fourBytes)
            Layout::SelectNewLayout();
        else
            Layout::SelectLegacyLayout();
        form->SelfCalCounterStart = row.counterStart;
        Shared::EncoderPosition.ErrBit = row.errBit;
        for (QWidget* panel : form->SelfCalStatusPanels())
            SetPanelColour(panel, kGrey);
        form->pbSelfCalProgress->setValue(7);
        Script(row.fourBytes, row.status);

        form->btnSelfCalReadStatus->click();

        ASSERT_TRUE(peer.WaitIdle()) << row.name;
        ExpectPanels(*form, row.colours, row.name);
        EXPECT_EQ(form->pbSelfCalProgress->value(), row.full ? form->pbSelfCalProgress->maximum() : 0)
            << row.name;
        const int digits = row.fourBytes ? 32 : 8;
        EXPECT_EQ(form->mmSelfCalStatus->toPlainText(),
                  QStringLiteral("Status: ") +
                      QString::number(row.status, 2).rightJustified(digits, QLatin1Char('0')) +
                      QStringLiteral("\nEccentricity: 12 um\nEcc phase: 270 deg\nRadial shift: -3 um"))
            << row.name;
        EXPECT_TRUE(form->LogLines().isEmpty()) << row.name;
    }
    EXPECT_EQ(peer.Unexpected(), "");
}

TEST_F(SelfCalStatusPanels, PanelsOfTheOtherLayoutKeepTheirColour) {
    // One-byte status: the four-byte layout's own panels are not touched.
    Layout::SelectLegacyLayout();
    SetPanelColour(form->pnlASelfCalEncoderError, kRed);
    SetPanelColour(form->pnlASelfCalWriteErr, kRed);
    Script(false, 0x01);
    form->btnSelfCalReadStatus->click();
    ASSERT_TRUE(peer.WaitIdle());
    EXPECT_EQ(PanelColour(form->pnlASelfCalEncoderError), kRed);
    EXPECT_EQ(PanelColour(form->pnlASelfCalWriteErr), kRed);

    // And the other way round.
    Layout::SelectNewLayout();
    SetPanelColour(form->pnlAselfCalParamOutOfRange, kRed);
    Script(true, 0x01);
    form->btnSelfCalReadStatus->click();
    ASSERT_TRUE(peer.WaitIdle());
    EXPECT_EQ(PanelColour(form->pnlAselfCalParamOutOfRange), kRed);
    EXPECT_EQ(PanelColour(form->pnlASelfCalEncoderError), kGrey);
}

TEST_F(SelfCalStatusPanels, AFailedReadChangesNothingOnThePage) {
    Layout::SelectLegacyLayout();
    Script(false, 0x21);
    form->btnSelfCalReadStatus->click();
    ASSERT_TRUE(peer.WaitIdle());
    const QString memo = form->mmSelfCalStatus->toPlainText();

    peer.Add("R:0001:00000052", "0x9:0x00000005\r");
    peer.Add("R:0002:0000001B", "ERROR: no answer\r");
    form->btnSelfCalReadStatus->click();
    ASSERT_TRUE(peer.WaitIdle());
    ExpectPanels(*form,
                 {{"pnlAselfCalFinished", kGreen},
                  {"pnlAselfCalSucessfull", kLime},
                  {"pnlAselfCalNoCorrection", kOrange}},
                 "after a failed read");
    EXPECT_EQ(form->mmSelfCalStatus->toPlainText(), memo);
    EXPECT_EQ(form->pbSelfCalProgress->value(), form->pbSelfCalProgress->maximum());
    EXPECT_EQ(form->LogLines(), (QStringList{QStringLiteral("Error"),
                                             QStringLiteral("sCmd: R:0002:0000001B RCV: ERROR:noanswer")}));
}

#endif // _WIN32

// ---------------------------------------------------------------- the wait

class SelfCalWait : public SimWindow {};

TEST_F(SelfCalWait, CompletionNeedsNewResultsUpToBuild9356) {
    Connect("t6");
    ASSERT_TRUE(K310_SPI_Velcor::ReadSelfCalResults());
    const QString now = QString::fromUtf8(K310_SPI_Velcor::SelfCalResultText);
    struct Row {
        uint32_t build;
        bool sameResults;
        bool complete;
    };
    const Row rows[] = {
        {9356, true, false}, {9356, false, true}, {9357, true, true}, {9357, false, true}, {1, true, false}};
    for (const Row& row : rows) {
        Shared::EncoderSignature.Dremo_FWverSVN = row.build;
        form->SelfCalResultStart = row.sameResults ? now : QStringLiteral("Eccentricity: 0 um");
        EXPECT_EQ(form->SelfCalCompleted(), row.complete)
            << row.build << (row.sameResults ? " same" : " new");
    }

    // A read that fails is no completion for either kind, and is not logged.
    simulator->SetRegisterError(Layout::RegEccentricity, 0xE6);
    for (uint32_t build : {9356u, 9357u}) {
        Shared::EncoderSignature.Dremo_FWverSVN = build;
        form->SelfCalResultStart = QString();
        EXPECT_FALSE(form->SelfCalCompleted()) << build;
    }
    EXPECT_TRUE(form->LogLines().isEmpty());
}

TEST_F(SelfCalWait, AStepClearsTheErrorAndTheLastStepEndsTheWaitWithoutTheCompletionTest) {
    Connect("t6", ",selfcal-seconds=60");
    form->edSelfCalTimeout->setText(QStringLiteral("1"));
    form->btnSelfCalStart->click();
    ASSERT_TRUE(form->tmrSelfCalWait->isActive());
    form->tmrSelfCalWait->stop(); // stepped by hand

    // The encoder is busy and answers nothing: no completion, nothing logged.
    simulator->ClearReceived();
    form->tmrSelfCalWaitTimer();
    EXPECT_EQ(form->pbSelfCalProgress->value(), 1);
    EXPECT_TRUE(Shared::LastErrorText.empty());
    EXPECT_FALSE(form->cbReadEncConstantly->isChecked());
    EXPECT_EQ(Commands(), QStringList{QStringLiteral("R:0004:000000C0")});

    // The step that reaches the maximum reads the status once (no completion test before it) and
    // turns reading on.
    form->tmrSelfCalWait->start();
    simulator->ClearReceived();
    form->tmrSelfCalWaitTimer();
    EXPECT_FALSE(form->tmrSelfCalWait->isActive());
    EXPECT_EQ(Commands().first(), QStringLiteral("R:0004:000000C0"));
    EXPECT_FALSE(Commands().mid(1).contains(QStringLiteral("R:0004:000000C0")));
    EXPECT_TRUE(form->cbReadEncConstantly->isChecked());
    EXPECT_GE(PositionReads(), 1);
    form->cbReadEncConstantly->setChecked(false);
    // The status read during the calibration failed: logged, the panels as the start left them.
    EXPECT_EQ(form->LogLines().value(0), QStringLiteral("Error"));
    ExpectPanels(*form, {}, "busy encoder");
}

// A whole run: start, the wait on its timer, the status at the end, reading on again. The
// encoder's time runs ten times as fast and the wait steps every 100 ms, so a run with a 1 s
// timeout takes a fifth of a second; the steps and the decisions are those of the design.
class SelfCalRun : public SimWindow,
                   public ::testing::WithParamInterface<std::tuple<const char*, const char*, Colours>> {};

TEST_P(SelfCalRun, EndsWithThePanelsOfTheEncodersStatus) {
    const auto& [preset, outcome, lit] = GetParam();
    Connect(preset, ",time-scale=10");
    ASSERT_EQ(simulator->Control(std::string("selfcal ") + outcome + " 0.3").rfind("ok", 0), 0u);
    form->tmrSelfCalWait->setInterval(100);
    form->edSelfCalArc->clear();
    form->edSelfCalTimeout->setText(QStringLiteral("1"));
    form->seDelayBetweenReadings->setValue(100);
    form->cbReadEncConstantly->setChecked(true);

    form->btnSelfCalStart->click();
    EXPECT_FALSE(form->cbReadEncConstantly->isChecked());
    ASSERT_TRUE(form->tmrSelfCalWait->isActive());
    ASSERT_TRUE(app_testing::WaitFor([&] { return !form->tmrSelfCalWait->isActive(); }, 3000));

    EXPECT_TRUE(form->cbReadEncConstantly->isChecked()) << "reading runs again";
    form->cbReadEncConstantly->setChecked(false);
    bool running = true;
    simulator->Inspect([&](sim::SimDevice& d, double) { running = d.SelfCalRunning(); });
    EXPECT_FALSE(running);

    const uint32_t status = Peek(Layout::RegSelfCalStatus, Layout::LenSelfCalStatus);
    EXPECT_EQ(status & 3, 1u) << "the encoder counted one calibration";
    EXPECT_EQ(form->mmSelfCalStatus->toPlainText().section('\n', 0, 0),
              QStringLiteral("Status: ") +
                  QString::fromLatin1(Orodja::ToBinaryText(8 * Layout::LenSelfCalStatus, status)));
    ExpectPanels(*form, lit, std::string(preset) + " " + outcome);
    EXPECT_EQ(form->pbSelfCalProgress->value(),
              lit.count("pnlAselfCalSucessfull") ? form->pbSelfCalProgress->maximum() : 0);
    EXPECT_TRUE(form->LogLines().isEmpty()) << form->LogLines().join('|').toStdString();
}

const Colours kDone{{"pnlAselfCalFinished", kGreen}};
Colours With(Colours c, std::initializer_list<std::pair<const std::string, QColor>> more) {
    c.insert(more);
    return c;
}
const Colours kGood = With(kDone, {{"pnlAselfCalSucessfull", kLime}});

INSTANTIATE_TEST_SUITE_P(
    OneByteStatus, SelfCalRun,
    ::testing::Values(std::make_tuple("t1", "success", With(kGood, {{"pnlASelfCalUserErrMap", kLime}})),
                      std::make_tuple("t1", "no-correction",
                                      With(kGood, {{"pnlAselfCalNoCorrection", kOrange}})),
                      std::make_tuple("t1", "timeout", With(kDone, {{"pnlAselfCalTimeout", kRed}})),
                      std::make_tuple("t1", "out-of-range", With(kDone, {{"pnlAselfCalOutOfRange", kRed}})),
                      std::make_tuple("t1", "numerical", With(kDone, {{"pnlAselfCalOutOfRange", kRed}})),
                      std::make_tuple("t1", "radial", With(kDone, {{"pnlAselfCalOutOfRange", kRed}})),
                      std::make_tuple("t1", "write-error", With(kDone, {{"pnlAselfCalOutOfRange", kRed}}))));

INSTANTIATE_TEST_SUITE_P(
    FourByteStatus, SelfCalRun,
    ::testing::Values(std::make_tuple("t6", "success", With(kGood, {{"pnlASelfCalUserErrMap", kLime}})),
                      std::make_tuple("t6", "no-correction",
                                      With(kGood, {{"pnlAselfCalNoCorrection", kOrange}})),
                      std::make_tuple("t6", "timeout", With(kDone, {{"pnlAselfCalTimeout", kRed}})),
                      std::make_tuple("t6", "out-of-range", With(kDone, {{"pnlAselfCalOutOfRange", kRed}})),
                      std::make_tuple("t6", "numerical", With(kDone, {{"pnlASelfCalNumericalErr", kRed}})),
                      std::make_tuple("t6", "radial", With(kDone, {{"pnlASelfCalRadialDisp", kRed}})),
                      std::make_tuple("t6", "write-error", With(kDone, {{"pnlASelfCalWriteErr", kRed}}))));

// ---------------------------------------------------------------- the page's refresh

class SelfCalRefresh : public SimWindow {};

TEST_F(SelfCalRefresh, ShowingThePageReadsArcTimeoutAndStatus) {
    Connect("t6");
    simulator->Control("selfcal success 0");
    form->edSelfCalTimeout->setText(QStringLiteral("7"));
    form->btnSelfCalStart->click();
    form->tmrSelfCalWait->stop();
    form->Page->setCurrentWidget(form->tabInit);
    form->edSelfCalArc->clear();
    form->edSelfCalTimeout->clear();
    form->SelfCalCounterStart = 0; // as at program start: any finished calibration shows as finished
    form->Memo1->clear();

    form->Page->setCurrentWidget(form->tabSelfCal);

    EXPECT_EQ(form->edSelfCalArc->text(), QStringLiteral("360"));
    EXPECT_EQ(form->edSelfCalTimeout->text(), QStringLiteral("7"));
    EXPECT_TRUE(form->mmSelfCalStatus->toPlainText().startsWith(QStringLiteral("Status: ")));
    EXPECT_EQ(PanelColour(form->pnlAselfCalFinished), kGreen);
    EXPECT_TRUE(form->LogLines().isEmpty()) << form->LogLines().join('|').toStdString();
}

TEST_F(SelfCalRefresh, FailedReadsDisableTheirEdits) {
    Connect("t6");
    form->Page->setCurrentWidget(form->tabInit);
    simulator->SetRegisterError(Layout::RegSelfCalArc, 0x26);
    simulator->SetRegisterError(Layout::RegSelfCalTimeout, 0x26);
    form->edSelfCalTimeout->setText(QStringLiteral("7"));

    form->Page->setCurrentWidget(form->tabSelfCal);

    EXPECT_FALSE(form->edSelfCalArc->isEnabled());
    EXPECT_FALSE(form->edSelfCalTimeout->isEnabled());
    EXPECT_EQ(form->edSelfCalTimeout->text(), QStringLiteral("0"));
    EXPECT_EQ(form->LogLines(), (QStringList{QStringLiteral("Invalid register address"),
                                             QStringLiteral("sCmd: R:0002:000000C4 RCV: 0x26:"),
                                             QStringLiteral("Invalid register address"),
                                             QStringLiteral("sCmd: R:0001:000000C6 RCV: 0x26:")}));

    // An arc that can be read again is offered again: one lost reply does not lock it for good.
    simulator->SetRegisterError(Layout::RegSelfCalArc, 0);
    form->Page->setCurrentWidget(form->tabInit);
    form->Page->setCurrentWidget(form->tabSelfCal);
    EXPECT_TRUE(form->edSelfCalArc->isEnabled());
    EXPECT_EQ(form->edSelfCalArc->text(), QStringLiteral("360"));
}

TEST_F(SelfCalRefresh, WithoutTheTimeoutRegisterOnlyTheArcIsRead) {
    Connect("bare");
    form->Page->setCurrentWidget(form->tabInit);
    simulator->ClearReceived();
    form->Page->setCurrentWidget(form->tabSelfCal);
    const QStringList reads = Commands().filter(QRegularExpression(QStringLiteral("^R:")));
    ASSERT_FALSE(reads.isEmpty());
    EXPECT_EQ(reads.first(), QString::asprintf("R:0002:%08X", Layout::RegSelfCalArc));
    EXPECT_TRUE(reads.filter(QString::asprintf("%08X", Layout::RegSelfCalTimeout)).isEmpty());
}

} // namespace
