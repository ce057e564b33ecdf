// The adapter search: runs when initTimer fires, keeps the first port that answers as a K310-7K.
// And the watch of that port while no handler talks to the adapter, so an adapter unplugged
// while the window sits idle is searched for at once, not at the next click.
#include "K310_7K_Velcor_SPI_Main.h"

#include "K310_BiSS_bidirectional.h"
#include "Orodja.h"
#include "QtRoutines.h"
#include "SerialPort.h"

#include <QApplication>
#include <QSocketNotifier>
#include <QTimer>

#include <map>

namespace {

// What the label shows for a port: the device name without /dev/ (ttyACM0, pts/4).
QString DeviceName(const std::string& path) {
    const std::string prefix = "/dev/";
    return QString::fromLocal8Bit(path.rfind(prefix, 0) == 0 ? path.substr(prefix.size()) : path);
}

} // namespace

std::vector<AdapterDiscovery::Candidate> TMainForm::OrderedCandidates() {
    const std::vector<AdapterDiscovery::Candidate> found =
        options_.candidates ? options_.candidates() : AdapterDiscovery::SystemCandidates();
    // The port numbers, as sorted zero-padded texts that ignore a second mention of a port, decide
    // the order: up to 999 that is ascending by number, and each port is tried once.
    COMPorts.clear();
    std::map<std::string, std::string> pathOf;
    for (const auto& c : found) {
        if (c.number < 0) continue;
        const std::string padded = Orodja::ZeroPadded(c.number, 3);
        if (COMPorts.insert(padded).second) pathOf[padded] = c.path;
    }
    COMPortList.clear();
    std::vector<AdapterDiscovery::Candidate> ordered;
    for (const auto& padded : COMPorts) {
        int number = 1;
        try {
            number = std::stoi(padded);
        } catch (...) {
        }
        COMPortList.push_back(number);
        ordered.push_back({pathOf[padded], number});
    }
    return ordered;
}

void TMainForm::initTimerTimer() {
    TAdapterAction busy(*this);
    using K310_BiSS_bidirectional::PortHandle;
    initTimer->stop();
    // The watch goes first: the port's descriptor may belong to the next port opened.
    DropIdleWatch();
    if (PortHandle.IsValid()) {
        platform::ClosePort(PortHandle);
        PortHandle = platform::kNoPort;
    }

    lblInterfaceVer->clear();
    if (!lblComPort->text().isEmpty())
        lblComPort->clear();
    else
        lblComPort->setText(QStringLiteral("Searching for interface..."));
    lblComPort->repaint();

    const std::vector<AdapterDiscovery::Candidate> candidates = OrderedCandidates();
    const AdapterDiscovery::Result result = AdapterDiscovery::FindAdapter(
        options_.explicitPorts, [&candidates] { return candidates; },
        [] { QCoreApplication::processEvents(QEventLoop::AllEvents); });
    ReportRejections(result);

    if (!firstSearchDone_) {
        firstSearchDone_ = true;
        dialogs_->setBusyCursor(false);
    }
    for (QWidget* w : {static_cast<QWidget*>(Page), static_cast<QWidget*>(btnConnectEncoder),
                       static_cast<QWidget*>(btnPowerON), static_cast<QWidget*>(btnPowerOFF)})
        w->setEnabled(result.found);

    // The window closed while the search let events through: keep nothing open.
    if (Orodja::ApplicationTerminating()) {
        if (result.found) platform::ClosePort(result.handle);
        return;
    }

    if (!result.found) {
        initTimer->setInterval(1000);
        initTimer->start();
        return;
    }

    PortHandle = result.handle;
    Page->setCurrentIndex(0);
    K310VerzijaFW = result.K310VerzijaFW;
    SerijskaK310 = result.SerijskaK310;
    K310RevizijaFW = result.K310RevizijaFW;
    K310Version = result.K310Version;
    AdapterPortPath = result.port.path;
    lblComPort->setText(DeviceName(result.port.path) + QStringLiteral("  [") +
                        QString::fromLatin1(SerijskaK310) + QStringLiteral("]"));
    lblInterfaceVer->setText(QString::fromLatin1(K310Version) + QStringLiteral(".") +
                             QString::number(K310RevizijaFW));
}

void TMainForm::ReportRejections(const AdapterDiscovery::Result& result) {
    using AdapterDiscovery::RejectReason;
    for (const auto& r : result.rejected) {
        // The kind of reason, not its details: a port that keeps answering line noise is one
        // reason, however the noise reads.
        const std::string reason =
            std::to_string(static_cast<int>(r.reason)) + "/" + std::to_string(r.osError);
        std::string& last = portReasons_[r.path];
        if (last == reason) continue;
        last = reason;
        if (r.reason == RejectReason::CannotOpen && platform::IsPermissionError(r.osError)) {
            const std::string advice = AdapterDiscovery::PermissionAdvice(platform::DeviceAccessOf(r.path));
            QString line = QStringLiteral("No permission to open ") + QString::fromLocal8Bit(r.path);
            if (!advice.empty()) line += QStringLiteral("; ") + QString::fromLocal8Bit(advice);
            AddLog(line);
        } else {
            AddLog(QStringLiteral("Port not taken: ") +
                   QString::fromLocal8Bit(AdapterDiscovery::RejectionText(r)));
        }
    }
    // The port in use is forgotten: if it fails later, that is news again.
    if (result.found) portReasons_.erase(result.port.path);
}

TMainForm::TIdleWatchPause::TIdleWatchPause(TMainForm& form) : form_(form) {
    // The asking timer runs on: it asks nothing while paused, and restarting it for every reading
    // pass would cost each pass a timer of the system's.
    if (form_.idleWatchPauses_++ == 0 && form_.idleWatch_) form_.idleWatch_->setEnabled(false);
}

TMainForm::TIdleWatchPause::~TIdleWatchPause() {
    if (--form_.idleWatchPauses_ == 0) form_.ArmIdleWatch();
}

bool TMainForm::IdleWatchActive() const {
    return (idleWatch_ && idleWatch_->isEnabled()) ||
           (idlePoll_ && idlePoll_->isActive() && idleWatchPauses_ == 0);
}

void TMainForm::ArmIdleWatch() {
    using K310_BiSS_bidirectional::PortHandle;
    const intptr_t descriptor = PortHandle.IsValid() ? platform::IdleWatchDescriptor(PortHandle) : -1;
    if (idleWatch_ && idleWatch_->socket() != descriptor) DropIdleWatch();
    // Nothing to watch without a port; a pending search closes the port anyway, and a port already
    // reported lost has nothing more to say.
    if (!PortHandle.IsValid() || initTimer->isActive() || idlePortLost_ || Orodja::ApplicationTerminating()) {
        if (idleWatch_) idleWatch_->setEnabled(false);
        if (idlePoll_) idlePoll_->stop();
        return;
    }
    if (descriptor < 0) {
        // The event loop cannot watch this port: asking it twice a second notices an unplugged
        // adapter within the second the search would take anyway.
        if (!idlePoll_) {
            idlePoll_ = new QTimer(this);
            idlePoll_->setObjectName(QStringLiteral("idlePoll"));
            idlePoll_->setInterval(500);
            connect(idlePoll_, &QTimer::timeout, this, &TMainForm::IdlePortSignalled);
        }
        if (!idlePoll_->isActive()) idlePoll_->start();
        return;
    }
    if (idlePoll_) idlePoll_->stop();
    if (!idleWatch_) {
        idleWatch_ = new QSocketNotifier(descriptor, QSocketNotifier::Read, this);
        connect(idleWatch_, &QSocketNotifier::activated, this, &TMainForm::IdlePortSignalled);
    }
    idleWatch_->setEnabled(true);
}

void TMainForm::DropIdleWatch() {
    idlePortLost_ = false;
    if (idlePoll_) idlePoll_->stop();
    if (!idleWatch_) return;
    idleWatch_->setEnabled(false);
    // Later: the watch may be the sender of the signal being handled.
    idleWatch_->deleteLater();
    idleWatch_ = nullptr;
}

void TMainForm::IdlePortSignalled() {
    const bool polled = idlePoll_ && idlePoll_->isActive();
    if ((!idleWatch_ && !polled) || idleWatchPauses_ > 0) return;
    using namespace K310_BiSS_bidirectional;
    int osError = 0;
    switch (platform::CheckIdlePort(PortHandle, &osError)) {
    case platform::IdleCheck::Discarded:
        // A reply that came after its time-out: it answers nobody now.
        return;
    case platform::IdleCheck::Quiet:
        // Readable with nothing to read: the watch rests until the next action ends, rather
        // than being woken again and again for nothing. (Asking goes on.)
        if (idleWatch_) idleWatch_->setEnabled(false);
        return;
    case platform::IdleCheck::Lost:
        break;
    }
    if (idleWatch_) idleWatch_->setEnabled(false);
    if (idlePoll_) idlePoll_->stop();
    idlePortLost_ = true;
    // As a transaction on the lost port would have reported it.
    EncoderPosition.ErrComm = -(osError != 0 ? osError : 1);
    LastErrorText = "USB Comm Err " + std::to_string(EncoderPosition.ErrComm);
    AddLog(ProtocolErrorText());
    // Continuous reading ends as after a failed pass; the search starts again.
    if (cbReadEncConstantly->isChecked()) cbReadEncConstantly->setChecked(false);
    RestartAdapterSearch();
}
