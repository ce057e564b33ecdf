#include "FramePacer.h"

#include <QCoreApplication>
#include <QEvent>
#include <QWidget>

TFramePacer::TFramePacer(QWidget* window) : QObject(window), window_(window) {
    clock_.start();
    frameEnd_.setSingleShot(true);
    frameEnd_.setTimerType(Qt::PreciseTimer);
    connect(&frameEnd_, &QTimer::timeout, this, &TFramePacer::PaintNow);
    window_->installEventFilter(this);
}

bool TFramePacer::eventFilter(QObject* watched, QEvent* event) {
    // The window paints what changed in it when it gets this request (posted after a change,
    // or sent at once by repaint()).
    if (watched != window_ || event->type() != QEvent::UpdateRequest || delivering_) return false;
    const qint64 now = clock_.elapsed();
    const qint64 sinceLast = now - lastPaintMs_;
    if (sinceLast >= kFrameMs) {
        lastPaintMs_ = now;
        return false;
    }
    // Painted already in this frame: what changed since waits for the frame's end.
    if (!frameEnd_.isActive()) frameEnd_.start(int(kFrameMs - sinceLast));
    return true;
}

void TFramePacer::PaintIfDue() {
    // A wait that ends after the frame would paint late: what ends within it is painted now.
    if (!frameEnd_.isActive() || clock_.elapsed() - lastPaintMs_ < kFrameMs - kEarlyMs) return;
    frameEnd_.stop();
    PaintNow();
}

void TFramePacer::PaintNow() {
    lastPaintMs_ = clock_.elapsed();
    QEvent request(QEvent::UpdateRequest);
    delivering_ = true;
    QCoreApplication::sendEvent(window_, &request);
    delivering_ = false;
}
