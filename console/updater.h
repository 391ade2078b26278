// The operator console: a read-only log on the left, the Check Versions,
// Update and Restore buttons on the right. It writes the banner, offers the
// line slots the workers report through, keeps the last probe result and runs
// the three operator flows.
#pragma once

#include "devicestatus.h"

#include <QWidget>

class QColor;
class QPushButton;
class QTextCharFormat;
class QTextEdit;
class QThread;

class Updater : public QWidget
{
    Q_OBJECT

public:
    explicit Updater(QWidget *parent);

    // True while a flow waits for its worker; the window must not close then.
    bool isWorkerRunning() const { return workerRunning; }

    // A request to end the program from outside the window: closes the window
    // now, or, while a worker runs, once the flow has written its verdict.
    void requestClose();

private slots:
    void addLine(const QString &s);
    void addStatusLine(const QString &s, bool success);
    void replaceLastLine(const QString &s);
    void checkVersions();
    void updateDevice();
    void restoreDevice();

private:
    void addColouredLine(const QString &s, const QColor &colour);
    void appendLine(const QString &s, const QTextCharFormat &format);
    void runWorkerBlocking(QThread &worker, const QString &dialogText);
    void addVerdict(bool succeeded);
    void offer(QPushButton *button);
    void lock();
    void closeIfRequested();

    DeviceStatus status;
    QTextEdit *logView;
    QPushButton *checkButton;
    QPushButton *updateButton;
    QPushButton *restoreButton;
    bool workerRunning = false;
    bool locked = false; // after an update or restore, for the rest of the run
    bool closeRequested = false;
};
