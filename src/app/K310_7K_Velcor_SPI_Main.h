// The workbench's one window. Every action of the program is a handler of this class; the
// handlers of each page or workflow live in their own source file (K310_7K_Velcor_SPI_Main_*.cpp).
#pragma once

#include "AdapterDiscovery.h"
#include "AirGapModel.h"
#include "Commissioning.h"
#include "DebugRecording.h"
#include "Dialogs.h"
#include "NoiseTest.h"
#include "PowerCycleRun.h"
#include "PowerCycling.h"
#include "VelcorTraffic.h"
#ifdef TARVO_HAVE_RESULTS
#include "RunRecorder.h"
#endif
#include "ui_K310_7K_Velcor_SPI_Main.h"

#include <QColor>
#include <QFileDialog>
#include <QMargins>
#include <QPoint>
#include <QRect>
#include <QSize>
#include <QString>
#include <QTimer>
#include <QWidget>

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <vector>

class QSocketNotifier;
class TChartSeries;
class TChartView;
class TWindowTraffic;

// What the program (or a test) decides about the window before it is created.
struct TMainFormOptions {
    // Replace what the system reports; tests use them for the caption and the user-name rule.
    std::optional<QString> versionText;
    std::optional<QString> computerName;
    std::optional<QString> userName;
    // Ports tried before any discovered one, in this order (--port, the built-in simulator).
    std::vector<std::string> explicitPorts;
    // Where the adapter search finds candidate ports; empty: the USB CDC ports of the system.
    AdapterDiscovery::CandidateSource candidates;
    // Message boxes, sound and busy cursor; null: the toolkit's own. Not owned.
    TDialogs* dialogs = nullptr;
    // Where recordings go; empty: beside the program, or the user's documents folder when the
    // program is installed for the whole system.
    QString recordingDirectory;
    // How a recording's bytes reach its file; empty: straight to the file. Tests put a disk that
    // fills up here.
    Procedures::TRecordWriteFunction recordingWrite;
    // How often a running recording checks that its file is still there, also while no reading
    // succeeds.
    int recordingCheckMs = static_cast<int>(Procedures::TDebugRecordFile::kNameCheckMs);
    // The results database commissioning runs are stored in (reports go into "reports" beside
    // it); empty: the user's data folder, as tarvo-cli's default.
    QString resultsDatabase;
    // The plan the Commissioning page starts with (--plan); empty: none chosen.
    QString commissioningPlan;
};

class TMainForm : public QWidget, public Ui::TMainForm {
    Q_OBJECT

public:
    explicit TMainForm(TMainFormOptions options = {}, QWidget* parent = nullptr);
    ~TMainForm() override; // FormDestroy

    // The window's text of the design, before FormCreate extends it.
    static constexpr const char* kDesignCaption = "Tarvo-2 & Tarvo-4 SPI Velcor";
    // The designed place of the window's frame and the size of its client area.
    static constexpr QPoint kDesignPlace{67, 213};
    static constexpr QSize kDesignSize{801, 586};

    // State shared by the pages (see each page's file for who writes what).
    std::vector<int32_t> COMPortList;
    int32_t CycReadWait = 0;
    // The recording while its box is ticked; it keeps its own start time.
    Procedures::TDebugRecordFile ShraniFajl;
    // Why the last recording ended on its own (its file could not be made or written, or was
    // deleted); empty when it did not.
    QString RecordingFailure;
    uint8_t SelfCalCounterStart = 0;
    int32_t K310PowerReadCounter = 0;
    float AirGap = 0, AirGapK = 0, AirGapN = 0;
    QString SelfCalResultStart;
    bool StatBeriSignalLevel = false;
    double EncoderResolution = 0;
    double EncoderPosition_unit = 0, EncPosDegST = 0, EncPosDegOld = 0;
    // The power-cycling test's PowerOnStatus, EncPosDegOldMTtest, CikliranjeSmer and
    // CikliranjeSmerInit; PowerOnStatus survives between runs.
    Procedures::TPowerCycleState PowerCycle;
    // The running power-cycling and noise tests (their step machines), or null.
    std::unique_ptr<Procedures::TPowerCycleRun> PowerCycleRun;
    std::unique_ptr<Procedures::TNoiseRun> NoiseRun;
    // One step of the noise test per turn of the event loop.
    QTimer* tmrNoiseStep = nullptr;
    // How the last reading pass went, as the test procedures judge a reading: its position read
    // failed, or its reply was no whole frame or failed its CRC (which the display still shows).
    struct TPassOutcome {
        // The protocol call returned a position: a failed one leaves the previous position and its
        // clean flags behind, which nothing may take for the present one.
        bool Decoded = false;
        bool Read = false;     // decoded, and a whole frame that passed its CRC
        bool LinkLost = false; // a failed transaction: the adapter search is re-armed
        std::string Reason;
    };
    TPassOutcome LastPass;
    std::set<std::string> COMPorts; // zero-padded port numbers: sorted, each once
    std::string K310Version;
    int32_t K310VerzijaFW = 0;
    int32_t K310RevizijaFW = 0;
    std::string SerijskaK310;
    int32_t EncDolzinaKode = 0;
    // The path of the adapter's port as the search found it (the commissioning record names it).
    std::string AdapterPortPath;

    // The commissioning run: its plan, traffic and record live as long as the run that refers to
    // them (and the record after it, for the report); the run is null when none goes on.
    Procedures::TCommissioningPlan CommissioningPlan;
    Procedures::TVelcorTraffic CommissioningTraffic;
    Procedures::TCommissioningRunRecord CommissioningRecord;
    std::unique_ptr<Procedures::TCommissioningRun> CommissioningRun;
#ifdef TARVO_HAVE_RESULTS
    // Stores the run as it goes and writes its report; open from "Run" to the run's end.
    std::unique_ptr<Results::TRunRecorder> CommissioningRecorder;
#endif
    // One step of the run each time it comes due, after the wait the step asked for.
    QTimer* tmrCommissioningStep = nullptr;

    // Timers and the save dialog of the design.
    QTimer* initTimer = nullptr;
    QTimer* tmrSelfCalWait = nullptr;
    QTimer* timerOnOff = nullptr;
    // Continuous reading: a single-shot timer, so at most one cycle exists however often the box
    // is switched, and no handler waits inside another for reading to end.
    QTimer* tmrReadCycle = nullptr;
    // While recording: checks that the recording's file is still there.
    QTimer* tmrRecordingCheck = nullptr;
    QFileDialog* SaveDialog1 = nullptr;

    // The charts (design settings, timed redraw, zoom) and their series; owned by the window.
    TChartView* SignalLevelChart = nullptr;
    TChartView* DebugChart = nullptr;
    TChartView* ErrMapChart = nullptr;
    TChartSeries* SeriesGreen = nullptr;
    TChartSeries* SeriesBlue = nullptr;
    TChartSeries* SeriesDebug = nullptr;
    TChartSeries* Series2 = nullptr;
    TChartSeries* Series1 = nullptr;
    // Position of the last air-gap point (NaN: none since the curve was cleared).
    double AirGapPointPosition = 0;

    // The window's own handlers.
    void FormKeyUp(int key, Qt::KeyboardModifiers modifiers, Qt::MouseButtons buttons);
    void PageChange();

    // Adapter search.
    void initTimerTimer();
    // Supply, clock, GAME mode.
    void btnPowerONClick();
    void btnPowerOFFClick();
    void cmbFreqSPIChange();
    void cbVelcorZBGAMEClick();
    // Connection workflow.
    void btnConnectEncoderClick();
    void seNominatorChange();
    // Sizes the encoder's text in the top band, and its box, to the text.
    void FitEncoderInfo();
    // Reading cycle.
    void btnReadEncoderClick();
    void cbReadEncConstantlyClick();
    void seDelayBetweenReadingsChange();
    // One pass of continuous reading, when tmrReadCycle comes due.
    void tmrReadCycleTimer();
    // Signal-level and temperature charts.
    void cbDrawTempClick();
    void cbDrawAirGapClick();
    void lblSignalLevelClick();
    void ChartSignalLevelDblClick();
    // Empties both series of the Signal level chart (mode change, supply switched on).
    void ClearSignalLevelChart();
    // Parts of a reading pass that belong to the Debug page and to the recording; false when the
    // record could not be written (reported), which ends the pass.
    void UpdateDebugPage();
    bool WriteDebugRecord();
    // Recording, the Debug page's unlock.
    void cbShranjujMeritveDebugClick();
    void tmrRecordingCheckTimer();
    void btnDebugUnlockClick();
    QString RecordingDirectory() const;
    // Power-cycling and noise tests.
    void cbCiklirajIzklopeClick();
    void timerOnOffTimer();
    void seIzklopDelayMinChange();
    void btnPositionNoiseClick();
    // One reading of the noise test, and its report at the end.
    void tmrNoiseStepTimer();
    // Page refreshes run by PageChange.
    void ConfigurationRefresh();
    void SelfCalibrationRefresh();
    // Configuration page.
    void btnWriteZeroClick();
    void btnWriteFilterClick();
    void btnMTerrArcWriteClick();
    void btnApplyMTClick();
    void btnSaveFlashClick();
    void btnFactoryResetClick();
    void btnTarvoSetZeroClick();
    // Configuration profiles: the page's registers to a file and back.
    void btnSaveProfileClick();
    void btnLoadProfileClick();
    // Diagnostics page.
    void btnDecodingSafetyResetClick();
    void cbPersistentStatusClick();
    void cbDetailedStatusClick();
    void btnClearPersistentStatusClick();
    void btnResetVelcorProtocolClick();
    void btnReadWriteAccessRegisterClick();
    // Self-calibration: start, one step of the wait, the completion test of the wait, status.
    void btnSelfCalStartClick();
    void tmrSelfCalWaitTimer();
    bool SelfCalCompleted();
    void btnSelfCalReadStatusClick();
    // The eleven status panels, top to bottom.
    std::vector<QWidget*> SelfCalStatusPanels() const;
    // Error map.
    void btnReadErrMapClick();
    // Commissioning page: choose a plan, run it step by step, open the run's report.
    void btnCommissioningPlanBrowseClick();
    void btnCommissioningRunClick();
    void tmrCommissioningStepTimer();
    void btnCommissioningReportClick();
    // The report of the last run, empty until one was written.
    QString lastReportPath_;
    // The colour of a verdict (PASS, FAIL, SKIPPED, INTERRUPTED): its table cell's background.
    static QColor CommissioningVerdictColour(const QString& verdict);

    // The log keeps this many of its last lines.
    static constexpr int kLogLinesKept = 10000;
    // The log: one line per call; CR LF (or a lone CR or LF) inside starts a new line.
    void AddLog(const QString& text);
    QStringList LogLines() const;

    // " Power " radio group: 0 = "3.3 V", 1 = "5 V".
    int PowerSelIndex() const;
    void SetPowerSelIndex(int index);

    // The watch of the adapter's port while no handler talks to it is off while one of these
    // lives, and follows PortHandle again when the last one ends.
    class TIdleWatchPause {
    public:
        explicit TIdleWatchPause(TMainForm& form);
        ~TIdleWatchPause();
        TIdleWatchPause(const TIdleWatchPause&) = delete;
        TIdleWatchPause& operator=(const TIdleWatchPause&) = delete;

    private:
        TMainForm& form_;
    };

    // Every handler that talks to the adapter holds one of these while it runs: a reading pass
    // that comes due meanwhile (inside the action's waits, message boxes or message processing)
    // is held until the action has returned, so no position command lands in the middle of the
    // action's traffic; and the idle watch keeps off the port the action's transactions read.
    class TAdapterAction {
    public:
        explicit TAdapterAction(TMainForm& form);
        ~TAdapterAction();
        TAdapterAction(const TAdapterAction&) = delete;
        TAdapterAction& operator=(const TAdapterAction&) = delete;

    private:
        TMainForm& form_;
        TIdleWatchPause watchPause_{form_};
    };
    bool AdapterActionRunning() const {
        return adapterActions_ > 0;
    }

    TDialogs& Dialogs() {
        return *dialogs_;
    }
    // Starts the adapter search after initTimer's current interval, unless already pending.
    void RestartAdapterSearch();
    // The adapter's port watched while idle: true while a hang-up or stale input would be seen.
    bool IdleWatchActive() const;

protected:
    void closeEvent(QCloseEvent* event) override; // FormClose
    void showEvent(QShowEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void FormCreate();
    // Puts the window at WindowPlace for the screen of the designed place and the frame margins
    // known now; again only when the margins change (the window manager adds the frame late).
    void PlaceOnScreen();
    void ConnectHandlers();
    void SetUpCharts();
    void ReportRejections(const AdapterDiscovery::Result& result);
    std::vector<AdapterDiscovery::Candidate> OrderedCandidates();
    void ScheduleReadingPass();
    // One edit's value to one register (Write Zero, Write Filter, Write MT arc); `what` names the
    // value in the range-check message, which refuses anything but a whole number from 0 to
    // `maxValue`. True when the encoder took the value.
    bool WriteEditToRegister(QLineEdit* edit, const QString& what, uint32_t address, uint8_t length,
                             int64_t maxValue);
    // Apply MT: true when the counter was preset.
    bool ApplyMultiturnPreset();
    // Save to NVRAM; the zero preset saves without starting continuous reading again.
    void SaveToNvramAction(bool restartReading);
    // The confirmation of a save or factory reset, or its failure in the log and a warning.
    void ReportNvramOutcome(bool done, const QString& doneText, const QString& failedText,
                            const QString& reason);
    void DebugUnlockAndHide();
    // Ends a recording that cannot go on (the writer has closed its file): says why once, in the
    // log and in a warning, and clears the box.
    void EndFailedRecording();
    void EndAdapterAction();
    // Commissioning: the page's start state, a step's row, the running step's progress, and the
    // end of a run (verdict, log, reading restored, search re-armed after a lost port).
    void SetUpCommissioningPage();
    void ShowCommissioningStep(const Procedures::TCommissioningStepRecord& step);
    void ShowCommissioningProgress();
    void EndCommissioningRun();
    // Stops the run when the results database could not take its last part; true when it did.
    bool StopCommissioningOnStoreProblem();
    // The idle watch: armed on PortHandle when no action runs, dropped before the port closes.
    void ArmIdleWatch();
    void DropIdleWatch();
    void IdlePortSignalled();

    TMainFormOptions options_;
    std::unique_ptr<TQtDialogs> ownDialogs_;
    TDialogs* dialogs_ = nullptr;
    bool firstSearchDone_ = false;
    // The test procedures' traffic through this window.
    std::unique_ptr<TWindowTraffic> procedureTraffic_;
    int adapterActions_ = 0; // handlers talking to the adapter, nested
    // Watches PortHandle for a hang-up or stale bytes while no handler talks to the adapter: the
    // event loop watches its descriptor where it has one; elsewhere (Windows, the in-process port)
    // the port is asked twice a second.
    QSocketNotifier* idleWatch_ = nullptr;
    QTimer* idlePoll_ = nullptr;
    int idleWatchPauses_ = 0;
    bool idlePortLost_ = false; // the watched port hung up; the search closes it
    bool readingPassHeld_ = false;
    std::optional<QMargins> placedWithFrame_; // the frame margins of the last placement
    // Why each port was last passed over, as the log last said it: a port is named again only
    // when its reason changes, so a search every second does not fill the log.
    std::map<std::string, std::string> portReasons_;
    // The offset the last Configuration refresh read into edPosOffset, empty when that read
    // failed: the zero preset computes the new zero from it and must not from a stale or typed text.
    std::optional<uint32_t> readOffset_;
    // Continuous reading ran when the commissioning run began: it runs again afterwards.
    bool commissioningWasReading_ = false;
};

// Where the window's frame goes: the designed place when the whole frame (client area plus frame
// margins) fits the available area of the screen there, otherwise moved up and left just enough
// to fit, and never past the available area's top-left corner.
QPoint WindowPlace(const QRect& available, const QMargins& frame, const QPoint& designed,
                   const QSize& client);

// The reason of the protocol's last failure as the log shows it: the program's own words in UTF-8,
// the device's bytes as Latin-1 characters.
QString ProtocolErrorText();

// Upper-cases the letters a to z only, as the user-name rule compares.
QString UpperAsciiLetters(const QString& text);

// Makes the design's font, Tahoma 11 px, the application's font: registers Wine's
// metric-compatible Tahoma when the system has none, and maps the design's other faces to it.
// Returns the family that Tahoma resolves to ("Tahoma" unless no Tahoma could be found).
QString InstallDesignFont();

// The program's names towards the desktop: the application name the caption is made of, and the
// name of its desktop entry (tarvo-workbench.desktop), by which a dock groups the window with that
// entry (the Wayland app id; on X11 the window's class instance is the program's file name).
void SetApplicationIdentity();
