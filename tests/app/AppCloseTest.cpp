// Closing the window in the middle of each long action, as a click on the close button does: the
// request arrives from outside while the action runs. Actions that handle messages end within a
// second and leave the line quiet; the two that handle none finish first, then the window closes.
#include "ChartView.h"
#include "K310_BiSS_bidirectional.h"
#include "SimWindow.h"

#include <QDir>
#include <QEvent>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

// Notes when the window's close event arrives.
class CloseWatch : public QObject {
public:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Close && !closed) {
            closed = true;
            at = Clock::now();
        }
        return false;
    }
    bool closed = false;
    Clock::time_point at;
};

class CloseDuring : public app_testing::SimulatedWindow {
protected:
    void SetUp() override { ASSERT_TRUE(folder.isValid()); }
    void AdjustOptions(TMainFormOptions& options) override { options.recordingDirectory = folder.path(); }
    void TearDown() override {
        if (requester.joinable()) requester.join();
        app_testing::SimulatedWindow::TearDown();
    }

    // Once the adapter has received `commands` commands that `counts` picks, a request to close
    // is posted from another thread: it waits in the event queue until the window next handles
    // messages, as the window manager's request would.
    void RequestCloseAfter(int commands, std::function<bool(const std::string&)> counts) {
        form->installEventFilter(&watch);
        TMainForm* target = form.get();
        requester = std::thread([this, commands, counts, target] {
            const auto giveUp = Clock::now() + std::chrono::seconds(20);
            while (Clock::now() < giveUp) {
                int n = 0;
                for (const auto& r : simulator->Received())
                    n += counts(r.command);
                if (n >= commands) break;
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
            }
            requested = true;
            QMetaObject::invokeMethod(
                target, [target] { target->close(); }, Qt::QueuedConnection);
        });
    }
    static bool Any(const std::string&) { return true; }
    static bool PositionCommand(const std::string& c) { return c.rfind("?0", 0) == 0; }

    // Lets the event loop run until the close has come, then a further while: nothing of the
    // window may still be running or talking to the adapter a second after its close.
    void ExpectClosedAndQuiet() {
        ASSERT_TRUE(app_testing::WaitFor([&] { return watch.closed; }, 20000)) << "the close never came";
        EXPECT_TRUE(Orodja::ApplicationTerminating());
        app_testing::WaitFor([] { return false; }, 50);
        const size_t atClose = simulator->Received().size();
        app_testing::WaitFor([] { return false; }, 950);
        EXPECT_EQ(simulator->Received().size(), atClose) << "the adapter is still being talked to";
        for (const QTimer* timer : form->findChildren<QTimer*>())
            EXPECT_FALSE(timer->isActive()) << timer->objectName().toStdString();
    }

    QByteArray RecordingText() const {
        const QStringList files = QDir(folder.path()).entryList({QStringLiteral("*.csv")}, QDir::Files);
        QFile file(QDir(folder.path()).filePath(files.value(0)));
        if (files.size() != 1 || !file.open(QIODevice::ReadOnly)) return {};
        return file.readAll();
    }

    QTemporaryDir folder;
    CloseWatch watch;
    std::thread requester;
    std::atomic<bool> requested{false};
};

// ---- actions that handle messages: the close ends them ------------------------------------

TEST_F(CloseDuring, TheSelfCalibrationWait) {
    Connect("t6", ",selfcal-seconds=30");
    form->btnSelfCalStart->click();
    ASSERT_TRUE(form->tmrSelfCalWait->isActive());
    RequestCloseAfter(3, [](const std::string& c) { return c.rfind("R:", 0) == 0; });
    ExpectClosedAndQuiet();
    EXPECT_LT(form->pbSelfCalProgress->value(), form->pbSelfCalProgress->maximum());
}

TEST_F(CloseDuring, ThePowerCyclingTest) {
    Connect("t1");
    form->seIzklopDelayMax->setValue(200);
    form->seIzklopDelayMin->setValue(200);
    form->seSteviloIzklopov->setValue(1000);
    form->cbCiklirajIzklope->setChecked(true);
    RequestCloseAfter(3, [](const std::string& c) { return c == "f"; });
    ExpectClosedAndQuiet();
    EXPECT_GT(form->seSteviloIzklopov->value(), 990);
}

TEST_F(CloseDuring, TheNoiseTest) {
    Connect("t5");
    RequestCloseAfter(300, PositionCommand);
    // The click returns at once: the test reads on timer ticks, and the close stops them.
    form->btnPositionNoiseClick();
    EXPECT_FALSE(watch.closed);
    ExpectClosedAndQuiet();
    EXPECT_FALSE(form->tmrNoiseStep->isActive());
    int positions = 0;
    for (const auto& r : simulator->Received())
        positions += PositionCommand(r.command);
    EXPECT_LT(positions, 5000);
}

TEST_F(CloseDuring, ContinuousReadingWithARecording) {
    Connect("t1");
    form->cbShranjujMeritveDebug->setChecked(true);
    form->seDelayBetweenReadings->setValue(0);
    form->cbReadEncConstantly->setChecked(true);
    RequestCloseAfter(40, PositionCommand);
    ExpectClosedAndQuiet();
    EXPECT_FALSE(form->ShraniFajl.IsOpen());

    // Every pass that read a position left its whole record on disk, and nothing else did.
    int passes = 0;
    for (const auto& r : simulator->Received())
        passes += PositionCommand(r.command);
    ASSERT_GE(passes, 40);
    const QByteArray text = RecordingText();
    EXPECT_TRUE(text.endsWith("\r\n"));
    const QList<QByteArray> lines = text.split('\n');
    EXPECT_EQ(text.count("\r\n"), 1 + passes);
    for (qsizetype i = 1; i + 1 < lines.size(); ++i)
        EXPECT_EQ(lines[i].count(';'), 75) << i;
}

// ---- actions that handle no messages: they finish, then the window closes -----------------

TEST_F(CloseDuring, TheErrorMapRead) {
    Connect("t6");
    RequestCloseAfter(50, Any);
    form->btnReadErrMapClick();
    EXPECT_TRUE(requested) << "the close was requested while the map was being read";
    EXPECT_FALSE(watch.closed) << "the read handles no messages, so the close waits for its end";
    EXPECT_EQ(form->Series1->Count(), 512);
    EXPECT_EQ(form->LogLines(), QStringList());
    ExpectClosedAndQuiet();
}

TEST_F(CloseDuring, TheZeroPreset) {
    Connect("t1");
    form->K310RevizijaFW = 10000;
    ShowPage(form->tabConfig);
    simulator->ClearReceived();
    RequestCloseAfter(2, Any);
    form->btnTarvoSetZeroClick();
    EXPECT_TRUE(requested);
    EXPECT_FALSE(watch.closed);
    EXPECT_TRUE(form->lblTarvoZeroStatus->text().endsWith(QStringLiteral("Multiturn preset: 0")))
        << form->lblTarvoZeroStatus->text().toStdString();
    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_EQ(dialogs.shown[0].text, QStringLiteral("Save data done!"));
    ExpectClosedAndQuiet();
}

} // namespace
