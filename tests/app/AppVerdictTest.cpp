// The window's power-cycling and noise tests when the adapter misbehaves in the middle of a run:
// the same step machines as tarvo-cli's, driven by the window's timers and reading passes. Faults
// the two front ends route alike give the same lines and counts; a reply that does not come (or a
// port that is gone) re-arms the window's adapter search and ends the run as a lost link.
#include "AppTestSupport.h"
#include "K310Simulator.h"
#include "SimDevice.h"
#include "SimWindow.h"
#include "StepFaults.h"

#include <QGuiApplication>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>

namespace {

using Fault = testing_support::TStepFault;

class WindowVerdict : public app_testing::SimulatedWindow {
protected:
    // Position readings asked for so far ("?0..." frames or "d" reports).
    int Frames() const { return PositionReads(); }
    void Inject(Fault fault) { testing_support::InjectStepFault(*simulator, fault); }
    // Runs a power-cycling test of `count` cycles with the shortest pauses, the fault injected once
    // `afterFrames` readings have been taken; returns the test's own log lines.
    QStringList PowerCycle(int count, Fault fault, int afterFrames) {
        form->seIzklopDelayMin->setValue(10);
        form->seIzklopDelayMax->setValue(10);
        form->seSteviloIzklopov->setValue(count);
        form->cbCiklirajStacionarno->setChecked(true);
        form->PowerCycle.PowerOnStatus = true;
        const int base = Frames();
        bool injected = false;
        QTimer watch;
        QObject::connect(&watch, &QTimer::timeout, [&] {
            if (!injected && Frames() - base >= afterFrames) {
                injected = true;
                Inject(fault);
            }
        });
        watch.start(1);
        form->cbCiklirajIzklope->setChecked(true);
        EXPECT_TRUE(app_testing::WaitFor([&] { return !form->cbCiklirajIzklope->isChecked(); }, 20000));
        watch.stop();
        EXPECT_TRUE(injected);
        QStringList lines;
        for (const QString& line : form->LogLines())
            if (line.startsWith(QStringLiteral("Cikliranje")) ||
                line.startsWith(QStringLiteral("Position jump")) ||
                line.startsWith(QStringLiteral("Check")) || line.startsWith(QStringLiteral("Supply command")))
                lines << line;
        return lines;
    }
};

TEST_F(WindowVerdict, PowerCyclingCountsEveryFailureAndEndsOnALostLink) {
    struct Case {
        const char* name;
        Fault fault;
        bool detailed;
        QString failure; // the line's beginning
        QString summary;
        bool completed;
    };
    const std::vector<Case> cases = {
        // Multiturn frames that are no frame at all are refused by the protocol itself.
        {"ERROR line", Fault::ErrorReply, false,
         "Check failed: Invalid position frame sCmd: ?06:000 RCV: ERROR command failed [",
         "Checks: 4, jumps: 0, failed: 1", true},
        {"garbage", Fault::Garbage, false,
         "Check failed: Invalid position frame sCmd: ?06:000 RCV: ", "Checks: 4, jumps: 0, failed: 1", true},
        {"bad CRC", Fault::BadCrc, false, "Check failed: CRC error (", "Checks: 4, jumps: 0, failed: 1",
         true},
        {"wrong length", Fault::WrongLength, true, QString::fromUtf8("Check failed: Nepravilna dolžina"),
         "Checks: 4, jumps: 0, failed: 1", true},
        {"f refused", Fault::SupplyOffError, false, "Supply command failed: f ERROR command failed [",
         "Checks: 4, jumps: 0, failed: 1", true},
        {"n refused", Fault::SupplyOnError, false, "Supply command failed: n ERROR command failed [",
         "Checks: 3, jumps: 0, failed: 1", true},
        // Whichever step meets it (a reading or a supply command) ends the run as a lost link.
        {"no reply", Fault::Silent, false, " USB Comm Err -1 [", "", false},
        {"unplugged", Fault::Unplug, false, " USB Comm Err -", "", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Connect("t1mt", ",position=1000");
        form->cbDetailedStatus->setChecked(c.detailed);
        const QStringList lines = PowerCycle(4, c.fault, 2); // the reference and one check
        ASSERT_GE(lines.size(), 3) << lines.join('\n').toStdString();
        EXPECT_EQ(lines.first(), QStringLiteral("Cikliranje start 4x"));
        EXPECT_EQ(lines.filter(QStringLiteral("failed")).size(), 2) << lines.join('\n').toStdString();
        if (c.completed) {
            EXPECT_TRUE(lines[1].startsWith(c.failure)) << lines.join('\n').toStdString();
            EXPECT_TRUE(lines.contains(c.summary)) << lines.join('\n').toStdString();
        } else {
            EXPECT_TRUE(lines[1].contains(c.failure)) << lines.join('\n').toStdString();
            EXPECT_TRUE(lines.last().startsWith(QStringLiteral("Checks: ")) &&
                        lines.last().endsWith(QStringLiteral(", jumps: 0, failed: 1")))
                << lines.join('\n').toStdString();
        }
        EXPECT_EQ(lines.contains(QStringLiteral("Cikliranje stop")), c.completed);
        EXPECT_TRUE(lines.filter(QStringLiteral("Position jump")).isEmpty());
        EXPECT_FALSE(form->timerOnOff->isActive());
        // Reading starts again after a run, unless the link went with it.
        EXPECT_EQ(form->cbReadEncConstantly->isChecked(), c.completed);
        form->cbReadEncConstantly->setChecked(false);
        EXPECT_TRUE(dialogs.shown.empty());
    }
}

TEST_F(WindowVerdict, NoiseTestEndsAtAFailedReadingWithoutStoringIt) {
    struct Case {
        const char* name;
        Fault fault;
        QString reason;
    };
    const std::vector<Case> cases = {
        {"ERROR line", Fault::ErrorReply, "CRC error (ERROR command failed)"},
        {"bad CRC", Fault::BadCrc, "CRC error ("},
        {"no reply", Fault::Silent, "USB Comm Err -1"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Connect("t5", ",position=1000");
        bool injected = false;
        QTimer watch;
        QObject::connect(&watch, &QTimer::timeout, [&] {
            if (!injected && Frames() >= 300) {
                injected = true;
                Inject(c.fault);
            }
        });
        watch.start(0);
        form->btnPositionNoiseClick();
        ASSERT_TRUE(app_testing::WaitFor([&] { return form->btnPositionNoise->isEnabled(); }, 60000));
        const QStringList lines = form->mmTestRezultat->toPlainText().split('\n');
        ASSERT_EQ(lines.size(), 10) << lines.join('|').toStdString();
        EXPECT_EQ(lines[3], QStringLiteral("raztros:\t0,0")) << "the failed reading is no sample";
        EXPECT_TRUE(lines[9].startsWith(QStringLiteral("Acquisition ended early after ")))
            << lines[9].toStdString();
        EXPECT_TRUE(lines[9].contains(c.reason)) << lines[9].toStdString();
        EXPECT_TRUE(form->LogLines().contains(lines[9]));
        EXPECT_FALSE(QGuiApplication::clipboard() == nullptr);
    }
}

} // namespace
