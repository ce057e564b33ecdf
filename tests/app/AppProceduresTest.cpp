// The Test and Debug pages in the window against the simulated adapter and encoder: recording,
// power cycling, the noise test and the Debug page's drawing.
#include "AppTestSupport.h"
#include "ChartView.h"
#include "DebugRecording.h"
#include "FillingDisk.h"
#include "K310Simulator.h"
#include "K310_BiSS_bidirectional.h"
#include "K310_SPI_Velcor.h"
#include "NumberFormat.h"
#include "QtRoutines.h"
#include "SerialPort.h"
#include "SimDevice.h"
#include "SimWindow.h"

#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <cerrno>
#include <functional>

namespace {

namespace Shared = K310_BiSS_bidirectional;

class TestPages : public app_testing::SimulatedWindow {
protected:
    void SetUp() override { ASSERT_TRUE(folder.isValid()); }
    void AdjustOptions(TMainFormOptions& options) override { options.recordingDirectory = folder.path(); }

    int Count(const std::function<bool(const std::string&)>& which) const {
        int n = 0;
        for (const auto& r : simulator->Received())
            n += which(r.command);
        return n;
    }
    int Sent(const std::string& command) const {
        return Count([&](const std::string& c) { return c == command; });
    }
    QStringList RecordingFiles() const {
        return QDir(folder.path()).entryList({QStringLiteral("*.csv")}, QDir::Files, QDir::Name);
    }
    QByteArray RecordingText() const {
        QFile file(QDir(folder.path()).filePath(RecordingFiles().value(0)));
        if (!file.open(QIODevice::ReadOnly)) return {};
        return file.readAll();
    }

    QTemporaryDir folder;
};

// ---- recording ----------------------------------------------------------------------------

TEST_F(TestPages, RecordingWithoutReadingsHasOnlyTheHeader) {
    Connect("t1");
    form->btnDebugUnlock->setVisible(true);
    form->cbShranjujMeritveDebug->setChecked(true);
    EXPECT_FALSE(form->btnDebugUnlock->isVisible()) << "every unlock hides the button";
    EXPECT_EQ(Count([](const std::string& c) { return c.rfind("W:", 0) == 0; }), 1) << "the debug unlock";
    const QStringList files = RecordingFiles();
    ASSERT_EQ(files.size(), 1);
    const QString name = files[0];
    const auto& signature = Shared::EncoderSignature;
    EXPECT_TRUE(name.startsWith(
        QString::fromStdString("TEST_" + Procedures::FileNamePart(signature.Dremo_PartNumber) + "_" +
                               Procedures::FileNamePart(signature.Dremo_Serial) + "_")))
        << name.toStdString();
    // Shown with the system's own separators.
    EXPECT_EQ(form->mmFileName->toPlainText(), QDir::toNativeSeparators(QDir(folder.path()).filePath(name)));

    form->cbShranjujMeritveDebug->setChecked(false);
    EXPECT_EQ(RecordingText(), QByteArray::fromStdString(Procedures::RecordingHeader() + "\r\n"));
    EXPECT_EQ(form->mmFileName->toPlainText().split('\n').value(1),
              QStringLiteral("Record duration: 0 sec."));
    EXPECT_TRUE(dialogs.shown.empty());
}

TEST_F(TestPages, RecordingWritesOneRecordPerSuccessfulPassWithFreshReadings) {
    Connect("t5");
    form->cbShranjujMeritveDebug->setChecked(true);
    simulator->ClearReceived();
    form->btnReadEncoderClick();
    simulator->SetCondition(sim::kWarnTemperature | sim::kWarnSignalLow, true);
    form->btnReadEncoderClick();
    simulator->SetCondition(sim::kWarnTemperature | sim::kWarnSignalLow, false);
    simulator->SilenceNext(1); // a failed pass writes nothing
    form->btnReadEncoderClick();
    form->btnReadEncoderClick();
    form->cbShranjujMeritveDebug->setChecked(false);

    // On the Initialization page too, every pass reads temperature, signal level and debug data.
    EXPECT_GE(Count([](const std::string& c) { return c.rfind("R:", 0) == 0; }), 3 * 3);
    const QByteArray text = RecordingText();
    const QList<QByteArray> lines = text.split('\n');
    // Header, three records; the one with two conditions keeps their CR LF inside its quoted field.
    const QByteArray withConditions = lines.value(2) + '\n' + lines.value(3) + '\n' + lines.value(4);
    EXPECT_TRUE(withConditions.contains(";\"")) << withConditions.toStdString();
    EXPECT_EQ(text.count("\r\n"), 1 + 3 + 2) << text.toStdString();
    for (const QByteArray& record : {lines.value(1), lines.value(5)}) {
        EXPECT_EQ(record.count(';'), 75) << record.toStdString();
        EXPECT_TRUE(record.endsWith(";\r")) << record.toStdString();
    }
    EXPECT_TRUE(dialogs.shown.empty());
}

TEST_F(TestPages, ClosingTheWindowClosesTheRecordingWithEveryRecord) {
    Connect("t1");
    form->cbShranjujMeritveDebug->setChecked(true);
    for (int i = 0; i < 5; ++i)
        form->btnReadEncoderClick();
    // Flushed as written: all five are on disk before the window closes.
    EXPECT_EQ(RecordingText().count("\r\n"), 6);
    form->close();
    EXPECT_FALSE(form->ShraniFajl.IsOpen());
    EXPECT_EQ(RecordingText().count("\r\n"), 6);
    EXPECT_EQ(form->mmFileName->toPlainText().split('\n').size(), 1) << "no duration line at close";
}

// ---- a recording that cannot go on ----------------------------------------------------------

// Recording through a disk that fills up, into a folder that may be missing, its file checked for
// being there as often as a test asks.
class FailingRecording : public TestPages {
protected:
    void AdjustOptions(TMainFormOptions& options) override {
        TestPages::AdjustOptions(options);
        if (!directory.isEmpty()) options.recordingDirectory = directory;
        options.recordingWrite = disk.Writer();
        options.recordingCheckMs = checkMs;
    }
    // The recording has ended as failed, and said so once: the box cleared, one line in the log
    // and one warning box, both with `reason`; no duration line.
    void ExpectEndedOnce(const QString& reason) {
        EXPECT_FALSE(form->cbShranjujMeritveDebug->isChecked());
        EXPECT_FALSE(form->ShraniFajl.IsOpen());
        ASSERT_EQ(dialogs.shown.size(), 1u) << dialogs.Texts().join('\n').toStdString();
        EXPECT_EQ(dialogs.shown[0].kind, QStringLiteral("warning"));
        EXPECT_TRUE(dialogs.shown[0].text.contains(reason)) << dialogs.shown[0].text.toStdString();
        EXPECT_EQ(form->LogLines().filter(reason).size(), 1) << form->LogLines().join('\n').toStdString();
        EXPECT_EQ(form->RecordingFailure, dialogs.shown[0].text);
        EXPECT_FALSE(form->mmFileName->toPlainText().contains(QStringLiteral("Record duration")));
    }
    // Every line after the header is a whole record of 75 fields.
    void ExpectWholeRecords(const QByteArray& text, int atLeast) {
        ASSERT_TRUE(text.endsWith("\r\n")) << text.right(80).toStdString();
        QList<QByteArray> lines = text.split('\n');
        lines.removeLast();
        EXPECT_GE(lines.size(), 1 + atLeast);
        for (qsizetype i = 1; i < lines.size(); ++i)
            EXPECT_EQ(lines[i].count(';'), 75) << "line " << i << ": " << lines[i].toStdString();
    }

    testing_support::FillingDisk disk{UINT64_MAX};
    QString directory;
    int checkMs = static_cast<int>(Procedures::TDebugRecordFile::kNameCheckMs);
};

// While reading constantly, the disk fills in the middle of a record: the file is cut back to its
// last whole record, and the recording ends once. The reading goes on, writing nothing, also when
// there is room again.
TEST_F(FailingRecording, AWriteFailureEndsTheRecordingOnce) {
    disk.room = Procedures::RecordingHeader().size() + 2 + 1000;
    Connect("t1");
    form->cbShranjujMeritveDebug->setChecked(true);
    ASSERT_TRUE(form->ShraniFajl.IsOpen());
    ReadingFast();
    ASSERT_TRUE(app_testing::WaitFor([&] { return !form->cbShranjujMeritveDebug->isChecked(); }, 5000));
    ASSERT_TRUE(disk.full);
    const int writes = disk.writes;
    disk.room = UINT64_MAX;
    simulator->ClearReceived();
    ASSERT_TRUE(app_testing::WaitFor([&] { return PositionReads() >= 10; }, 5000)) << "reading goes on";
    form->cbReadEncConstantly->setChecked(false);

    ASSERT_NO_FATAL_FAILURE(ExpectEndedOnce(QStringLiteral("No space left on device")));
    EXPECT_TRUE(dialogs.shown[0].text.contains(RecordingFiles().value(0))) << "names the file";
    EXPECT_EQ(disk.writes, writes) << "nothing written after the failure";
    const QByteArray text = RecordingText();
    EXPECT_LE(text.size(), qsizetype(disk.written));
    ExpectWholeRecords(text, 1);
}

// A recording that cannot begin says so once and clears the box: its folder is missing, or the
// disk is full before the header is written whole. No file stays, and no pass reports anything.
TEST_F(FailingRecording, ARecordingThatCannotBeginSaysSoOnce) {
    struct Row {
        const char* name;
        bool missingFolder;
        uint64_t room;
        const char* reason;
    };
    // The system's own words for a missing folder (on Windows ERROR_PATH_NOT_FOUND's).
#ifdef _WIN32
    const std::string missing = platform::ErrorText(3);
#else
    const std::string missing = platform::ErrorText(ENOENT);
#endif
    const Row rows[] = {
        {"missing folder", true, UINT64_MAX, missing.c_str()},
        {"disk full", false, 0, "No space left on device"},
        {"header half written", false, Procedures::RecordingHeader().size() / 2, "No space left on device"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        directory =
            row.missingFolder ? QDir(folder.path()).filePath(QStringLiteral("gone/deeper")) : QString();
        disk = testing_support::FillingDisk(row.room);
        Connect("t1");
        form->cbShranjujMeritveDebug->setChecked(true);
        form->btnReadEncoderClick();
        form->btnReadEncoderClick();
        ASSERT_NO_FATAL_FAILURE(ExpectEndedOnce(QString::fromUtf8(row.reason)));
        EXPECT_TRUE(dialogs.shown[0].text.contains(QStringLiteral("TEST_"))) << "names the file";
        EXPECT_TRUE(RecordingFiles().isEmpty()) << RecordingFiles().join(' ').toStdString();
        EXPECT_FALSE(QDir(QDir(folder.path()).filePath(QStringLiteral("gone"))).exists());
    }
}

#ifdef _WIN32
// On Windows the file being recorded cannot be deleted, nor its folder removed: the recording goes
// on whole and ends as it should.
TEST_F(FailingRecording, AFileBeingRecordedCannotBeDeleted) {
    checkMs = 20;
    ASSERT_TRUE(QDir().mkpath(folder.path()));
    Connect("t1");
    form->cbShranjujMeritveDebug->setChecked(true);
    const QString path = form->mmFileName->toPlainText();
    ReadingFast();
    EXPECT_FALSE(QFile::remove(path));
    EXPECT_FALSE(QDir(folder.path()).removeRecursively());
    ASSERT_TRUE(app_testing::WaitFor([&] { return PositionReads() >= 10; }, 5000));
    EXPECT_TRUE(form->cbShranjujMeritveDebug->isChecked()) << "the recording goes on";
    form->cbReadEncConstantly->setChecked(false);
    form->cbShranjujMeritveDebug->setChecked(false);
    EXPECT_TRUE(dialogs.shown.empty()) << dialogs.Texts().join('\n').toStdString();
    EXPECT_TRUE(form->mmFileName->toPlainText().contains(QStringLiteral("Record duration")));
    ExpectWholeRecords(RecordingText(), 10);
}
#else
// The file deleted (its folder removed) while recording: found by the window's check while the
// reading goes on, or at the latest when the box is unticked. Either ends the recording as failed.
TEST_F(FailingRecording, AFileDeletedDuringTheRecordingEndsItAsFailed) {
    for (const bool whileReading : {true, false}) {
        SCOPED_TRACE(whileReading ? "while reading" : "at the end");
        checkMs = whileReading ? 20 : static_cast<int>(Procedures::TDebugRecordFile::kNameCheckMs);
        ASSERT_TRUE(QDir().mkpath(folder.path()));
        Connect("t1");
        form->cbShranjujMeritveDebug->setChecked(true);
        const QString path = form->mmFileName->toPlainText();
        if (whileReading) {
            ReadingFast();
            ASSERT_TRUE(QDir(folder.path()).removeRecursively());
            EXPECT_TRUE(
                app_testing::WaitFor([&] { return !form->cbShranjujMeritveDebug->isChecked(); }, 5000));
            form->cbReadEncConstantly->setChecked(false);
        } else {
            form->btnReadEncoderClick();
            ASSERT_TRUE(QFile::remove(path));
            form->btnReadEncoderClick();
            form->cbShranjujMeritveDebug->setChecked(false);
        }
        ASSERT_NO_FATAL_FAILURE(ExpectEndedOnce(QStringLiteral("was deleted")));
        EXPECT_TRUE(dialogs.shown[0].text.contains(path)) << dialogs.shown[0].text.toStdString();
        EXPECT_FALSE(QFile::exists(path));
    }
}
#endif

// ---- power cycling --------------------------------------------------------------------------

class PowerCycling : public TestPages {
protected:
    // Runs the test to its end with the shortest pauses; returns the log.
    QStringList Run(int count, bool atRest, const std::function<void(int)>& atCount = {}) {
        form->seIzklopDelayMin->setValue(10);
        form->seIzklopDelayMax->setValue(10);
        form->seSteviloIzklopov->setValue(count);
        form->cbCiklirajStacionarno->setChecked(atRest);
        QMetaObject::Connection hook;
        if (atCount) hook = QObject::connect(form->seSteviloIzklopov, &QSpinBox::valueChanged, atCount);
        form->cbCiklirajIzklope->setChecked(true);
        EXPECT_TRUE(
            app_testing::WaitFor([&] { return !form->cbCiklirajIzklope->isChecked(); }, 20000 + count * 100));
        QObject::disconnect(hook);
        EXPECT_FALSE(form->timerOnOff->isActive());
        EXPECT_TRUE(form->cbReadEncConstantly->isChecked()) << "reading starts again at the end";
        form->cbReadEncConstantly->setChecked(false);
        // The test's own lines; switching the supply on logs its own.
        QStringList lines;
        for (const QString& line : form->LogLines())
            if (line.startsWith(QStringLiteral("Cikliranje")) ||
                line.startsWith(QStringLiteral("Position jump")))
                lines << line;
        return lines;
    }
};

TEST_F(PowerCycling, ARunChecksOncePerCycleAndTheFirstAfterStartUpOnceLess) {
    Connect("t1");
    ASSERT_FALSE(form->PowerCycle.PowerOnStatus);
    // The first run after start-up begins with an unpowered phase, which counts.
    EXPECT_EQ(Run(3, true), QStringList({"Cikliranje start 3x", "Cikliranje stop"}));
    EXPECT_EQ(Sent("f"), 2);
    EXPECT_TRUE(form->PowerCycle.PowerOnStatus);
    EXPECT_EQ(form->seSteviloIzklopov->value(), 0);

    simulator->ClearReceived();
    EXPECT_EQ(Run(3, true), QStringList({"Cikliranje start 3x", "Cikliranje stop"}));
    EXPECT_EQ(Sent("f"), 3);
    EXPECT_EQ(Sent("n"), 3 + 2) << "three cycles, and the supply switched on at start and at the end";
}

TEST_F(PowerCycling, CountZeroStopsAtTheFirstStep) {
    Connect("t1");
    EXPECT_EQ(Run(0, true), QStringList({"Cikliranje start 0x", "Cikliranje stop"}));
    EXPECT_EQ(Sent("f"), 0);
}

TEST_F(PowerCycling, EveryInjectedJumpIsLoggedAndNothingElse) {
    Connect("t1", ",time-scale=10");
    form->PowerCycle.PowerOnStatus = true;
    // Counts at which the shaft is to move at a later power-up, and by how many counts (several
    // degrees, well beyond the 2 allowed at rest).
    const std::map<int, int64_t> jumps = {{180, 10000}, {120, -8000}, {37, 5000}};
    const QStringList log = Run(200, true, [&](int count) {
        if (const auto jump = jumps.find(count); jump != jumps.end())
            simulator->JumpAtNextPowerUp(jump->second);
    });
    ASSERT_EQ(log.size(), 2 + 3) << log.join('\n').toStdString();
    EXPECT_EQ(log.first(), QStringLiteral("Cikliranje start 200x"));
    EXPECT_EQ(log.last(), QStringLiteral("Cikliranje stop"));
    // Injected as the count turns N, right after a power-up: the jump comes with the next one and
    // shows at the check after it, while the count reads N - 1.
    EXPECT_TRUE(log[1].startsWith(QString::fromUtf8("Position jump > 2°! ("))) << log[1].toStdString();
    EXPECT_TRUE(log[1].endsWith(QStringLiteral(") [179]"))) << log[1].toStdString();
    EXPECT_TRUE(log[2].startsWith(QString::fromUtf8("Position jump < 2°! ("))) << log[2].toStdString();
    EXPECT_TRUE(log[2].endsWith(QStringLiteral(") [119]"))) << log[2].toStdString();
    EXPECT_TRUE(log[3].startsWith(QString::fromUtf8("Position jump > 2°! ("))) << log[3].toStdString();
    EXPECT_TRUE(log[3].endsWith(QStringLiteral(") [36]"))) << log[3].toStdString();
}

TEST_F(PowerCycling, TheDelayEditsKeepMinimumBelowMaximum) {
    Connect("t1");
    form->seIzklopDelayMax->setValue(300);
    EXPECT_EQ(form->seIzklopDelayMin->maximum(), 300);
    form->seIzklopDelayMin->setValue(250);
    EXPECT_EQ(form->seIzklopDelayMax->minimum(), 250);
    EXPECT_EQ(form->timerOnOff->interval(), 250);
    form->seIzklopDelayMin->setValue(400);
    EXPECT_EQ(form->seIzklopDelayMin->value(), 300);
}

// ---- noise test -----------------------------------------------------------------------------

TEST_F(TestPages, NoiseTestReportsTheStatisticsAndCopiesTheShortForm) {
    Connect("t5", ",position=1000");
    // The level at this position, as the hundredth readings will find it.
    ASSERT_TRUE(K310_SPI_Velcor::ReadSignalLevel());
    const QString level = QString::number(Shared::EncoderPosition.SignalLevel);
    form->cbDrawTemp->setChecked(true);
    form->btnPositionNoiseClick();
    EXPECT_FALSE(form->btnPositionNoise->isEnabled());
    // One reading per turn of the event loop: the handler has returned long before the end.
    ASSERT_TRUE(app_testing::WaitFor([&] { return form->btnPositionNoise->isEnabled(); }, 60000));
    EXPECT_FALSE(form->cbDrawTemp->isChecked());
    EXPECT_EQ(form->btnPositionNoise->text(), QStringLiteral("Position Noise"));
    EXPECT_TRUE(form->btnPositionNoise->isEnabled());
    const QStringList lines = form->mmTestRezultat->toPlainText().split('\n');
    ASSERT_EQ(lines.size(), 9) << lines.join('|').toStdString();
    EXPECT_EQ(lines[0], QStringLiteral("vzorcev:\t5000"));
    EXPECT_EQ(lines[1], QStringLiteral("minn:\t1000,0"));
    EXPECT_EQ(lines[3], QStringLiteral("raztros:\t0,0"));
    EXPECT_EQ(lines[5], QStringLiteral("6 sigma:\t0,0"));
    EXPECT_EQ(lines[6], QStringLiteral("Sig Lvl:\t") + level);
    EXPECT_EQ(QGuiApplication::clipboard()->text(), level + QStringLiteral("\t0,0\r\n"));
    EXPECT_EQ(Orodja::DecimalSeparator(), QLatin1Char('.')) << "a full stop again afterwards";
    EXPECT_EQ(Count([](const std::string& c) { return c.rfind("?0", 0) == 0; }), 5000);
}

TEST_F(TestPages, NoiseTestEndingEarlyCoversTheReadingsTaken) {
    Connect("t5", ",position=1000");
    int silencedAt = 0;
    // The test handles messages after each reading: after the 1234th, the next gets no answer.
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        const int readings = Count([](const std::string& c) { return c.rfind("?0", 0) == 0; });
        if (readings >= 1234) {
            silencedAt = readings;
            simulator->SilenceNext(1);
            watch.stop();
        }
    });
    watch.start(0);
    form->btnPositionNoiseClick();
    ASSERT_TRUE(app_testing::WaitFor([&] { return form->btnPositionNoise->isEnabled(); }, 60000));
    const QStringList lines = form->mmTestRezultat->toPlainText().split('\n');
    ASSERT_EQ(lines.size(), 10) << lines.join('|').toStdString();
    ASSERT_GE(silencedAt, 1234);
    EXPECT_EQ(lines[0], QStringLiteral("vzorcev:\t") + QString::number(silencedAt));
    EXPECT_EQ(lines[1], QStringLiteral("minn:\t1000,0")) << "no zeros of samples never taken";
    // In the window a reply that does not come re-arms the adapter search: the link is lost.
    EXPECT_EQ(lines[9], QStringLiteral("Acquisition ended early after ") + QString::number(silencedAt) +
                            QStringLiteral(" samples: reading ") + QString::number(silencedAt + 1) +
                            QStringLiteral(": USB Comm Err -1"));
}

// ---- Debug page -----------------------------------------------------------------------------

TEST_F(TestPages, DebugPageDrawsCurveMarksCodeWordsAndBars) {
    Connect("t5", ",rotate=30");
    ShowPage(form->tabDebug);
    form->btnDebugUnlockClick();
    simulator->ClearReceived();
    form->btnReadEncoderClick();
    const auto& debug = K310_SPI_Velcor::DebugData;
    ASSERT_EQ(form->SeriesDebug->Count(), 56);
    EXPECT_EQ(form->SeriesDebug->Y(9), debug.Samples[9]);
    const int L = form->EncDolzinaKode;
    ASSERT_GT(L, 0);
    EXPECT_EQ(form->Series2->Count(), debug.DecodSelect < 10 ? L : 0);
    EXPECT_EQ(form->lblKodaNaGrafu->text().count(QLatin1Char('\n')), 1);
    const int bottom = form->shBgFFT->geometry().bottom();
    for (QWidget* bar : {form->shLevo, form->shCenter, form->shDesno})
        EXPECT_EQ(bar->geometry().y() + bar->height(), form->shBgFFT->y() + form->shBgFFT->height())
            << bottom;
    EXPECT_GT(form->shCenter->height() + form->shLevo->height() + form->shDesno->height(), 0);
}

} // namespace
