#include "TerminationSignals.h"

#include "TerminationRequests.h"

#include <QApplication>
#include <QSocketNotifier>

void CloseWindowsOnTerminationSignals() {
    static bool watching = false;
    if (watching || !qApp) return;
    const int descriptor = platform::WatchTerminationRequests();
    if (descriptor < 0) return;
    watching = true;
    auto* notifier = new QSocketNotifier(descriptor, QSocketNotifier::Read, qApp);
    QObject::connect(notifier, &QSocketNotifier::activated, qApp, [] {
        platform::DrainTerminationRequests();
        // As the close button does: each window's close handling runs, then the last one closed
        // ends the message loop.
        QApplication::closeAllWindows();
    });
}
