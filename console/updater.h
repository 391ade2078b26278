// The operator console: a read-only log on the left, the Check Versions,
// Update and Restore buttons on the right. It writes the banner, offers the
// line slots the workers report through, keeps the last probe result and runs
// the three operator flows.
#pragma once

#include "devicestatus.h"
#include "sessionguard.h"

#include <QPointer>
#include <QWidget>

#include <optional>

class QColor;
class QMessageBox;
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
    // included; the window must not close then.
    bool isFlowRunning() const { return sessionGuard.has_value(); }

    // A request to end the program from outside the window: closes the window
    // now, or, while a flow runs, once it has returned.
    void requestClose();

    // Says why the window stays open while a flow runs.
    void explainRefusedClose();

private slots:
    void addLine(const QString &s);
    void addStatusLine(const QString &s, bool success);
    void replaceLastLine(const QString &s);
    void checkVersions();
    void updateDevice();
    void restoreDevice();

private:
    void addLibraryLines();
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
    bool closeRequested = false;
    std::optional<SessionGuard> sessionGuard; // exactly while a flow runs
    QPointer<QMessageBox> closeRefusal; // while shown, a further close shows no second one
};
