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

namespace {

// Length of the well-formed UTF-8 sequence that starts at `at`, or 0 when none starts there
// (overlong forms, surrogates and code points above U+10FFFF are not well-formed).
size_t Utf8SequenceLength(std::string_view text, size_t at) {
    const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(at);
    size_t length = 0;
    unsigned char low = 0x80, high = 0xBF; // allowed range of the second byte
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) low = 0xA0;
        if (lead == 0xED) high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;
    } else {
        return 0;
    }
    if (at + length > text.size()) return 0;
    if (byte(at + 1) < low || byte(at + 1) > high) return 0;
    for (size_t i = 2; i < length; ++i)
        if (byte(at + i) < 0x80 || byte(at + i) > 0xBF) return 0;
    return length;
}

} // namespace

QString MessageText(std::string_view bytes) {
    QString text;
    text.reserve(qsizetype(bytes.size()));
    for (size_t at = 0; at < bytes.size();) {
        const auto c = static_cast<unsigned char>(bytes[at]);
        const size_t length = c < 0x80 ? 0 : Utf8SequenceLength(bytes, at);
        if (length == 0) {
            text += QChar(c); // ASCII, or a byte that is no UTF-8: its Latin-1 character
            ++at;
        } else {
            text += QString::fromUtf8(bytes.data() + at, qsizetype(length));
            at += length;
        }
    }
    return text;
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
