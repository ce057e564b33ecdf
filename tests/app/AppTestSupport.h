// What the window tests share: the application object on the offscreen platform, a recorder in
// place of message boxes, and a window created with a known user and no real ports.
#pragma once

#include "Dialogs.h"
#include "K310_7K_Velcor_SPI_Main.h"
#ifndef _WIN32
// Scripted devices are served on pseudo-terminals, which Windows does not have.
#include "ScriptedPeer.h"
#endif

#include <gtest/gtest.h>

#include <QString>
#include <QStringList>

#include <memory>
#include <string>
#include <vector>

#include <ostream>

// Readable failure messages for the window's texts.
inline void PrintTo(const QString& text, std::ostream* os) {
    *os << '"' << text.toStdString() << '"';
}
inline void PrintTo(const QStringList& lines, std::ostream* os) {
    *os << "{";
    for (qsizetype i = 0; i < lines.size(); ++i)
        *os << (i ? ", \"" : "\"") << lines[i].toStdString() << '"';
    *os << "}";
}

namespace app_testing {

struct Shown {
    QString kind; // "information", "warning", "error", "question"
    QString text;
};

class RecordingDialogs : public TDialogs {
public:
    void information(const QString& text) override { shown.push_back({"information", text}); }
    void warning(const QString& text) override { shown.push_back({"warning", text}); }
    void error(const QString& text) override { shown.push_back({"error", text}); }
    bool question(const QString& text) override {
        shown.push_back({"question", text});
        return answer;
    }
    void questionSound() override { ++sounds; }
    void setBusyCursor(bool value) override { busy = value; }
    // File dialogs answer with the next of `fileAnswers` ("" when none is left: cancelled).
    QString getSaveFileName(const QString& caption, const QString&) override { return NextFile(caption); }
    QString getOpenFileName(const QString& caption, const QString&) override { return NextFile(caption); }
    QString NextFile(const QString& caption) {
        fileDialogs << caption;
        return fileAnswers.isEmpty() ? QString() : fileAnswers.takeFirst();
    }

    QStringList Texts() const {
        QStringList texts;
        for (const auto& s : shown)
            texts << s.text;
        return texts;
    }

    std::vector<Shown> shown;
    bool answer = true;
    QStringList fileAnswers;
    QStringList fileDialogs; // the captions of the file dialogs asked
    // Documents the window asked the system to open, and whether a program for them "started".
    bool openDocument(const QString& path) override {
        openedDocuments << path;
        return documentOpens;
    }
    QStringList openedDocuments;
    bool documentOpens = true;
    int sounds = 0;
    bool busy = false;
};

// Options for a window that sees no real port: the candidate list is whatever the test puts in
// `candidates` (empty by default).
TMainFormOptions TestOptions(RecordingDialogs& dialogs, const QString& userName = QStringLiteral("tester"));

// Returns the shared protocol state and the serial driver to their start values.
void ResetProtocolState();

// Opens `path` as the adapter's port (line settings applied) and makes it PortHandle.
bool UseAsAdapterPort(const std::string& path);

// Whether the tests' simulators serve an in-process port rather than a pseudo-terminal: always on
// Windows, and on Linux when TARVO_TEST_SIM_IN_PROCESS=1 (to try the window on the port that
// Windows uses, without Windows).
bool SimulatorInProcess();

// Handles events until `done` holds or `timeoutMs` passes; true when it held.
template <class Pred> bool WaitFor(Pred done, int timeoutMs);

#ifndef _WIN32
// A window whose adapter port is a scripted device, handed over directly with no search.
class WindowOnScriptedPort : public ::testing::Test {
protected:
    void SetUp() override {
        ResetProtocolState();
        form = std::make_unique<TMainForm>(TestOptions(dialogs));
        form->initTimer->stop();
        ASSERT_TRUE(UseAsAdapterPort(peer.SlavePath()));
    }
    void TearDown() override {
        form.reset();
        ResetProtocolState();
    }

    RecordingDialogs dialogs;
    testing_support::ScriptedPeer peer;
    std::unique_ptr<TMainForm> form;
};
#endif

} // namespace app_testing

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

template <class Pred> bool app_testing::WaitFor(Pred done, int timeoutMs) {
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > timeoutMs) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(2);
    }
    return true;
}
