// Paints a window at most once per display frame. Widgets still take their new values at once
// (a label's text() is the latest); only the painting of what changed waits, at most one frame,
// so a reading cycle that runs hundreds of passes a second paints what a person can see, not
// every pass. An immediate repaint() inside a loop that handles no messages is limited the same
// way; whatever it could not paint yet is painted when the frame is over.
#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

class QWidget;

class TFramePacer : public QObject {
public:
    static constexpr int kFrameMs = 16;

    explicit TFramePacer(QWidget* window);
    // Paints now what waits for the frame's end, if the frame ends within kEarlyMs (a caller
    // with time on its hands, such as a transaction waiting for its reply, saves the event loop
    // the work; painted there, frames are at least kFrameMs - kEarlyMs apart).
    static constexpr int kEarlyMs = 2;
    void PaintIfDue();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void PaintNow();

    QWidget* window_;
    QElapsedTimer clock_;
    qint64 lastPaintMs_ = -kFrameMs;
    QTimer frameEnd_;
    bool delivering_ = false;
};
