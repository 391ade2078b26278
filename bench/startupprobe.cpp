// Start-up probe: the updater's main window (or, built with BARE_WINDOW, a
// bare QMainWindow of the same size) started as the program starts it. At
// its first paint it prints "painted" and the milliseconds since the moment
// the benchmark handed it in QD740N_BENCH_START_NS (the system's monotonic
// clock), and once the start-up has settled the peak resident memory, then
// quits.
#ifndef BARE_WINDOW
#include "mainwindow.h"
#endif
#include "processmemory.h"

#include <QApplication>
#include <QMainWindow>
#include <QTimer>

#include <cstdio>
#include <ctime>

namespace {

double millisecondsSinceStart()
{
    timespec ts {};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    const qint64 now = qint64(ts.tv_sec) * 1000000000 + ts.tv_nsec;
    return double(now - qEnvironmentVariable("QD740N_BENCH_START_NS").toLongLong()) / 1e6;
}

class FirstPaint : public QObject
{
public:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Paint && !seen) {
            seen = true;
            std::printf("painted %.3f\n", millisecondsSinceStart());
            std::fflush(stdout);
            QTimer::singleShot(300, qApp, [] {
                std::printf("peak %ld\n", processStatusKiB("VmHWM"));
                std::fflush(stdout);
                QCoreApplication::quit();
            });
        }
        return QObject::eventFilter(watched, event);
    }

private:
    bool seen = false;
};

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
#ifdef BARE_WINDOW
    QMainWindow window;
    window.resize(800, 400);
#else
    MainWindow window;
#endif
    FirstPaint firstPaint;
    window.installEventFilter(&firstPaint);
    window.show();
    return app.exec();
}
