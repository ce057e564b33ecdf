// Recording debug data at the highest reading rate: continuous reading with no delay in the real
// window (offscreen) against the simulated adapter with wire timing, the recording box ticked.
// Prints the records written per second as a share of the passes per second that make the same
// reads without writing a file, and the resident memory at the start and the end of the recording.
// Prints figures and ratios; it asserts nothing.
//
//   bench_recording [seconds [simulator options]]     default 600 s, "t6,power-on=1,wire-timing=1"
//
// The fair comparison is the very same pass with the file taken out. The box alone decides what a
// pass reads beside the position (temperatures, signal level, the debug latch), whatever page is on
// show, and no page does all three without it: the Signal level page skips the latch, the Debug
// page adds its drawing. So the reference runs with the box ticked too, on the same page, but its
// recording writes into nothing: every pass makes the same reads and forms its record, whose bytes
// the writer then drops instead of handing them to the system. Half of the reference runs before
// the recording and half after, so a change in the machine's load shows in both figures alike.
#include "BenchWindow.h"
#include "K310Simulator.h"
#include "K310_7K_Velcor_SPI_Main.h"
#include "K310_BiSS_bidirectional.h"
#include "QtRoutines.h"
#include "SerialPort.h"

#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <string_view>
#include <unistd.h>

namespace {

struct Run {
    long passes = 0;
    double wall = 0;
};

// Continuous reading for `seconds`, counted by the position frames the device answered. They are
// gathered every second and the simulator's log emptied, so what grows in resident memory is the
// window's and the recording's, not the log's. The passes and the gathering share the GUI thread,
// so no exchange falls between reading the log and emptying it.
Run ReadConstantly(TMainForm& form, sim::K310Simulator& simulator, double seconds) {
    Run run;
    simulator.ClearReceived();
    const auto gather = [&] {
        for (const auto& r : simulator.Received())
            run.passes += r.command.rfind("?0", 0) == 0;
        simulator.ClearReceived();
    };
    QTimer sampler;
    sampler.setInterval(1000);
    QObject::connect(&sampler, &QTimer::timeout, gather);
    QEventLoop loop;
    const double wall0 = bench::WallSeconds();
    QTimer::singleShot(int(seconds * 1000), &form, [&] {
        form.cbReadEncConstantly->setChecked(false); // takes its one last pass before returning
        run.wall = bench::WallSeconds() - wall0;
        loop.quit();
    });
    form.cbReadEncConstantly->setChecked(true); // the cycle runs on its timer until the box is cleared
    sampler.start();
    loop.exec();
    sampler.stop();
    gather();
    return run;
}

// The commands of one pass, to show that both arrangements make the same reads.
std::string OnePass(TMainForm& form, sim::K310Simulator& simulator) {
    simulator.ClearReceived();
    form.btnReadEncoderClick();
    std::string commands;
    for (const auto& r : simulator.Received())
        commands += (commands.empty() ? "" : " ") + r.command;
    simulator.ClearReceived();
    return commands;
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    InstallDesignFont();

    const double duration = argc > 1 ? std::atof(argv[1]) : 600.0;
    if (!(duration > 0)) {
        std::fprintf(stderr, "usage: bench_recording [seconds [simulator options]]\n");
        return 1;
    }
    // The reference needs far less time than the recording, whose memory is what has to stay flat.
    const double reference = std::clamp(duration / 5, 20.0, 60.0);

    const char* simOptions = argc > 2 ? argv[2] : "t6,power-on=1,wire-timing=1";
    const auto started = bench::StartSimulator(simOptions);
    if (!started) return 1;
    sim::K310Simulator& simulator = *started;

    QTemporaryDir temporary;
    if (!temporary.isValid()) {
        std::fprintf(stderr, "no temporary folder\n");
        return 1;
    }
    const QString folder = temporary.path();

    bench::SilentDialogs dialogs;
    TMainFormOptions formOptions = bench::WindowOptions(dialogs);
    formOptions.recordingDirectory = folder;
    bool intoNothing = false; // the reference's recording: every byte dropped
    formOptions.recordingWrite = [&](platform::TNewFile& file, std::string_view data, std::string& why) {
        return intoNothing ? data.size() : file.Write(data.data(), data.size(), why);
    };
    TMainForm form(formOptions);
    if (!bench::ConnectToSimulator(form, simulator)) return 1;
    form.seDelayBetweenReadings->setValue(0);
    form.Page->setCurrentWidget(form.tabInit);
    QCoreApplication::processEvents();

    std::printf("simulator \"%s\"; recording %.0f s, reference %.0f s (half before, half after); load "
                "average %.2f on %ld cores\n",
                simOptions, duration, reference, bench::LoadAverage(), sysconf(_SC_NPROCESSORS_ONLN));

    // The reference arrangement: the box ticked, the records dropped.
    const auto referenceRun = [&](double seconds) {
        intoNothing = true;
        form.cbShranjujMeritveDebug->setChecked(true);
        if (!form.ShraniFajl.IsOpen()) {
            std::fprintf(stderr, "the reference could not start its recording: %s\n",
                         form.ShraniFajl.ErrorText().c_str());
            std::exit(1);
        }
        const Run run = ReadConstantly(form, simulator, seconds);
        const int reachedWrite = form.ShraniFajl.Records();
        const QString path = QString::fromStdString(form.ShraniFajl.Path().string());
        form.cbShranjujMeritveDebug->setChecked(false);
        QFile::remove(path);
        intoNothing = false;
        std::printf("reference, no file: %ld passes in %.1f s = %.1f passes/s (%d reached the write)\n",
                    run.passes, run.wall, run.passes / run.wall, reachedWrite);
        return run;
    };

    intoNothing = true;
    form.cbShranjujMeritveDebug->setChecked(true);
    std::printf("one pass, no file:  %s\n", OnePass(form, simulator).c_str());
    const QString firstPath = QString::fromStdString(form.ShraniFajl.Path().string());
    form.cbShranjujMeritveDebug->setChecked(false);
    QFile::remove(firstPath);
    intoNothing = false;
    const Run before = referenceRun(reference / 2);

    form.cbShranjujMeritveDebug->setChecked(true);
    if (!form.ShraniFajl.IsOpen()) {
        std::fprintf(stderr, "the recording file could not be made in %s\n", qPrintable(folder));
        return 1;
    }
    std::printf("one pass, recording: %s\n", OnePass(form, simulator).c_str());
    const int records0 = form.ShraniFajl.Records();
    const long memory0 = bench::ResidentBytes();
    const Run recording = ReadConstantly(form, simulator, duration);
    const long memory1 = bench::ResidentBytes();
    const int records = form.ShraniFajl.Records() - records0;
    const QString path = QString::fromStdString(form.ShraniFajl.Path().string());
    if (!form.cbShranjujMeritveDebug->isChecked())
        std::fprintf(stderr, "the recording ended early: %s\n", qPrintable(form.RecordingFailure));
    form.cbShranjujMeritveDebug->setChecked(false);
    const double fileBytes = double(QFileInfo(path).size());
    QFile::remove(path);

    const Run after = referenceRun(reference / 2);

    const double referenceRate = double(before.passes + after.passes) / (before.wall + after.wall);
    const double recordRate = records / recording.wall;
    std::printf("recording: %d records in %.1f s = %.1f records/s (%ld passes, %.1f MB written, %.0f bytes "
                "a record)\n",
                records, recording.wall, recordRate, recording.passes, fileBytes / 1e6,
                records ? fileBytes / records : 0.0);
    std::printf("records/s as a share of the reference's %.1f passes/s: %.3f (target >= 0.9)\n",
                referenceRate, recordRate / referenceRate);
    std::printf("resident memory: %.1f MB at the start of the recording, %.1f MB at its end, %+.2f %% "
                "(target flat within 5 %%)\n",
                memory0 / 1e6, memory1 / 1e6, 100.0 * double(memory1 - memory0) / double(memory0));
    std::printf("load average at the end %.2f\n", bench::LoadAverage());

    form.close();
    return 0;
}
