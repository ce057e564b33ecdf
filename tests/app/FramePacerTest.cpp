// The window's painting paced to the display frame: values change at once, paints come at most
// once per frame, and the last change is on screen within a frame after the changes stop.
#include "FramePacer.h"
#include "AppTestSupport.h"

#include <QElapsedTimer>
#include <QEvent>
#include <QLabel>
#include <QVBoxLayout>
#include <QWidget>

#include <gtest/gtest.h>

#include <memory>

namespace {

// Counts the label's paints and keeps the text each showed.
class PaintWatch : public QObject {
public:
    explicit PaintWatch(QLabel* label) : label_(label) { label->installEventFilter(this); }
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint) {
            ++paints;
            painted = label_->text();
        }
        return false;
    }
    QLabel* label_;
    int paints = 0;
    QString painted;
};

class FramePacer : public ::testing::Test {
protected:
    void SetUp() override {
        auto* layout = new QVBoxLayout(&window);
        label = new QLabel(QStringLiteral("start"));
        layout->addWidget(label);
        watch = std::make_unique<PaintWatch>(label);
        new TFramePacer(&window);
        window.show();
        ASSERT_TRUE(app_testing::WaitFor([&] { return watch->paints > 0; }, 2000)) << "the first paint";
        app_testing::WaitFor([] { return false; }, 2 * TFramePacer::kFrameMs);
        watch->paints = 0;
    }
    // At most one paint per frame begun, and the latest text on screen a frame after the end.
    void ExpectPaced(qint64 elapsedMs, const QString& last) {
        // One frame may have begun just before the count started.
        EXPECT_LE(watch->paints, elapsedMs / TFramePacer::kFrameMs + 3) << "over " << elapsedMs << " ms";
        EXPECT_TRUE(app_testing::WaitFor([&] { return watch->painted == last; }, 5 * TFramePacer::kFrameMs))
            << "shown: " << watch->painted.toStdString();
    }

    QWidget window;
    QLabel* label = nullptr;
    std::unique_ptr<PaintWatch> watch;
};

TEST_F(FramePacer, ChangesBetweenTurnsOfTheEventLoopPaintOncePerFrame) {
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < 2000; ++i) {
        label->setText(QString::number(i));
        EXPECT_EQ(label->text(), QString::number(i)) << "the value is there at once";
        QCoreApplication::processEvents();
    }
    ExpectPaced(clock.elapsed(), QStringLiteral("1999"));
}

TEST_F(FramePacer, ImmediateRepaintsInALoopWithoutMessagesAreLimitedToo) {
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < 2000; ++i) {
        label->setText(QString::number(i));
        label->repaint();
    }
    ExpectPaced(clock.elapsed(), QStringLiteral("1999"));
}

} // namespace
