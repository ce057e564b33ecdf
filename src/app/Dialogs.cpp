#include "Dialogs.h"

#include "SystemInfo.h"

#include <QApplication>
#include <QCursor>
#include <QDesktopServices>
#include <QFileDialog>
#include <QMessageBox>
#include <QUrl>

namespace {
QWidget* Owner() {
    return QApplication::activeWindow();
}
} // namespace

void TQtDialogs::information(const QString& text) {
    QMessageBox::information(Owner(), QApplication::applicationDisplayName(), text);
}

void TQtDialogs::warning(const QString& text) {
    QMessageBox::warning(Owner(), QApplication::applicationDisplayName(), text);
}

void TQtDialogs::error(const QString& text) {
    QMessageBox::critical(Owner(), QApplication::applicationDisplayName(), text);
}

bool TQtDialogs::question(const QString& text) {
    return QMessageBox::question(Owner(), QApplication::applicationDisplayName(), text,
                                 QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
}

void TQtDialogs::questionSound() {
    if (!platform::PlayQuestionSound()) QApplication::beep();
}

void TQtDialogs::setBusyCursor(bool busy) {
    if (busy == busy_) return;
    busy_ = busy;
    if (busy)
        QApplication::setOverrideCursor(Qt::WaitCursor);
    else
        QApplication::restoreOverrideCursor();
}

bool TDialogs::execSaveDialog(QFileDialog& dialog) {
    return dialog.exec() == QDialog::Accepted;
}

QString TDialogs::getSaveFileName(const QString& caption, const QString& filter) {
    return QFileDialog::getSaveFileName(QApplication::activeWindow(), caption, QString(), filter);
}

bool TDialogs::openDocument(const QString& path) {
    return QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

QString TDialogs::getOpenFileName(const QString& caption, const QString& filter) {
    return QFileDialog::getOpenFileName(QApplication::activeWindow(), caption, QString(), filter);
}
