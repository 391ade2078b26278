// Whether an operator flow is running, and every decision about ending the
// program while one runs. From a flow's start until it returns, a close of
// the window is refused with a box that says why, a signal (Ctrl+C, logout,
// a closed terminal) is held until the flow has returned, and the
// workstation is asked not to sleep, shut down or log out. Each call into the
// device library has a deadline; a call that misses it is late: the operator
// is told so and what to do, a close of the window then asks whether to end
// the program at once, and a signal ends it. Nothing is cancelled: a late
// call that returns lets the flow go on as before.
#pragma once

#include "sessionguard.h"

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QTimer>

#include <chrono>
#include <optional>

class QMessageBox;
class QSessionManager;
class QWidget;
class TerminationRequests;

class FlowControl : public QObject
{
    Q_OBJECT

public:
    // Watches `window`, the program's main window, for the rest of its life.
    explicit FlowControl(QWidget *window);

    bool isRunning() const { return sessionGuard.has_value(); }
    // A flow starts; `why` is said where the workstation shows what holds
    // it off.
    void begin(const QString &why);
    // The flow has returned: everything held is let go, and a close asked
    // for meanwhile is made.
    void end();

    // How many minutes a call of the named device function may take before
    // it is late: three times the estimate of its step, at least two.
    static int deadlineMinutes(const QString &function);
    // The length of the deadlines' minute; the program keeps the real one,
    // a test build may shorten it.
    static void setMinute(std::chrono::milliseconds length);

signals:
    // A line for the console's log.
    void line(const QString &s);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void callStarted(const QString &function);
    void callReturned();
    void becomeLate();
    int minutesWaited() const;
    void closeAttempted();
    void terminationRequested();
    void sessionEnding(QSessionManager &manager);
    void showBox(QMessageBox *shown);
    void closeBox();
    [[noreturn]] static void endNow();

    QWidget *window;
    TerminationRequests *terminationRequests;
    std::optional<SessionGuard> sessionGuard; // exactly while a flow runs
    QTimer deadline;
    QElapsedTimer callTime;
    int callMinutes = 0; // the deadline of the call in progress
    bool late = false; // the call in progress has missed it
    bool closeRequested = false;
    QPointer<QMessageBox> box; // the refusal or the question, while shown
};
