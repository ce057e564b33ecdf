// Program entry: the application object, its title, the main window, the message loop.
#include "BuiltInSimulator.h"
#include "CommandLine.h"
#include "K310_7K_Velcor_SPI_Main.h"
#include "QtRoutines.h"
#include "TerminationSignals.h"

#include "CommandLineOptions.h"
#include "Files.h"
#include "K310_BiSS_bidirectional.h"
#include "StandardDescriptors.h"
#include "SystemInfo.h"
#include "TarvoVersion.h"
#include "TerminationRequests.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QPixmap>
#include <QTimer>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>

namespace {

int UsageError(const QString& problem) {
    std::fprintf(stderr, "tarvo-workbench: %s\n%s\n", problem.toUtf8().constData(),
                 CommandLineOptions::TryHelpLine("tarvo-workbench").c_str());
    return 2;
}

// Standard output that cannot be written (a closed pipe, a full disk) is a failure: exit 1.
int FinishStandardOutput() {
    if (std::fflush(stdout) == 0 && !std::ferror(stdout)) return 0;
    std::fprintf(stderr, "tarvo-workbench: cannot write standard output: %s\n", std::strerror(errno));
    return 1;
}

// In a run without a user (--screenshot) a message box would wait forever: print it instead.
class PrintingDialogs : public TDialogs {
public:
    void information(const QString& text) override { Print("information", text); }
    void warning(const QString& text) override { Print("warning", text); }
    void error(const QString& text) override {
        ++errors;
        Print("error", text);
    }
    bool question(const QString& text) override {
        Print("question", text);
        return false;
    }
    void questionSound() override {}
    void setBusyCursor(bool) override {}

    int errors = 0; // error boxes shown so far: a run that showed one did not succeed

private:
    static void Print(const char* kind, const QString& text) {
        std::fprintf(stderr, "%s: %s\n", kind, text.toUtf8().constData());
    }
};

// Lets the window work, as long as `busy` holds, for at most `limitMs` and not past a request to
// end the program: the unattended runs wait with this for what the window does on its timers.
void WaitWhile(const std::function<bool()>& busy, qint64 limitMs) {
    QElapsedTimer clock;
    clock.start();
    while (busy() && clock.elapsed() < limitMs && !Orodja::ApplicationTerminating())
        Orodja::WaitWithMessages(50);
}

// Waits for the adapter, switches the supply on and connects the encoder; false (said on the
// error output) when no adapter turns up.
bool FindAndConnect(TMainForm& form, const char* mode) {
    WaitWhile([] { return !K310_BiSS_bidirectional::PortHandle.IsValid(); }, 5000);
    if (!K310_BiSS_bidirectional::PortHandle.IsValid()) {
        std::fprintf(stderr, "%s: no adapter found\n", mode);
        return false;
    }
    form.btnPowerON->click();
    form.btnConnectEncoder->click();
    return true;
}

// Connects, shows the page asked for with one reading on it, and saves the window as a picture.
int TakeScreenshot(TMainForm& form, const QString& file, const QString& page) {
    if (!FindAndConnect(form, "screenshot")) return 1;
    if (!page.isEmpty()) {
        int index = -1;
        for (int i = 0; i < form.Page->count(); ++i)
            if (form.Page->tabText(i).compare(page, Qt::CaseInsensitive) == 0) index = i;
        if (index < 0) {
            std::fprintf(stderr, "screenshot: no page \"%s\"\n", page.toUtf8().constData());
            return 1;
        }
        // Every tab and the test panel, as Ctrl+Shift+A shows them at the bench.
        form.FormKeyUp(Qt::Key_A, Qt::ControlModifier | Qt::ShiftModifier, Qt::NoButton);
        form.Page->setCurrentIndex(index);
        // The Debug page draws the encoder's debug record, which is locked until unlocked.
        if (form.Page->currentWidget() == form.tabDebug) form.btnDebugUnlockClick();
        // The reading fills what the page shows of the encoder (diagnostics, levels).
        form.btnReadEncoder->click();
        // These two pages show the result of their own action: a finished self-calibration, a read
        // error map.
        if (form.Page->currentWidget() == form.tabSelfCal) {
            form.btnSelfCalStart->click();
            WaitWhile([&] { return form.tmrSelfCalWait->isActive(); }, 60000);
            form.cbReadEncConstantly->setChecked(false);
        }
        if (form.Page->currentWidget() == form.tabErrMap) form.btnReadErrMap->click();
        // The Commissioning page after its plan has run, when one was given.
        if (form.Page->currentWidget() == form.tabCommissioning &&
            !form.edCommissioningPlan->text().isEmpty()) {
            form.btnCommissioningRun->click();
            WaitWhile([&] { return form.CommissioningRun != nullptr; }, 600000);
        }
        // The Signal level page draws the air gap over a turn while the shaft turns (a preset with
        // rotate=...), reading continuously for a few seconds.
        if (form.Page->currentWidget() == form.tabSignalLevelTemperature && form.cbDrawAirGap->isEnabled()) {
            form.cbDrawAirGap->setChecked(true);
            form.cbReadEncConstantly->setChecked(true);
            Orodja::WaitWithMessages(3000);
            form.cbReadEncConstantly->setChecked(false);
        }
    }
    Orodja::WaitWithMessages(300);
    if (!form.grab().save(file, "PNG")) {
        std::fprintf(stderr, "screenshot: cannot write %s\n", file.toUtf8().constData());
        return 1;
    }
    std::printf("screenshot: %s\n", file.toUtf8().constData());
    return form.btnReadEncoder->isEnabled() ? 0 : 1;
}

// Connects, records debug data while reading constantly for `seconds`, and names the file. An
// unattended recording (and the package's test of where an installed program writes) needs no
// hands at the window. A reading that stopped early (the link lost, the encoder silent), a
// recording that ended on its own (its file could not be written, or was deleted) or any error box
// fails the run, whatever the file holds.
int RecordDebugData(TMainForm& form, const PrintingDialogs& dialogs, int seconds) {
    if (!FindAndConnect(form, "record")) return 1;
    if (!form.btnReadEncoder->isEnabled()) {
        std::fprintf(stderr, "record: the encoder did not connect\n");
        return 1;
    }
    form.cbShranjujMeritveDebug->setChecked(true);
    if (!form.ShraniFajl.IsOpen()) {
        form.cbShranjujMeritveDebug->setChecked(false);
        std::fprintf(stderr, "record: no file could be made: %s\n",
                     form.RecordingFailure.toUtf8().constData());
        return 1;
    }
    const std::string path = platform::Utf8FromPath(form.ShraniFajl.Path());
    form.cbReadEncConstantly->setChecked(true);
    QElapsedTimer clock;
    clock.start();
    WaitWhile(
        [&] { return form.cbReadEncConstantly->isChecked() && form.cbShranjujMeritveDebug->isChecked(); },
        qint64{seconds} * 1000);
    const bool stoppedEarly = !form.cbReadEncConstantly->isChecked();
    form.cbReadEncConstantly->setChecked(false);
    // Closes the file; one deleted meanwhile ends the recording as failed here.
    form.cbShranjujMeritveDebug->setChecked(false);
    std::printf("record: %s\n", path.c_str());
    std::fflush(stdout);
    if (!form.RecordingFailure.isEmpty()) {
        std::fprintf(stderr, "record: the recording failed after %lld ms: %s\n",
                     static_cast<long long>(clock.elapsed()), form.RecordingFailure.toUtf8().constData());
        return 1;
    }
    if (stoppedEarly) {
        const QStringList log = form.Memo1->toPlainText().trimmed().split(QLatin1Char('\n'));
        std::fprintf(stderr, "record: the reading stopped after %lld ms: %s\n",
                     static_cast<long long>(clock.elapsed()), log.last().toUtf8().constData());
        return 1;
    }
    return dialogs.errors == 0 ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    // Before anything is opened: a closed standard stream would otherwise become the adapter's
    // port (or the simulator's terminal), and the program's own messages would go there.
    if (!platform::EnsureStandardDescriptors()) return 1;
    platform::IgnoreBrokenPipe();
    // Help, version and bad options need no display, so they are answered before the toolkit
    // starts. The options are read again from the toolkit's list once it has taken its own.
    platform::PrintUtf8OnConsole();
    {
        // As UTF-8 on every system: Windows would hand main() its ANSI code page.
        QStringList arguments;
        for (const std::string& argument : platform::ProgramArguments(argc, argv))
            arguments.push_back(QString::fromStdString(argument));
        TCommandLine early;
        QString error;
        if (!ParseCommandLine(arguments, early, error, true)) return UsageError(error);
        if (early.help) {
            std::printf("%s", UsageText().toUtf8().constData());
            return FinishStandardOutput();
        }
        if (early.version) {
            std::printf("tarvo-workbench %s\n", TARVO_VERSION);
            return FinishStandardOutput();
        }
        // A preset or option the simulator does not know is bad usage too.
        std::string why;
        if (early.simulate && !BuiltInSimulator::CheckOptions(early.simulatorOptions, why))
            return UsageError(QString::fromStdString(why));
    }

    QApplication app(argc, argv);
    CloseWindowsOnTerminationSignals();
    SetApplicationIdentity();
    InstallDesignFont();

    TCommandLine options;
    QString error;
    if (!ParseCommandLine(QApplication::arguments(), options, error)) return UsageError(error);
    TMainFormOptions formOptions;
    formOptions.explicitPorts = options.ports;
    formOptions.resultsDatabase = options.resultsDatabase;
    formOptions.commissioningPlan = options.plan;
    // Declared before the window, so the window closes its port before the simulator stops.
    std::unique_ptr<BuiltInSimulator> simulator;
    if (options.simulate) {
        simulator = std::make_unique<BuiltInSimulator>();
        std::string why;
        if (!simulator->Start(options.simulatorOptions, why)) {
            std::fprintf(stderr, "tarvo-workbench: cannot start the simulator: %s\n", why.c_str());
            return 1;
        }
        std::printf("Simulated K310-7K adapter on %s\n", simulator->PortPath().c_str());
        std::fflush(stdout);
        formOptions.explicitPorts.insert(formOptions.explicitPorts.begin(), simulator->PortPath());
    }
    PrintingDialogs printing;
    if (!options.screenshot.isEmpty() || options.recordSeconds > 0) formOptions.dialogs = &printing;

    TMainForm form(formOptions);
    form.show();
    if (!options.screenshot.isEmpty()) {
        int result = 1;
        QTimer::singleShot(0, &form, [&] {
            result = TakeScreenshot(form, options.screenshot, options.screenshotPage);
            form.close();
        });
        app.exec();
        return FinishStandardOutput() != 0 ? 1 : result;
    }
    if (options.recordSeconds > 0) {
        int result = 1;
        QTimer::singleShot(0, &form, [&] {
            result = RecordDebugData(form, printing, options.recordSeconds);
            form.close();
        });
        app.exec();
        return FinishStandardOutput() != 0 ? 1 : result;
    }
    const int result = app.exec();
    return FinishStandardOutput() != 0 ? 1 : result;
}
