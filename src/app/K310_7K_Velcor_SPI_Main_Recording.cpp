// The Test page's recording of debug data: one record per successful reading pass while the box
// is ticked. What goes into the file is the procedures' business; here is when, and where.
#include "K310_7K_Velcor_SPI_Main.h"

#include "Clock.h"
#include "DebugRecording.h"
#include "K310_BiSS_bidirectional.h"
#include "K310_SPI_Velcor.h"
#include "QtRoutines.h"
#include "StatusText.h"
#include "Tarvo_konstante.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <ctime>
#include <filesystem>

namespace {

namespace Shared = K310_BiSS_bidirectional;

// A folder where this user may create a file.
bool Writable(const QString& folder) {
    const QFileInfo info(folder);
    return info.isDir() && info.isWritable();
}

// A file name as the system spells it: UTF-16 on Windows, with its own separators (Qt's folders
// come with "/", and a file name shown with both kinds would need a second look), the local
// 8-bit encoding elsewhere.
std::filesystem::path FileSystemPath(const QString& path) {
#ifdef Q_OS_WIN
    return std::filesystem::path(QDir::toNativeSeparators(path).toStdWString());
#else
    return std::filesystem::path(QFile::encodeName(path).toStdString());
#endif
}

QString DisplayPath(const std::filesystem::path& path) {
#ifdef Q_OS_WIN
    return QString::fromStdWString(path.wstring());
#else
    return QFile::decodeName(QByteArray::fromStdString(path.native()));
#endif
}

} // namespace

QString TMainForm::RecordingDirectory() const {
    if (!options_.recordingDirectory.isEmpty()) return options_.recordingDirectory;
    // Beside the program, as the bench has always kept them, unless the program is installed for
    // the whole system: there the user may not write, and root should not scatter data among the
    // binaries.
    const QString own = QCoreApplication::applicationDirPath();
    if (!Procedures::IsSystemLocation(FileSystemPath(own)) && Writable(own)) return own;
    QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    if (documents.isEmpty()) documents = QDir::homePath();
    QDir().mkpath(documents);
    return documents;
}

void TMainForm::DebugUnlockAndHide() {
    TAdapterAction busy(*this);
    if (!K310_SPI_Velcor::DebugUnlock()) AddLog(ProtocolErrorText());
    btnDebugUnlock->setVisible(false);
}

void TMainForm::btnDebugUnlockClick() {
    DebugUnlockAndHide();
}

void TMainForm::cbShranjujMeritveDebugClick() {
    if (!cbShranjujMeritveDebug->isChecked()) {
        tmrRecordingCheck->stop();
        // A recording ended by a failure has said so already, and has no duration line.
        if (!ShraniFajl.IsOpen()) return;
        if (!ShraniFajl.Close()) {
            EndFailedRecording();
            return;
        }
        mmFileName->appendPlainText(QString::fromStdString(Procedures::DurationLine(ShraniFajl.Elapsed())));
        return;
    }

    RecordingFailure.clear();
    DebugUnlockAndHide();
    const std::time_t now = std::time(nullptr);
    const std::tm local = platform::LocalTime(now);
    const std::string name = Procedures::RecordingFileName(Shared::EncoderSignature.Dremo_PartNumber,
                                                           Shared::EncoderSignature.Dremo_Serial, local);
    const QString folder = RecordingDirectory();
    mmFileName->clear();
    if (!ShraniFajl.Create(FileSystemPath(folder), name)) {
        // Not begun: no file is left, and no pass tries to write one.
        mmFileName->appendPlainText(
            QDir::toNativeSeparators(QDir(folder).filePath(QString::fromStdString(name))));
        EndFailedRecording();
        return;
    }
    mmFileName->appendPlainText(DisplayPath(ShraniFajl.Path()));
    tmrRecordingCheck->start(options_.recordingCheckMs);
}

void TMainForm::tmrRecordingCheckTimer() {
    // Also while every reading fails and nothing is written, a deleted file does not go unnoticed.
    if (ShraniFajl.IsOpen() && !ShraniFajl.Check()) EndFailedRecording();
}

void TMainForm::EndFailedRecording() {
    const QString why = Orodja::MessageText(ShraniFajl.ErrorText());
    RecordingFailure = why;
    tmrRecordingCheck->stop();
    AddLog(why);
    // Cleared before the box is shown: a reading pass that runs while it waits writes nothing.
    cbShranjujMeritveDebug->setChecked(false);
    Dialogs().warning(why);
}

bool TMainForm::WriteDebugRecord() {
    // The recording ended during this pass (a check of its file between two transactions).
    if (!ShraniFajl.IsOpen()) return true;
    Procedures::TRecordSources sources;
    sources.Position = Shared::EncoderPosition;
    sources.StatusText =
        Procedures::StatusConditionText(Shared::EncoderPosition.Status, Tarvo_konstante::LenPersistentStatus);
    sources.Supply = lblPower->text().toLatin1().toStdString();
    sources.Debug = K310_SPI_Velcor::DebugData;
    if (ShraniFajl.Write(sources)) return true;
    EndFailedRecording();
    return false;
}
