// The operator console: a read-only log on the left, the Check Versions,
// Update and Restore buttons on the right. It writes the banner, offers the
// line slots the workers report through, keeps the last probe result and runs
// the three operator flows.
#pragma once

#include "devicestatus.h"

#include <QWidget>

class FlowControl;
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

    // True from the moment a flow starts until it returns, its questions
    // included.
    bool isFlowRunning() const;

private slots:
    void addLine(const QString &s);
    void addStatusLine(const QString &s, bool success);
    void replaceLastLine(const QString &s);
    void checkVersions();
    void updateDevice();
    void restoreDevice();

private:
    void addLibraryLines();
    void addWindowSystemLine();
    void addColouredLine(const QString &s, const QColor &colour);
    void appendLine(const QString &s, const QTextCharFormat &format);
    // The frame every flow runs in, and the three flows it runs.
    void runFlow(const QString &dialogText, void (Updater::*flow)(const QString &));
    void runCheck(const QString &dialogText);
    void runUpdate(const QString &dialogText);
    void runRestore(const QString &dialogText);
    void runWorkerBlocking(QThread &worker);
    void addUnheldWarning();
    void addVerdict(bool succeeded);
    void offer(QPushButton *button);
    void lock();

    DeviceStatus status;
    QTextEdit *logView;
    QPushButton *checkButton;
    QPushButton *updateButton;
    QPushButton *restoreButton;
    // No flow may start, for the rest of the run: after an update or restore,
    // or without a device library.
    bool locked = false;
    FlowControl *flowControl;
};
