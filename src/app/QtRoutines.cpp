#include "QtRoutines.h"

#include <QApplication>
#include <QClipboard>
#include <QEventLoop>
#include <QPointer>
#include <QTimer>

#include <vector>

namespace Orodja {

namespace {
bool terminating = false;
// The loops of the waits in progress (nested waits stack up); closing ends all of them.
std::vector<QPointer<QEventLoop>> activeWaits;
} // namespace

void WaitWithMessages(int ms) {
    if (ms <= 0 || terminating) {
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        return;
    }
    // Handle what is pending first, as a zero wait does: a handler that waits a millisecond
    // still lets a click already in the queue through.
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    if (terminating) return;
    QEventLoop loop;
    QTimer deadline;
    deadline.setSingleShot(true);
    deadline.setTimerType(Qt::PreciseTimer);
    QObject::connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
    deadline.start(ms);
    activeWaits.emplace_back(&loop);
    loop.exec();
    std::erase_if(activeWaits, [&](const QPointer<QEventLoop>& p) { return p.isNull() || p == &loop; });
}

void CopyToClipboard(const QString& text) {
    QClipboard* clipboard = QGuiApplication::clipboard();
    clipboard->clear();
    clipboard->setText(text);
}

bool ApplicationTerminating() {
    return terminating;
}

void SetApplicationTerminating(bool value) {
    terminating = value;
    if (value)
        for (auto& loop : activeWaits)
            if (loop) loop->quit();
}

} // namespace Orodja
