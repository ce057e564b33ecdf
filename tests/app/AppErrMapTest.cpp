// The Error Map page offscreen against the simulated encoder: the 512 reads, the byte order of
// firmware 2, a read that fails half-way, and the read in the middle of continuous reading.
#include "AppTestSupport.h"
#include "ChartView.h"
#include "K310_BiSS_bidirectional.h"
#include "SimWindow.h"
#include "Tarvo_konstante.h"

#include <QRegularExpression>
#include <QTimer>

#include <gtest/gtest.h>

#include <vector>

namespace {

namespace Shared = K310_BiSS_bidirectional;
namespace Layout = Tarvo_konstante;

// Remembers how far the read had come whenever the hourglass was switched.
class CursorDialogs : public app_testing::RecordingDialogs {
public:
    void setBusyCursor(bool value) override {
        RecordingDialogs::setBusyCursor(value);
        if (simulator) switches.push_back({value, simulator->CommandCount()});
    }
    struct Switch {
        bool busy;
        size_t commands;
    };
    const sim::K310Simulator* simulator = nullptr;
    std::vector<Switch> switches;
};

class ErrorMap : public app_testing::SimulatedWindowWith<CursorDialogs> {
protected:
    // The switches counted are those of the page's read, not of connecting.
    void Connect(const std::string& preset) {
        dialogs.simulator = nullptr;
        SimulatedWindowWith::Connect(preset);
        dialogs.switches.clear();
        dialogs.simulator = simulator.get();
        ShowPage(form->tabErrMap);
        simulator->ClearReceived();
    }
    QStringList MapReads() const { return Commands().filter(QRegularExpression(QStringLiteral("^R:0002:"))); }
    int16_t SimEntry(int i) const {
        int16_t v = 0;
        simulator->Inspect([&](sim::SimDevice& d, double) { v = d.ErrorMapEntry(i); });
        return v;
    }
};

TEST_F(ErrorMap, ReadsTheWholeMapOfEitherLayout) {
    struct Row {
        const char* preset;
        const char* first;
        const char* last;
    };
    for (const Row& row :
         {Row{"t1", "R:0002:00001800", "R:0002:00001BFE"}, Row{"t6", "R:0002:00010000", "R:0002:000103FE"}}) {
        Connect(row.preset);
        form->btnReadErrMap->click();

        const QStringList reads = MapReads();
        ASSERT_EQ(reads.size(), 512) << row.preset;
        EXPECT_EQ(reads.first(), QString::fromLatin1(row.first)) << row.preset;
        EXPECT_EQ(reads.last(), QString::fromLatin1(row.last)) << row.preset;
        ASSERT_EQ(form->Series1->Count(), 512) << row.preset;
        for (int i = 0; i < 512; ++i) {
            ASSERT_EQ(form->Series1->X(i), i) << row.preset;
            ASSERT_EQ(form->Series1->Y(i), SimEntry(i)) << row.preset << " entry " << i;
        }
        EXPECT_TRUE(form->ErrMapProgressBar->isHidden()) << row.preset;
        EXPECT_EQ(form->ErrMapProgressBar->maximum(), 500) << row.preset;
        // The hourglass from before the first read to after the last.
        ASSERT_EQ(dialogs.switches.size(), 2u) << row.preset;
        EXPECT_TRUE(dialogs.switches[0].busy);
        EXPECT_FALSE(dialogs.switches[1].busy);
        EXPECT_EQ(dialogs.switches[1].commands - dialogs.switches[0].commands, 512u) << row.preset;
        EXPECT_TRUE(form->cbReadEncConstantly->isChecked()) << row.preset << ": reading runs again";
        form->cbReadEncConstantly->setChecked(false);
        EXPECT_TRUE(form->LogLines().isEmpty()) << form->LogLines().join('|').toStdString();
        TearDown();
    }
}

TEST_F(ErrorMap, FirmwareTwoDeliversTheBytesTheOtherWayRound) {
    struct Row {
        uint32_t major;
        int16_t first, second;
    };
    // The map holds 0x1234 and 0xFFFE: bytes 2 and 3 of the reads are 12 34 and FF FE.
    for (const Row& row : {Row{3, 4660, -2}, Row{2, 13330, -257}, Row{4, 4660, -2}}) {
        Connect("t1");
        simulator->Inspect([](sim::SimDevice& d, double) {
            d.SetErrorMapEntry(0, 0x1234);
            d.SetErrorMapEntry(1, int16_t(0xFFFE));
        });
        Shared::EncoderSignature.Dremo_FWverMajor = row.major;
        form->btnReadErrMap->click();
        ASSERT_EQ(form->Series1->Count(), 512);
        EXPECT_EQ(form->Series1->Y(0), row.first) << "firmware " << row.major;
        EXPECT_EQ(form->Series1->Y(1), row.second) << "firmware " << row.major;
        form->cbReadEncConstantly->setChecked(false);
        TearDown();
    }

    // An encoder with firmware 2 indeed swaps them: the chart shows the map it holds.
    Connect("t2");
    ASSERT_EQ(Shared::EncoderSignature.Dremo_FWverMajor, 2u);
    form->btnReadErrMap->click();
    ASSERT_EQ(form->Series1->Count(), 512);
    for (int i = 0; i < 512; ++i)
        ASSERT_EQ(form->Series1->Y(i), SimEntry(i)) << "entry " << i;
    form->cbReadEncConstantly->setChecked(false);
}

TEST_F(ErrorMap, AFailureKeepsWhatWasReadAndLeavesReadingOff) {
    Connect("t1");
    form->seDelayBetweenReadings->setValue(0);
    form->cbReadEncConstantly->setChecked(true);
    simulator->SetRegisterError(Layout::RegErrorMap + 2 * 100, 0x26);

    form->btnReadErrMap->click();

    ASSERT_EQ(form->Series1->Count(), 100);
    for (int i = 0; i < 100; ++i)
        ASSERT_EQ(form->Series1->Y(i), SimEntry(i)) << "entry " << i;
    EXPECT_FALSE(form->ErrMapProgressBar->isHidden());
    EXPECT_EQ(form->ErrMapProgressBar->value(), 99);
    EXPECT_FALSE(dialogs.busy);
    EXPECT_FALSE(form->cbReadEncConstantly->isChecked());
    EXPECT_EQ(form->LogLines(), (QStringList{QStringLiteral("Invalid register address"),
                                             QStringLiteral("sCmd: R:0002:000018C8 RCV: 0x26:")}));
    // Nothing follows the failed read, now or later.
    EXPECT_EQ(Commands().last(), QStringLiteral("R:0002:000018C8"));
    app_testing::WaitFor([] { return false; }, 100);
    EXPECT_EQ(Commands().last(), QStringLiteral("R:0002:000018C8"));

    // The next read starts with an empty chart.
    simulator->SetRegisterError(Layout::RegErrorMap + 2 * 100, 0);
    form->btnReadErrMap->click();
    EXPECT_EQ(form->Series1->Count(), 512);
    EXPECT_TRUE(form->ErrMapProgressBar->isHidden());
    form->cbReadEncConstantly->setChecked(false);
}

TEST_F(ErrorMap, AReadDuringContinuousReadingIsOneRunAndReadingGoesOn) {
    Connect("t6");
    ReadingFast();
    ASSERT_TRUE(ClickFromEventLoop(form->btnReadErrMap, 5000));
    const int afterRead = PositionReads();
    EXPECT_TRUE(app_testing::WaitFor([&] { return PositionReads() >= afterRead + 3; }, 2000))
        << "reading runs again";
    form->cbReadEncConstantly->setChecked(false);

    const QStringList commands = Commands();
    const auto [first, last] = ActionSpan(commands);
    ASSERT_GE(first, 0);
    EXPECT_EQ(commands[first], QStringLiteral("R:0002:00010000"));
    EXPECT_EQ(commands[last], QStringLiteral("R:0002:000103FE"));
    EXPECT_EQ(last - first + 1, 512) << "no other command inside the read";
    EXPECT_EQ(form->Series1->Count(), 512);
}

} // namespace
