// The one door through which the window talks to the user modally: message boxes, the question
// sound and the busy cursor. The program uses the toolkit's boxes; tests install a recorder so a
// handler never blocks on a box nobody can close.
#pragma once

#include <QString>

class QFileDialog;

class TDialogs {
public:
    virtual ~TDialogs() = default;
    virtual void information(const QString& text) = 0;
    virtual void warning(const QString& text) = 0;
    virtual void error(const QString& text) = 0;
    // true for "Yes".
    virtual bool question(const QString& text) = 0;
    virtual void questionSound() = 0;
    // The screen-wide hourglass while the window cannot answer; nested calls are not counted:
    // on and off are states, as the window's screen cursor is.
    virtual void setBusyCursor(bool busy) = 0;
    // Shows a file dialog modally; true when the user confirmed a name (then in selectedFiles).
    virtual bool execSaveDialog(QFileDialog& dialog);
    // Asks for the name of a file to write or to read; empty when the user cancels.
    virtual QString getSaveFileName(const QString& caption, const QString& filter);
    virtual QString getOpenFileName(const QString& caption, const QString& filter);
    // Opens a file in the program the system gives its kind (a report in the browser); false when
    // none could be started.
    virtual bool openDocument(const QString& path);
};

// Modal boxes of the toolkit, titled with the application's title.
class TQtDialogs : public TDialogs {
public:
    void information(const QString& text) override;
    void warning(const QString& text) override;
    void error(const QString& text) override;
    bool question(const QString& text) override;
    void questionSound() override;
    void setBusyCursor(bool busy) override;

private:
    bool busy_ = false;
};
