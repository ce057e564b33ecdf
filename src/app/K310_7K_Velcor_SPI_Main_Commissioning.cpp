// The Commissioning page: a plan run on the connected encoder by the procedures' commissioning
// step machine, the same one tarvo-cli runs, so both reach the same verdicts. Here are only the
// window's sides of it: the plan's file dialog, the table of steps, the verdict, and the timer that
// takes one step each time the step's wait is over, so the window stays responsive and no handler
// waits inside another.
#include "K310_7K_Velcor_SPI_Main.h"

#include "CommissioningPlan.h"
#include "FiguresText.h"
#include "K310_BiSS_bidirectional.h"
#include "QtRoutines.h"
#include "SystemInfo.h"

#include <filesystem>

#include <QDir>
#include <QFileInfo>
#include <QHeaderView>
#include <QTableWidgetItem>

namespace {

enum TStepColumn { kColumnStep, kColumnFigures, kColumnLimits, kColumnVerdict };

const QString kPlanFilter = QStringLiteral("Commissioning plans (*.json);;All files (*)");
const QString kLostPort = QStringLiteral("the adapter's port was lost");

// A figures or limits object of the record as a line to read (the whole JSON stays in the cell's
// tool tip).
QString ReadableObject(const std::string& json) {
    return QString::fromUtf8(Procedures::ReadableFigures(json));
}

QTableWidgetItem* Cell(QTableWidget* table, int row, int column) {
    QTableWidgetItem* item = table->item(row, column);
    if (!item) {
        item = new QTableWidgetItem;
        table->setItem(row, column, item);
    }
    return item;
}

} // namespace

QColor TMainForm::CommissioningVerdictColour(const QString& verdict) {
    if (verdict == QLatin1String(Procedures::kVerdictPass)) return QColor(0x5c, 0xd6, 0x5c);
    if (verdict == QLatin1String(Procedures::kVerdictFail)) return QColor(0xff, 0x5b, 0x5b);
    if (verdict == QLatin1String(Procedures::kVerdictSkipped)) return QColor(0xc0, 0xc0, 0xc0);
    if (verdict == QLatin1String(Procedures::kVerdictInterrupted)) return QColor(0xff, 0xaa, 0x00);
    return {};
}

void TMainForm::SetUpCommissioningPage() {
    const QString user = options_.userName.value_or(QString::fromLocal8Bit(platform::UserName()));
    edCommissioningOperator->setText(user.trimmed());
    edCommissioningPlan->setText(options_.commissioningPlan);
    QHeaderView* header = tblCommissioningSteps->horizontalHeader();
    header->setSectionResizeMode(QHeaderView::Interactive);
    header->setStretchLastSection(true);
    // The verdict column takes what the others leave; long figures wrap instead of scrolling.
    tblCommissioningSteps->setColumnWidth(kColumnStep, 86);
    tblCommissioningSteps->setColumnWidth(kColumnFigures, 226);
    tblCommissioningSteps->setColumnWidth(kColumnLimits, 128);
    tblCommissioningSteps->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    tblCommissioningSteps->verticalHeader()->setDefaultSectionSize(19);
    tblCommissioningSteps->verticalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    tblCommissioningSteps->setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    btnCommissioningReport->setEnabled(false);
}

void TMainForm::btnCommissioningPlanBrowseClick() {
    const QString file = Dialogs().getOpenFileName(QStringLiteral("Commissioning plan"), kPlanFilter);
    if (!file.isEmpty()) edCommissioningPlan->setText(file);
}

void TMainForm::btnCommissioningRunClick() {
    if (CommissioningRun) return; // the button is disabled while a run goes on
    const QString path = edCommissioningPlan->text().trimmed();
    // The plan and its profile are checked whole before anything reaches the encoder.
    Procedures::TCommissioningPlan plan;
    std::optional<Procedures::TConfigProfile> profile;
    std::string error, planText;
    if (path.isEmpty()) error = "no plan file chosen";
    if (!error.empty() ||
        !Procedures::LoadPlanWithProfile(path.toStdString(), plan, profile, error, &planText)) {
        const QString text = QStringLiteral("Commissioning plan refused: ") + QString::fromUtf8(error);
        AddLog(text);
        Dialogs().error(text);
        return;
    }
#ifdef TARVO_HAVE_RESULTS
    // The store next: a run that could not be recorded is not started.
    auto recorder = std::make_unique<Results::TRunRecorder>();
    const std::filesystem::path database =
        options_.resultsDatabase.isEmpty() ? Results::DefaultResultsPath()
                                           : std::filesystem::path(options_.resultsDatabase.toStdWString());
    if (database.empty()) error = "no data folder is known for the results database";
    if (!error.empty() || !recorder->Open(database, {}, error)) {
        const QString text = QStringLiteral("Commissioning not started: ") + QString::fromUtf8(error);
        AddLog(text);
        Dialogs().error(text);
        return;
    }
#endif

    CommissioningPlan = std::move(plan);
    CommissioningTraffic.Profile = std::move(profile);
    CommissioningRecord = {};
    Procedures::TCommissioningRunRecord& record = CommissioningRecord;
    const QString who = edCommissioningOperator->text().trimmed();
    record.Operator = who.isEmpty() ? platform::UserName() : who.toStdString();
    record.Station = options_.computerName ? options_.computerName->toStdString() : platform::ComputerName();
    record.AdapterPort = AdapterPortPath;
    record.AdapterSerial = SerijskaK310;
    record.AdapterVersion = K310Version;
    Procedures::RecordProfile(record, CommissioningTraffic.Profile);
#ifdef TARVO_HAVE_RESULTS
    recorder->Prepare(record, planText);
    CommissioningRecorder = std::move(recorder);
#endif

    const int steps = static_cast<int>(CommissioningPlan.Steps.size());
    tblCommissioningSteps->clearContents();
    tblCommissioningSteps->setRowCount(steps);
    for (int row = 0; row < steps; ++row)
        Cell(tblCommissioningSteps, row, kColumnStep)
            ->setText(
                QString::fromLatin1(Procedures::PlanStepName(CommissioningPlan.Steps[size_t(row)].Kind)));
    lblCommissioningVerdict->setText(QString());
    lblCommissioningReason->setText(QStringLiteral("Running plan \"") +
                                    QString::fromUtf8(CommissioningPlan.Name) + QStringLiteral("\"..."));
    lastReportPath_.clear();
    btnCommissioningReport->setEnabled(false);
    btnCommissioningRun->setEnabled(false);
    AddLog(QStringLiteral("Commissioning: plan \"") + QString::fromUtf8(CommissioningPlan.Name) +
           QStringLiteral("\" from ") + path);

    // Reading is paused for the run, not stopped: it runs again afterwards only if it ran before.
    commissioningWasReading_ = cbReadEncConstantly->isChecked();
    cbReadEncConstantly->setChecked(false);

    CommissioningRun = std::make_unique<Procedures::TCommissioningRun>(
        CommissioningPlan, CommissioningTraffic, CommissioningRecord,
        [this](const Procedures::TCommissioningStepRecord& step,
               const std::vector<Procedures::TCommissioningSeries>& series) {
#ifdef TARVO_HAVE_RESULTS
            if (CommissioningRecorder)
                CommissioningRecorder->StepEnded(CommissioningRecord.Uuid, step, series);
#else
            (void)series;
#endif
            ShowCommissioningStep(step);
        },
        [this](const std::string& line) {
            AddLog(QStringLiteral("Commissioning step ") + QString::fromUtf8(line));
        });
#ifdef TARVO_HAVE_RESULTS
    // The engine says when the run has its identity, always before its first step is recorded.
    CommissioningRun->Started = [this] {
        if (CommissioningRecorder) CommissioningRecorder->Begin(CommissioningRecord);
    };
#endif
    Procedures::TNextStep next;
    {
        TAdapterAction busy(*this);
        next = CommissioningRun->Start();
    }
    ShowCommissioningProgress();
    if (next.Done || StopCommissioningOnStoreProblem())
        EndCommissioningRun();
    else
        tmrCommissioningStep->start(next.WaitMs);
}

bool TMainForm::StopCommissioningOnStoreProblem() {
#ifdef TARVO_HAVE_RESULTS
    if (CommissioningRun && CommissioningRecorder && !CommissioningRecorder->Problem().empty()) {
        CommissioningRun->Stop(Results::StoreFailureReason(CommissioningRecorder->Problem()));
        return true;
    }
#endif
    return false;
}

void TMainForm::tmrCommissioningStepTimer() {
    if (!CommissioningRun) return;
    if (Orodja::ApplicationTerminating()) {
        CommissioningRun->Stop("the window was closed");
        EndCommissioningRun();
        return;
    }
    Procedures::TNextStep next;
    {
        TAdapterAction busy(*this);
        next = CommissioningRun->Step();
    }
    if (next.Done || StopCommissioningOnStoreProblem()) {
        EndCommissioningRun();
        return;
    }
    ShowCommissioningProgress();
    tmrCommissioningStep->start(next.WaitMs);
}

void TMainForm::ShowCommissioningStep(const Procedures::TCommissioningStepRecord& step) {
    const int row = step.Order - 1;
    if (row < 0 || row >= tblCommissioningSteps->rowCount()) return;
    const QString verdict = QString::fromLatin1(step.Verdict);
    const QString message = QString::fromUtf8(step.Message);
    QString figures = ReadableObject(step.Figures);
    if (!message.isEmpty()) figures += (figures.isEmpty() ? QString() : QStringLiteral("; ")) + message;
    QTableWidgetItem* figuresCell = Cell(tblCommissioningSteps, row, kColumnFigures);
    figuresCell->setText(figures);
    figuresCell->setToolTip(QString::fromUtf8(step.Figures) +
                            (message.isEmpty() ? QString() : QStringLiteral("\nwhy: ") + message));
    QTableWidgetItem* limitsCell = Cell(tblCommissioningSteps, row, kColumnLimits);
    limitsCell->setText(ReadableObject(step.Limits));
    limitsCell->setToolTip(QString::fromUtf8(step.Limits));
    QTableWidgetItem* verdictCell = Cell(tblCommissioningSteps, row, kColumnVerdict);
    verdictCell->setText(verdict);
    verdictCell->setTextAlignment(Qt::AlignCenter);
    verdictCell->setBackground(CommissioningVerdictColour(verdict));
    verdictCell->setToolTip(message);
    if (step.Verdict == Procedures::kVerdictSkipped)
        for (QTableWidgetItem* cell :
             {Cell(tblCommissioningSteps, row, kColumnStep), figuresCell, limitsCell})
            cell->setForeground(QColor(0x80, 0x80, 0x80));
    tblCommissioningSteps->scrollToItem(verdictCell);

    QString line = QStringLiteral("Commissioning step ") + QString::number(step.Order) + QLatin1Char('/') +
                   QString::number(tblCommissioningSteps->rowCount()) + QLatin1Char(' ') +
                   QString::fromLatin1(step.Name) + QStringLiteral(": ") + verdict;
    if (step.Verdict != Procedures::kVerdictSkipped && !message.isEmpty())
        line += QStringLiteral(" (") + message + QLatin1Char(')');
    AddLog(line);
}

void TMainForm::ShowCommissioningProgress() {
    if (!CommissioningRun || !CommissioningRun->Running()) return;
    const int row = static_cast<int>(CommissioningRun->CurrentStep());
    if (row >= tblCommissioningSteps->rowCount()) return;
    const int percent = static_cast<int>(CommissioningRun->StepProgress() * 100 + 0.5);
    const QString text = percent > 0
                             ? QStringLiteral("running ") + QString::number(percent) + QStringLiteral(" %")
                             : QStringLiteral("running");
    QTableWidgetItem* cell = Cell(tblCommissioningSteps, row, kColumnVerdict);
    if (cell->text() == text) return;
    cell->setText(text);
    cell->setTextAlignment(Qt::AlignCenter);
    if (percent == 0) tblCommissioningSteps->scrollToItem(cell);
}

void TMainForm::EndCommissioningRun() {
    tmrCommissioningStep->stop();
    const Procedures::TCommissioningRunRecord& record = CommissioningRecord;
    const QString verdict = QString::fromLatin1(record.Verdict);
    QString reason = QString::fromUtf8(record.VerdictReason);
    // The verdict is stored and the report written before anything says the run has ended.
    QString recordProblem;
#ifdef TARVO_HAVE_RESULTS
    if (CommissioningRecorder) {
        CommissioningRecorder->Finish(record);
        recordProblem = QString::fromUtf8(CommissioningRecorder->Problem());
        lastReportPath_ = QDir::toNativeSeparators(QString::fromUtf8(CommissioningRecorder->ReportPath()));
        CommissioningRecorder.reset();
    }
#endif
    // What the record lacks is said beside the verdict and in a box: the operator must not take
    // the encoder as recorded when it is not.
    if (!recordProblem.isEmpty())
        reason += (reason.isEmpty() ? QString() : QStringLiteral("; ")) + recordProblem;
    // Steps that never reached a verdict (a run stopped half way) say so instead of "running".
    for (int row = static_cast<int>(record.Steps.size()); row < tblCommissioningSteps->rowCount(); ++row) {
        QTableWidgetItem* cell = Cell(tblCommissioningSteps, row, kColumnVerdict);
        cell->setText(QStringLiteral("not run"));
        cell->setTextAlignment(Qt::AlignCenter);
    }
    lblCommissioningVerdict->setText(verdict);
    lblCommissioningVerdict->setStyleSheet(
        QStringLiteral("font-family: 'Tahoma'; font-size: 29px; font-weight: bold; color: %1;")
            .arg(CommissioningVerdictColour(verdict)
                     .darker(verdict == QLatin1String("PASS") ? 160 : 120)
                     .name()));
    lblCommissioningReason->setText(reason);
    // The first failed step in sight, or the plan's beginning.
    int firstFailed = 0;
    for (const auto& step : record.Steps)
        if (step.Verdict == Procedures::kVerdictFail) {
            firstFailed = step.Order - 1;
            break;
        }
    if (tblCommissioningSteps->rowCount() > 0)
        tblCommissioningSteps->scrollToItem(Cell(tblCommissioningSteps, firstFailed, kColumnStep),
                                            QAbstractItemView::PositionAtTop);
    // The verdict is the log's last word on the run; where its record went comes before it.
    if (!lastReportPath_.isEmpty()) AddLog(QStringLiteral("Commissioning report: ") + lastReportPath_);
    if (!recordProblem.isEmpty()) AddLog(QStringLiteral("Commissioning record: ") + recordProblem);
    AddLog(QStringLiteral("Commissioning verdict: ") + verdict +
           (reason.isEmpty() ? QString() : QStringLiteral(" (") + reason + QLatin1Char(')')));

    // A lost port re-arms the adapter search, as any failed transaction does in the window.
    bool portLost = false;
    for (const auto& step : record.Steps)
        portLost = portLost || QString::fromUtf8(step.Message).startsWith(kLostPort);
    if (record.Verdict == Procedures::kVerdictFail && K310_BiSS_bidirectional::EncoderPosition.ErrComm < 0)
        portLost = true;
    const bool closing = Orodja::ApplicationTerminating();
    if (portLost && !closing) RestartAdapterSearch();

    if (!recordProblem.isEmpty() && !closing)
        Dialogs().error(QStringLiteral("Commissioning record: ") + recordProblem);
    btnCommissioningReport->setEnabled(!lastReportPath_.isEmpty());

    CommissioningRun.reset();
    btnCommissioningRun->setEnabled(true);
    if (commissioningWasReading_ && !portLost && !closing) cbReadEncConstantly->setChecked(true);
    commissioningWasReading_ = false;
}

void TMainForm::btnCommissioningReportClick() {
    if (lastReportPath_.isEmpty()) return;
    if (!QFileInfo::exists(lastReportPath_)) {
        Dialogs().error(QStringLiteral("The report is no longer there: ") + lastReportPath_);
        return;
    }
    if (!Dialogs().openDocument(lastReportPath_))
        Dialogs().error(QStringLiteral("No program could be started to show the report: ") + lastReportPath_);
}
