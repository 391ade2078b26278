// Start-up probe: the updater's main window started as the program starts
// it, or one of two references of the same size without the device library:
// built with BARE_WINDOW, a bare QMainWindow; built with SAME_WIDGETS, a
// QMainWindow holding the console's widgets (the eight-line log on the left,
// the three buttons stacked at the top right). At its first paint it prints
// "painted" and the milliseconds since the moment the benchmark handed it in
// QD740N_BENCH_START_NS (the system's monotonic clock), and once the start-up
// has settled the peak resident memory, then quits.
#if !defined(BARE_WINDOW) && !defined(SAME_WIDGETS)
#include "devicelibrary.h"
#include "mainwindow.h"
#endif
#include "processmemory.h"

#include <QApplication>
#include <QMainWindow>
#include <QTimer>
#ifdef SAME_WIDGETS
#include <QBoxLayout>
#include <QPushButton>
#include <QTextCharFormat>
#include <QTextEdit>
#endif

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

#ifdef SAME_WIDGETS
// What the console puts in the window at start-up, with the same texts, the
// banner's warning line in red, and nothing behind the buttons.
QWidget *consoleWidgets()
{
    auto *log = new QTextEdit;
    log->setReadOnly(true);
    const auto addLine = [log](const char *text, bool red = false) {
        QTextCharFormat format;
        if (red)
            format.setForeground(QColor(Qt::red));
        log->setCurrentCharFormat(format);
        log->append(QString::fromLatin1(text));
    };
    addLine("QD740N firmware updater");
    addLine("QD API version 1.0.0 (SIMULATED QD740N, no real device is touched)");
    addLine("QD API library /usr/lib/qd740n-updater/libqd_api.so");
    addLine("Update to firmware version 4.5.6");
    addLine("");
    addLine("Ensure the QD740N is fully connected to the PC.");
    addLine("Do NOT disconnect the QD740N at any time during the update.", true);
    addLine("Disconnecting the QD740N during an update will leave your device in an unoperable "
            "state.");

    auto *check = new QPushButton(QStringLiteral("  Check Versions  "));
    auto *update = new QPushButton(QStringLiteral("  Update  "));
    auto *restore = new QPushButton(QStringLiteral("  Restore  "));
    update->setEnabled(false);
    restore->setEnabled(false);
    auto *buttons = new QBoxLayout(QBoxLayout::TopToBottom);
    buttons->addWidget(check);
    buttons->addWidget(update);
    buttons->addWidget(restore);
    buttons->addStretch(0);

    auto *console = new QWidget;
    auto *layout = new QBoxLayout(QBoxLayout::LeftToRight, console);
    layout->addWidget(log);
    layout->addLayout(buttons);
    return console;
}
#endif

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
#if defined(BARE_WINDOW)
    QMainWindow window;
    window.resize(800, 400);
#elif defined(SAME_WIDGETS)
    QMainWindow window;
    window.setCentralWidget(consoleWidgets());
    window.setWindowTitle(QStringLiteral("QD740N Firmware Update 4.5.6"));
    window.resize(800, 400);
#else
    // As the program binds the library beside it.
    DeviceLibrary::bind(QCoreApplication::applicationDirPath() + QStringLiteral("/../bin/")
        + DeviceLibrary::fileName());
    MainWindow window;
#endif
    FirstPaint firstPaint;
    window.installEventFilter(&firstPaint);
    window.show();
    return app.exec();
}
