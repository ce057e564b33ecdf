// The Test page's recording of debug data: one record per successful reading pass while the box
// is ticked. What goes into the file is the procedures' business; here is when, and where.
#include "K310_7K_Velcor_SPI_Main.h"

#include "Clock.h"
#include "DebugRecording.h"
#include "K310_BiSS_bidirectional.h"
#include "K310_SPI_Velcor.h"
#include "StatusText.h"
#include "Tarvo_konstante.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#include <ctime>

namespace {

namespace Shared = K310_BiSS_bidirectional;

// A folder where this user may create a file.
bool Writable(const QString& folder) {
    const QFileInfo info(folder);
    return info.isDir() && info.isWritable();
}

} // namespace

QString TMainForm::RecordingDirectory() const {
    if (!options_.recordingDirectory.isEmpty()) return options_.recordingDirectory;
    // Beside the program, as the bench has always kept them, unless the program is installed for
    // the whole system: there the user may not write, and root should not scatter data among the
    // binaries.
    const QString own = QCoreApplication::applicationDirPath();
    if (!Procedures::IsSystemLocation(own.toStdString()) && Writable(own)) return own;
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
        if (!ShraniFajl.IsOpen()) return;
        const bool closed = ShraniFajl.Close();
        mmFileName->appendPlainText(QString::fromStdString(Procedures::DurationLine(ShraniFajl.Elapsed())));
        if (!closed) Dialogs().error(QString::fromLocal8Bit(ShraniFajl.ErrorText()));
        return;
    }

    DebugUnlockAndHide();
    const std::time_t now = std::time(nullptr);
    const std::tm local = platform::LocalTime(now);
    const std::string name = Procedures::RecordingFileName(Shared::EncoderSignature.Dremo_PartNumber,
                                                           Shared::EncoderSignature.Dremo_Serial, local);
    const QString folder = RecordingDirectory();
    mmFileName->clear();
    if (!ShraniFajl.Create(folder.toStdString(), name)) {
        mmFileName->appendPlainText(QDir(folder).filePath(QString::fromStdString(name)));
        Dialogs().error(QString::fromLocal8Bit(ShraniFajl.ErrorText()));
        return;
    }
    mmFileName->appendPlainText(QString::fromStdString(ShraniFajl.Path().string()));
}

bool TMainForm::WriteDebugRecord() {
    if (!ShraniFajl.IsOpen()) {
        // A recording whose file could not be made reports it on every pass until unticked.
        Dialogs().error(QStringLiteral("Cannot write the recording: no file is open."));
        return false;
    }
    Procedures::TRecordSources sources;
    sources.Position = Shared::EncoderPosition;
    sources.StatusText =
        Procedures::StatusConditionText(Shared::EncoderPosition.Status, Tarvo_konstante::LenPersistentStatus);
    sources.Supply = lblPower->text().toLatin1().toStdString();
    sources.Debug = K310_SPI_Velcor::DebugData;
    if (ShraniFajl.Write(sources)) return true;
    Dialogs().error(QString::fromLocal8Bit(ShraniFajl.ErrorText()));
    return false;
}
