#include "flowcontrol.h"

#include "blockedcloserequests.h"
#include "devicecalls.h"
#include "terminationrequests.h"

#include <QAbstractButton>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QMessageBox>
#include <QSessionManager>
#include <QWidget>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace {

std::chrono::milliseconds minute = std::chrono::minutes(1);

// The program's own estimates: the whole check (its opens, queries and the
// bootstrap), an Fx3 sector, and the FPGA. A call the device has not
// answered in three times its step's estimate, and at least two minutes, has
// stopped answering, as far as anyone can tell.
constexpr std::chrono::seconds kCheckEstimate(30);
constexpr std::chrono::seconds kSectorEstimate(10);
constexpr std::chrono::seconds kFpgaEstimate(6 * 60);
constexpr std::chrono::seconds kShortestDeadline(2 * 60);

} // namespace

FlowControl::FlowControl(QWidget *window)
    : QObject(window)
    , window(window)
    , terminationRequests(new TerminationRequests(this))
{
    window->installEventFilter(this);
    // Delivered after the close request has been handled (or dropped, while
    // the busy dialog blocks the window).
    connect(new BlockedCloseRequests(window), &BlockedCloseRequests::closeRequested, this,
        &FlowControl::closeAttempted, Qt::QueuedConnection);
    connect(terminationRequests, &TerminationRequests::requested, this,
        &FlowControl::terminationRequested);
    connect(qGuiApp, &QGuiApplication::commitDataRequest, this, &FlowControl::sessionEnding);
    connect(DeviceCalls::instance(), &DeviceCalls::started, this, &FlowControl::callStarted);
    connect(DeviceCalls::instance(), &DeviceCalls::returned, this, &FlowControl::callReturned);
    deadline.setSingleShot(true);
    connect(&deadline, &QTimer::timeout, this, &FlowControl::becomeLate);
}

int FlowControl::deadlineMinutes(const QString &function)
{
    using namespace std::chrono;
    seconds estimate = kCheckEstimate;
    if (function.endsWith(QLatin1String("FPGAProgram")))
        estimate = kFpgaEstimate;
    else if (function.endsWith(QLatin1String("Sector")))
        estimate = kSectorEstimate;
    return int(duration_cast<minutes>(std::max(3 * estimate, kShortestDeadline)).count());
}

void FlowControl::setMinute(std::chrono::milliseconds length)
{
    minute = length;
}

void FlowControl::begin(const QString &why)
{
    sessionGuard.emplace(why, window);
    closeRequested = false;
    terminationRequests->hold();
}

void FlowControl::end()
{
    deadline.stop();
    late = false;
    terminationRequests->release();
    sessionGuard.reset();
    closeBox();
    if (closeRequested)
        window->close();
}

void FlowControl::callStarted(const QString &function)
{
    if (!isRunning())
        return;
    callTime.start();
    late = false;
    callMinutes = deadlineMinutes(function);
    deadline.start(callMinutes * minute);
}

// The flow goes on as before: what a late call let go is held again.
void FlowControl::callReturned()
{
    deadline.stop();
    if (!late)
        return;
    late = false;
    closeBox();
    if (isRunning())
        terminationRequests->hold();
}

// Said once per call. From now on, until the call returns, the program can be
// ended: a close asks first, a signal ends it as it ends any program.
void FlowControl::becomeLate()
{
    if (!isRunning())
        return;
    late = true;
    emit line(QString::asprintf("The QD740N has not answered for %d minutes.", callMinutes));
    emit line(QStringLiteral("If it stays silent, unplug it, restart the updater and press Check "
                             "Versions: Restore can then rewrite its firmware."));
    terminationRequests->release();
    closeBox(); // a refusal that says to wait no longer holds
}

int FlowControl::minutesWaited() const
{
    return int(std::max<qint64>(callMinutes, callTime.elapsed() / minute.count()));
}

bool FlowControl::eventFilter(QObject *watched, QEvent *event)
{
    if (watched != window || event->type() != QEvent::Close || !isRunning())
        return false;
    event->ignore();
    closeAttempted();
    return true;
}

// Closing while a call still runs would end the process in the middle of a
// flash write, or leave the busy dialog and the question without a window.
// Once the call is late the operator may, having been told what it costs.
// The box does not wait for its answer: the flow goes on underneath, and the
// box goes when the flow returns or the late call does.
void FlowControl::closeAttempted()
{
    if (!isRunning() || box)
        return;
    if (!late) {
        showBox(new QMessageBox(QMessageBox::Warning, QStringLiteral("Warning"),
            QStringLiteral("The QD740N is being worked on. Closing the firmware updater now could "
                           "leave it unusable.\nWait until the current step has finished."),
            QMessageBox::Ok, window));
        return;
    }
    auto *question = new QMessageBox(QMessageBox::Warning, QStringLiteral("Warning"),
        QString::asprintf("The QD740N has not answered for %d minutes.\nClosing the updater now "
                          "may leave it unusable; it can then be restored.\nClose anyway?",
            minutesWaited()),
        QMessageBox::Yes | QMessageBox::No, window);
    question->setDefaultButton(QMessageBox::No);
    connect(question, &QMessageBox::buttonClicked, this, [question](QAbstractButton *button) {
        if (question->standardButton(button) == QMessageBox::Yes)
            endNow();
    });
    showBox(question);
}

// Held while a call runs, said once, and made when the flow has returned.
// One read only after the flow has returned is made at once.
void FlowControl::terminationRequested()
{
    if (!isRunning()) {
        window->close();
        return;
    }
    if (closeRequested)
        return;
    closeRequested = true;
    emit line(QStringLiteral("The updater will close when the current step has finished."));
}

// A session manager asks before it logs out or shuts down (X11 session
// management, Windows' WM_QUERYENDSESSION): refused while a call runs, and
// granted, ending the program, once one is late.
void FlowControl::sessionEnding(QSessionManager &manager)
{
    if (!isRunning())
        return;
    if (late)
        endNow();
    if (manager.allowsInteraction())
        manager.cancel();
}

void FlowControl::showBox(QMessageBox *shown)
{
    box = shown;
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}

void FlowControl::closeBox()
{
    if (box)
        box->close();
}

// The worker is still inside a library call that does not return, so nothing
// can be taken down in order: the process ends where it stands, with status
// 1, and the library's own clean-up, which would wait on the same silent
// device, does not run. What the program holds (the single-copy guard, the
// workstation's inhibitors) goes with the process.
void FlowControl::endNow()
{
    std::fflush(nullptr);
    std::_Exit(1);
}
