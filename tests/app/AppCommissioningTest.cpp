// The Commissioning page against the simulated adapter and encoder: a plan run to its verdict with
// the table filled as each step ends, a plan failing at a step, plans refused before anything is
// sent, a port lost in the middle of a run, and a run ended by the window closing.
#include "QtRoutines.h"
#include "SimWindow.h"
#ifdef TARVO_HAVE_RESULTS
#include "Files.h"
#include "ResultsStore.h"
#include "Sha256.h"
#endif

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>

namespace {

const QString kExamples = QStringLiteral(TARVO_SOURCE_DIR "/examples");

class CommissioningPage : public app_testing::SimulatedWindow {
protected:
    void SetUp() override { ASSERT_TRUE(folder.isValid()); }
    // Runs are stored in the test's own folder, never in the user's.
    void AdjustOptions(TMainFormOptions& options) override {
        options.resultsDatabase = databaseOverride.isEmpty() ? Database() : databaseOverride;
    }
    QString databaseOverride;
    QString Database() const { return QDir(folder.path()).filePath(QStringLiteral("results.sqlite")); }
#ifdef TARVO_HAVE_RESULTS
    // The run as the results database holds it.
    Procedures::TCommissioningRunRecord Stored(const std::string& uuid) {
        Results::TResultsStore store;
        Procedures::TCommissioningRunRecord run;
        std::string error;
        EXPECT_TRUE(
            store.Open(platform::PathFromUtf8(Database().toStdString()), Results::OpenMode::MustExist, error))
            << error;
        EXPECT_TRUE(store.LoadRun(uuid, run, error)) << error;
        return run;
    }
    static QString Text(const QString& path) {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    }
#endif

    // A plan of `steps` (JSON objects) in the test's folder; its profile is the example's.
    QString Plan(const QString& steps, const QString& name = QStringLiteral("plan.json")) {
        return File(name, QStringLiteral(R"({"format":1,"plan":"test","profile":")") + kExamples +
                              QStringLiteral(R"(/profiles/t1.json","steps":[)") + steps +
                              QStringLiteral("]}"));
    }
    QString File(const QString& name, const QString& text) {
        const QString path = QDir(folder.path()).filePath(name);
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(text.toUtf8());
        return path;
    }

    // Chooses `plan` through the page's file dialog and clicks Run; true when the run has begun.
    void Run(const QString& plan) {
        ShowPage(form->tabCommissioning);
        dialogs.fileAnswers = QStringList{plan};
        form->btnCommissioningPlanBrowse->click();
        ASSERT_EQ(form->edCommissioningPlan->text(), plan);
        form->btnCommissioningRun->click();
    }
    bool Ended(int timeoutMs = 60000) {
        return app_testing::WaitFor([&] { return !form->CommissioningRun; }, timeoutMs);
    }

    QString Cell(int row, int column) const {
        const QTableWidgetItem* item = form->tblCommissioningSteps->item(row, column);
        return item ? item->text() : QString();
    }
    QColor VerdictBackground(int row) const {
        const QTableWidgetItem* item = form->tblCommissioningSteps->item(row, 3);
        return item ? item->background().color() : QColor();
    }
    QStringList Verdicts() const {
        QStringList verdicts;
        for (int row = 0; row < form->tblCommissioningSteps->rowCount(); ++row)
            verdicts << Cell(row, 0) + QStringLiteral(": ") + Cell(row, 3);
        return verdicts;
    }
    // The verdict's colour, told by its hue, so a mixed-up colour is caught whatever its shade.
    static QString Hue(const QColor& c) {
        if (!c.isValid()) return QStringLiteral("none");
        if (c.red() == c.green() && c.green() == c.blue()) return QStringLiteral("grey");
        if (c.green() > c.red() && c.green() > c.blue()) return QStringLiteral("green");
        if (c.red() > c.green() && c.red() > c.blue()) return QStringLiteral("red");
        return QStringLiteral("other");
    }
    static QColor TextColour(QLabel* label) {
        label->ensurePolished();
        return label->palette().color(label->foregroundRole());
    }
    QStringList LogWith(const QString& part) const {
        QStringList lines;
        for (const QString& line : form->LogLines())
            if (line.contains(part)) lines << line;
        return lines;
    }

    QTemporaryDir folder;
};

// The shipped quick plan passes on the healthy simulated t1: every row's verdict is PASS in green
// with its figures, the overall verdict is PASS in large type, the log has each step and the
// verdict, and continuous reading, paused for the run, runs again.
TEST_F(CommissioningPage, TheQuickPlanPassesWithEveryRowFilledAndReadingResumes) {
    Connect("t1");
    ReadingFast();
    Run(kExamples + QStringLiteral("/plans/quick.json"));
    EXPECT_FALSE(form->btnCommissioningRun->isEnabled()) << "no second run while one goes on";
    EXPECT_FALSE(form->cbReadEncConstantly->isChecked()) << "reading is paused for the run";
    ASSERT_TRUE(Ended());

    EXPECT_EQ(Verdicts(),
              (QStringList{"identify: PASS", "apply-profile: PASS", "noise: PASS", "error-map: PASS",
                           "signal-level: PASS", "diagnostics: PASS", "final-read: PASS"}))
        << form->LogLines().join('\n').toStdString();
    for (int row = 0; row < form->tblCommissioningSteps->rowCount(); ++row) {
        SCOPED_TRACE(Cell(row, 0).toStdString());
        EXPECT_EQ(Hue(VerdictBackground(row)), QStringLiteral("green"));
        EXPECT_FALSE(Cell(row, 1).isEmpty()) << "each step shows its figures";
        EXPECT_FALSE(Cell(row, 1).contains(QStringLiteral("\":")))
            << "names unquoted: " << Cell(row, 1).toStdString();
    }
    EXPECT_TRUE(Cell(2, 1).contains(QStringLiteral("samples: 1000"))) << Cell(2, 1).toStdString();
    EXPECT_TRUE(Cell(2, 2).contains(QStringLiteral("six_sigma_max: 10"))) << Cell(2, 2).toStdString();
    EXPECT_TRUE(Cell(1, 1).contains(QStringLiteral("t1 example"))) << "the profile applied";

    EXPECT_EQ(form->lblCommissioningVerdict->text(), QStringLiteral("PASS"));
    EXPECT_GE(form->lblCommissioningVerdict->fontInfo().pixelSize(),
              2 * form->edCommissioningPlan->fontInfo().pixelSize());
    EXPECT_EQ(Hue(TextColour(form->lblCommissioningVerdict)), QStringLiteral("green"));
    EXPECT_EQ(form->lblCommissioningReason->text(), QString());
    EXPECT_EQ(LogWith(QStringLiteral("Commissioning step ")).filter(QStringLiteral(": PASS")).size(), 7);
    EXPECT_EQ(form->LogLines().last(), QStringLiteral("Commissioning verdict: PASS"));

    const auto& record = form->CommissioningRecord;
    EXPECT_EQ(record.Verdict, "PASS");
    EXPECT_EQ(record.PlanName, "quick t1");
    EXPECT_EQ(record.Operator, "tester") << "the user's name by default";
    EXPECT_EQ(record.ProfileName, "t1 example");
    EXPECT_EQ(record.AdapterSerial, form->SerijskaK310);
    EXPECT_FALSE(record.SerialNumber.empty());

    EXPECT_TRUE(form->btnCommissioningRun->isEnabled());
#ifdef TARVO_HAVE_RESULTS
    // Stored as tarvo-cli stores a run, and reported beside the database.
    const auto stored = Stored(record.Uuid);
    EXPECT_EQ(stored.Verdict, "PASS");
    EXPECT_EQ(stored.SerialNumber, record.SerialNumber);
    EXPECT_EQ(stored.Operator, "tester");
    EXPECT_EQ(stored.Station, "BENCH-PC");
    EXPECT_EQ(stored.Steps.size(), 7u);
    EXPECT_EQ(stored.PlanHash,
              Sha256Hex(Text(kExamples + QStringLiteral("/plans/quick.json")).toStdString()));
    const QString report = form->lastReportPath_;
    EXPECT_EQ(QFileInfo(report).absolutePath(), QDir(folder.path()).filePath(QStringLiteral("reports")));
    EXPECT_TRUE(Text(report).contains(QString::fromStdString(record.SerialNumber)));
    EXPECT_TRUE(form->btnCommissioningReport->isEnabled());
    EXPECT_EQ(LogWith(QStringLiteral("Commissioning report: ")),
              QStringList{QStringLiteral("Commissioning report: ") + QDir::toNativeSeparators(report)});
    form->btnCommissioningReport->click();
    EXPECT_EQ(dialogs.openedDocuments, QStringList{QDir::toNativeSeparators(report)});
#else
    EXPECT_FALSE(form->btnCommissioningReport->isEnabled()) << "no report was written";
#endif
    EXPECT_FALSE(form->initTimer->isActive()) << "a passing run leaves the adapter search alone";
    EXPECT_TRUE(form->cbReadEncConstantly->isChecked()) << "reading runs again as before the run";
    EXPECT_TRUE(dialogs.shown.empty());
}

// A step whose limit cannot be met fails in red and stops the plan: the later steps are SKIPPED in
// grey, the verdict is FAIL naming the step; a plan that continues on failure runs them. Reading,
// off before the run, stays off.
TEST_F(CommissioningPage, AFailedStepSkipsTheRestUnlessThePlanContinues) {
    struct Case {
        const char* name;
        QString steps;
        QStringList verdicts;
        QStringList hues;
    };
    const QString unreachable =
        QStringLiteral(R"({"step":"signal-level","readings":3,"limits":{"min":1000000}})");
    const Case cases[] = {
        {"stops",
         QStringLiteral(R"({"step":"identify"},)") + unreachable +
             QStringLiteral(R"(,{"step":"noise","samples":100},{"step":"final-read","readings":2})"),
         {"identify: PASS", "signal-level: FAIL", "noise: SKIPPED", "final-read: SKIPPED"},
         {"green", "red", "grey", "grey"}},
        {"continues",
         QStringLiteral(R"({"step":"identify"},)") + unreachable.chopped(1) +
             QStringLiteral(R"(,"continue-on-fail":true},{"step":"final-read","readings":2})"),
         {"identify: PASS", "signal-level: FAIL", "final-read: PASS"},
         {"green", "red", "green"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Connect("t1");
        Run(Plan(c.steps));
        ASSERT_TRUE(Ended());
        EXPECT_EQ(Verdicts(), c.verdicts) << form->LogLines().join('\n').toStdString();
        QStringList hues;
        for (int row = 0; row < form->tblCommissioningSteps->rowCount(); ++row)
            hues << Hue(VerdictBackground(row));
        EXPECT_EQ(hues, c.hues);
        EXPECT_EQ(form->lblCommissioningVerdict->text(), QStringLiteral("FAIL"));
        EXPECT_EQ(Hue(TextColour(form->lblCommissioningVerdict)), QStringLiteral("red"));
        EXPECT_TRUE(form->lblCommissioningReason->text().startsWith(QStringLiteral("signal-level: ")))
            << form->lblCommissioningReason->text().toStdString();
        EXPECT_TRUE(
            Cell(1, 1).endsWith(QString::fromStdString(form->CommissioningRecord.Steps.at(1).Message)))
            << "the failing row says why: " << Cell(1, 1).toStdString();
        EXPECT_EQ(LogWith(QStringLiteral("Commissioning step 2/"))
                      .filter(QStringLiteral("signal-level: FAIL"))
                      .size(),
                  1);
        EXPECT_TRUE(
            form->LogLines().last().startsWith(QStringLiteral("Commissioning verdict: FAIL (signal-level: ")))
            << form->LogLines().last().toStdString();
        EXPECT_FALSE(form->initTimer->isActive()) << "a failed limit is no lost adapter";
        EXPECT_FALSE(form->cbReadEncConstantly->isChecked());
        EXPECT_TRUE(form->btnCommissioningRun->isEnabled());
        EXPECT_TRUE(dialogs.shown.empty());
#ifdef TARVO_HAVE_RESULTS
        const auto stored = Stored(form->CommissioningRecord.Uuid);
        EXPECT_EQ(stored.Verdict, "FAIL");
        QStringList storedVerdicts;
        for (const auto& step : stored.Steps)
            storedVerdicts << QString::fromStdString(step.Name + ": " + step.Verdict);
        EXPECT_EQ(storedVerdicts, c.verdicts);
        EXPECT_TRUE(form->btnCommissioningReport->isEnabled()) << "a failed run has its report too";
#endif
    }
}

// A plan or profile with a mistake is refused in a message box and the log, naming the file and
// the JSON path, and nothing reaches the adapter; the table of the last run stays as it was.
TEST_F(CommissioningPage, ABadPlanIsRefusedBeforeAnythingIsSent) {
    Connect("t1");
    const QString missing = QDir(folder.path()).filePath(QStringLiteral("missing.json"));
    const QString noProfile =
        File(QStringLiteral("noprofile.json"),
             QStringLiteral(
                 R"({"format":1,"plan":"p","profile":"none.json","steps":[{"step":"apply-profile"}]})"));
    const QString badProfile = File(QStringLiteral("badprofile.json"),
                                    QStringLiteral(R"({"format":1,"plan":"p","profile":"bad-profile.json",)"
                                                   R"("steps":[{"step":"apply-profile"}]})"));
    File(QStringLiteral("bad-profile.json"),
         QStringLiteral(
             R"({"format":1,"profile":"bad","encoder":{"type":1,"layout":"legacy","part_number":"*"},)"
             R"("registers":{"POSITION_FILTER":"7a"}})"));
    const struct {
        QString plan;
        QString error; // after "Commissioning plan refused: "
    } cases[] = {
        {QString(), QStringLiteral("no plan file chosen")},
        {missing, QStringLiteral("cannot open ") + missing},
        {File(QStringLiteral("notjson.json"), QStringLiteral("{")),
         QDir(folder.path()).filePath(QStringLiteral("notjson.json")) + QStringLiteral(": not JSON")},
        {Plan(QStringLiteral(R"({"step":"noise","limits":{"six_sigma_max":"7a"}})")),
         QDir(folder.path()).filePath(QStringLiteral("plan.json")) +
             QStringLiteral(": steps[0].limits.six_sigma_max: expected a number, got \"7a\"")},
        {Plan(QStringLiteral(R"({"step":"warm-up"})"), QStringLiteral("unknown.json")),
         QDir(folder.path()).filePath(QStringLiteral("unknown.json")) + QStringLiteral(": steps[0].step")},
        {noProfile, QStringLiteral("profile: cannot open ") +
                        QDir::toNativeSeparators(QDir(folder.path()).filePath(QStringLiteral("none.json")))},
        {badProfile,
         QStringLiteral("profile: ") +
             QDir::toNativeSeparators(QDir(folder.path()).filePath(QStringLiteral("bad-profile.json"))) +
             QStringLiteral(": registers.POSITION_FILTER: expected an integer 0..4294967295, got \"7a\"")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.plan.toStdString());
        dialogs.shown.clear();
        form->Memo1->clear();
        ShowPage(form->tabCommissioning);
        form->edCommissioningPlan->setText(c.plan);
        form->btnCommissioningRun->click();
        ASSERT_EQ(dialogs.shown.size(), 1u);
        EXPECT_EQ(dialogs.shown[0].kind, QStringLiteral("error"));
        EXPECT_TRUE(
            dialogs.shown[0].text.startsWith(QStringLiteral("Commissioning plan refused: ") + c.error))
            << dialogs.shown[0].text.toStdString();
        EXPECT_EQ(form->LogLines(), QStringList{dialogs.shown[0].text});
        EXPECT_FALSE(form->CommissioningRun);
        EXPECT_TRUE(form->btnCommissioningRun->isEnabled());
        EXPECT_EQ(form->tblCommissioningSteps->rowCount(), 0);
        EXPECT_EQ(form->lblCommissioningVerdict->text(), QString());
    }
    EXPECT_TRUE(Commands().isEmpty()) << Commands().join(' ').toStdString();
}

// The adapter unplugged in the middle of the noise step: the step fails saying the port was lost,
// the rest are SKIPPED, the verdict is FAIL, and the adapter search starts again as after any
// failed transaction; reading, on before the run, is not started on a lost port.
TEST_F(CommissioningPage, ALostPortEndsTheRunInFailAndRearmsTheSearch) {
    Connect("t1");
    ReadingFast();
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (PositionReads() < 200) return;
        simulator->Unplug();
        watch.stop();
    });
    watch.start(0);
    Run(Plan(
        QStringLiteral(R"({"step":"noise","samples":100000},{"step":"error-map"},{"step":"final-read"})")));
    ASSERT_TRUE(Ended());
    EXPECT_EQ(Verdicts(), (QStringList{"noise: FAIL", "error-map: SKIPPED", "final-read: SKIPPED"}));
    EXPECT_EQ(form->CommissioningRecord.Steps.at(0).Message.rfind("the adapter's port was lost: ", 0), 0u)
        << form->CommissioningRecord.Steps.at(0).Message;
    EXPECT_EQ(form->lblCommissioningVerdict->text(), QStringLiteral("FAIL"));
    EXPECT_TRUE(
        form->lblCommissioningReason->text().startsWith(QStringLiteral("noise: the adapter's port was lost")))
        << form->lblCommissioningReason->text().toStdString();
    EXPECT_TRUE(form->initTimer->isActive()) << "the adapter search is re-armed";
    EXPECT_FALSE(form->cbReadEncConstantly->isChecked());
    EXPECT_TRUE(form->btnCommissioningRun->isEnabled());
#ifdef TARVO_HAVE_RESULTS
    EXPECT_EQ(Stored(form->CommissioningRecord.Uuid).Verdict, "FAIL");
#endif
}

// Closing the window, or a close seen by the step's handler, ends the run before its next step:
// INTERRUPTED with the reason, the steps not reached say so, nothing is left running and no more
// commands go out.
TEST_F(CommissioningPage, ClosingTheWindowEndsARunCleanly) {
    const struct {
        const char* name;
        std::function<void(TMainForm&)> close;
    } cases[] = {
        {"close", [](TMainForm& form) { form.close(); }},
        {"terminating", [](TMainForm&) { Orodja::SetApplicationTerminating(true); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Connect("t1");
        form->show();
        Run(Plan(QStringLiteral(
            R"({"step":"identify"},{"step":"noise","samples":1000000},{"step":"final-read"})")));
        ASSERT_TRUE(app_testing::WaitFor([&] { return PositionReads() >= 50; }, 10000));
        c.close(*form);
        ASSERT_TRUE(Ended(5000));
        EXPECT_FALSE(form->tmrCommissioningStep->isActive());
        EXPECT_EQ(form->CommissioningRecord.Verdict, "INTERRUPTED");
        EXPECT_EQ(form->lblCommissioningVerdict->text(), QStringLiteral("INTERRUPTED"));
        EXPECT_EQ(form->lblCommissioningReason->text(), QStringLiteral("the window was closed"));
        EXPECT_EQ(Verdicts(), (QStringList{"identify: PASS", "noise: not run", "final-read: not run"}));
        EXPECT_EQ(form->LogLines().last(),
                  QStringLiteral("Commissioning verdict: INTERRUPTED (the window was closed)"));
        EXPECT_FALSE(form->initTimer->isActive());
#ifdef TARVO_HAVE_RESULTS
        EXPECT_EQ(Stored(form->CommissioningRecord.Uuid).Verdict, "INTERRUPTED") << "stored as it ended";
#endif
        const qsizetype sent = Commands().size();
        QCoreApplication::processEvents();
        EXPECT_EQ(Commands().size(), sent) << "nothing is sent after the run ended";
        Orodja::SetApplicationTerminating(false);
    }
}

#ifdef TARVO_HAVE_RESULTS
// What the record could not take is never passed over: a database that cannot be opened keeps the
// run from starting, with nothing sent; a report that cannot be written leaves the run stored and
// says so beside the verdict and in a box, with no report to open; a report gone since the run is
// said to be gone, and one that no program shows is said not shown.
TEST_F(CommissioningPage, WhatCannotBeRecordedIsSaid) {
    const QString plan = Plan(QStringLiteral(R"({"step":"identify"},{"step":"final-read","readings":2})"));
    const auto blockWith = [&](const QString& name) { File(name, QStringLiteral("a file, not a folder")); };

    // The database's folder is a file.
    blockWith(QStringLiteral("blocker"));
    databaseOverride = QDir(folder.path()).filePath(QStringLiteral("blocker/results.sqlite"));
    Connect("t1");
    databaseOverride.clear();
    form->edCommissioningPlan->setText(plan);
    ShowPage(form->tabCommissioning);
    form->btnCommissioningRun->click();
    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_TRUE(dialogs.shown[0].text.startsWith(QStringLiteral("Commissioning not started: ")))
        << dialogs.shown[0].text.toStdString();
    EXPECT_FALSE(form->CommissioningRun);
    EXPECT_TRUE(Commands().isEmpty()) << Commands().join(' ').toStdString();

    // The reports' folder is a file.
    blockWith(QStringLiteral("reports"));
    Connect("t1");
    Run(plan);
    ASSERT_TRUE(Ended());
    EXPECT_EQ(form->CommissioningRecord.Verdict, "PASS") << "the encoder passed";
    EXPECT_EQ(Stored(form->CommissioningRecord.Uuid).Verdict, "PASS") << "and is on record";
    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_TRUE(dialogs.shown[0].text.startsWith(
        QStringLiteral("Commissioning record: the report could not be written: ")))
        << dialogs.shown[0].text.toStdString();
    EXPECT_TRUE(dialogs.shown[0].text.contains(QStringLiteral("results report ") +
                                               QString::fromStdString(form->CommissioningRecord.Uuid)))
        << "says how to make it again";
    EXPECT_TRUE(
        form->lblCommissioningReason->text().contains(QStringLiteral("the report could not be written")));
    EXPECT_FALSE(form->btnCommissioningReport->isEnabled());
    EXPECT_TRUE(form->lastReportPath_.isEmpty());
    QFile::remove(QDir(folder.path()).filePath(QStringLiteral("reports")));

    // A report written, then gone; then one no program shows.
    dialogs.shown.clear();
    Run(plan);
    ASSERT_TRUE(Ended());
    ASSERT_TRUE(form->btnCommissioningReport->isEnabled());
    const QString report = form->lastReportPath_;
    dialogs.documentOpens = false;
    form->btnCommissioningReport->click();
    ASSERT_EQ(dialogs.Texts(),
              QStringList{QStringLiteral("No program could be started to show the report: ") + report});
    ASSERT_TRUE(QFile::remove(report));
    form->btnCommissioningReport->click();
    EXPECT_EQ(dialogs.Texts().last(), QStringLiteral("The report is no longer there: ") + report);
    EXPECT_EQ(dialogs.openedDocuments, QStringList{report}) << "a gone report is not handed on";
}
#endif

// The page is there for every user, after the eight pages of the window, and keeps to the
// window's font; the operator is the user's name until changed.
TEST_F(CommissioningPage, ThePageIsAlwaysShownAfterTheOthers) {
    for (const QString& user : {QStringLiteral("tester"), QStringLiteral("TEVAN ")}) {
        SCOPED_TRACE(user.toStdString());
        app_testing::RecordingDialogs own;
        TMainForm window(app_testing::TestOptions(own, user));
        window.show();
        const int index = window.Page->indexOf(window.tabCommissioning);
        EXPECT_EQ(index, 8);
        EXPECT_EQ(window.Page->tabText(index), QStringLiteral("Commissioning"));
        EXPECT_TRUE(window.Page->isTabVisible(index));
        EXPECT_EQ(window.edCommissioningOperator->text(), user.trimmed());
        EXPECT_FALSE(window.btnCommissioningReport->isEnabled());
        EXPECT_EQ(window.btnCommissioningRun->fontInfo().family(),
                  window.btnReadEncoder->fontInfo().family());
        EXPECT_EQ(window.btnCommissioningRun->fontInfo().pixelSize(), 11);
    }
}

} // namespace
