#include "updater.h"

#include "checkversionthread.h"
#include "detectstate.h"
#include "devicelibrary.h"
#include "flowcontrol.h"
#include "mqprogressdialog.h"
#include "qd_api.h"
#include "restorethread.h"
#include "sessionguard.h"
#include "targetfirmware.h"
#include "updateversionthread.h"

#include <QBoxLayout>
#include <QColor>
#include <QCoreApplication>
#include <QEventLoop>
#include <QGuiApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollBar>
#include <QTextCharFormat>
#include <QTextCursor>
#include <QTextEdit>

Updater::Updater(QWidget *parent)
    : QWidget(parent, Qt::WindowFlags())
{
    logView = new QTextEdit;
    logView->setObjectName(QStringLiteral("logView"));
    logView->setReadOnly(true);
    logView->setAccessibleName(QStringLiteral("Log"));
    // The keyboard focus shows on the log as it does on the buttons: its frame
    // is highlighted, and as wide as the plain one, so nothing moves.
    logView->setStyleSheet(
        QStringLiteral("QTextEdit { border: 1px solid palette(mid); padding: 1px; }"
                       "QTextEdit:focus { border: 2px solid palette(highlight); padding: 0px; }"));

    checkButton = new QPushButton(QStringLiteral("  Check Versions  "));
    checkButton->setObjectName(QStringLiteral("checkButton"));
    updateButton = new QPushButton(QStringLiteral("  Update  "));
    updateButton->setObjectName(QStringLiteral("updateButton"));
    restoreButton = new QPushButton(QStringLiteral("  Restore  "));
    restoreButton->setObjectName(QStringLiteral("restoreButton"));
    // A screen reader says the words, not the padding around them.
    checkButton->setAccessibleName(QStringLiteral("Check Versions"));
    updateButton->setAccessibleName(QStringLiteral("Update"));
    restoreButton->setAccessibleName(QStringLiteral("Restore"));
    updateButton->setEnabled(false);
    restoreButton->setEnabled(false);

    auto *layout = new QBoxLayout(QBoxLayout::LeftToRight);
    setLayout(layout);
    auto *logBox = new QBoxLayout(QBoxLayout::TopToBottom);
    logBox->addWidget(logView);
    auto *buttonBox = new QBoxLayout(QBoxLayout::TopToBottom);
    buttonBox->addWidget(checkButton);
    buttonBox->addWidget(updateButton);
    buttonBox->addWidget(restoreButton);
    buttonBox->addStretch(0); // keeps the buttons at the top
    layout->addLayout(logBox);
    layout->addLayout(buttonBox);
    setTabOrder(logView, checkButton);
    setTabOrder(checkButton, updateButton);
    setTabOrder(updateButton, restoreButton);

    connect(checkButton, &QPushButton::clicked, this, &Updater::checkVersions);
    connect(updateButton, &QPushButton::clicked, this, &Updater::updateDevice);
    connect(restoreButton, &QPushButton::clicked, this, &Updater::restoreDevice);
    flowControl = new FlowControl(window());
    connect(flowControl, &FlowControl::line, this, &Updater::addLine);

    addLine(QStringLiteral("QD740N firmware updater"));
    addLibraryLines();
    addLine(QString::asprintf("Update to firmware version %d.%d.%d", kTargetBootVersion,
        kTargetRunVersion, kTargetFpgaVersion));
    addLine(QString());
    addLine(QStringLiteral("Ensure the QD740N is fully connected to the PC."));
    addColouredLine(
        QStringLiteral("Do NOT disconnect the QD740N at any time during the update."), Qt::red);
    addLine(QStringLiteral("Disconnecting the QD740N during an update will leave your device in an "
                           "unoperable state."));
    addWindowSystemLine();
}

bool Updater::isFlowRunning() const
{
    return flowControl->isRunning();
}

// Natively on Wayland (the operator named it, or no X server answers), the
// desktop may minimise the busy dialog without a word to the program.
void Updater::addWindowSystemLine()
{
    if (QGuiApplication::platformName().startsWith(QLatin1String("wayland")))
        addLine(QStringLiteral("The updater runs natively on Wayland: the busy dialog can be "
                               "minimised."));
}

// The library's version and the file it was loaded from. A library that could
// not be bound is named with the reason, and no flow can start: nothing would
// reach the device.
void Updater::addLibraryLines()
{
    const QString path = DeviceLibrary::path();
    if (!DeviceLibrary::isBound()) {
        addLine(QStringLiteral("QD API library %1 cannot be used: %2")
                    .arg(path, DeviceLibrary::failure()));
        addLine(QStringLiteral("Check Versions is disabled: the updater cannot reach the QD740N "
                               "without its library."));
        checkButton->setEnabled(false);
        locked = true;
        return;
    }
    // The library may hand back no version text; show the line without one.
    const char *apiVersion = qdGetAPIVersion();
    addLine(QString::asprintf("QD API version %s", apiVersion ? apiVersion : ""));
    addLine(QStringLiteral("QD API library %1").arg(path));
}

void Updater::addLine(const QString &s)
{
    appendLine(s, QTextCharFormat());
}

void Updater::addStatusLine(const QString &s, bool success)
{
    QColor green;
    green.setRgb(34, 177, 76, 255);
    addColouredLine(s, success ? green : QColor(Qt::red));
}

// The colour applies to the appended paragraph only.
void Updater::addColouredLine(const QString &s, const QColor &colour)
{
    QTextCharFormat format;
    format.setForeground(colour);
    appendLine(s, format);
}

// Each line goes in at the end of the log as a paragraph of plain text with a
// format of its own: no line is ever taken for markup, wherever it comes from
// (the library's version text included), and where the operator last clicked
// or selected cannot colour it. Plain lines carry no colour of their own: they
// are drawn in the log's text colour. As with append(), a log scrolled to its
// end stays there.
void Updater::appendLine(const QString &s, const QTextCharFormat &format)
{
    QScrollBar *scrollBar = logView->verticalScrollBar();
    const bool atEnd = scrollBar->value() >= scrollBar->maximum();
    QTextCursor end(logView->document());
    end.movePosition(QTextCursor::End);
    if (logView->document()->isEmpty())
        end.setBlockCharFormat(format);
    else
        end.insertBlock(QTextBlockFormat(), format);
    end.insertText(s, format);
    if (atEnd)
        scrollBar->setValue(scrollBar->maximum());
}

void Updater::replaceLastLine(const QString &s)
{
    QTextCursor cursor = logView->textCursor();
    cursor.movePosition(QTextCursor::End, QTextCursor::MoveAnchor, 1);
    cursor.deletePreviousChar();
    cursor.select(QTextCursor::LineUnderCursor);
    if (cursor.selectedText() == QLatin1String("\n")) {
        cursor.removeSelectedText();
        cursor.deletePreviousChar();
        cursor.select(QTextCursor::LineUnderCursor);
    }
    cursor.removeSelectedText();
    cursor.deletePreviousChar();
    addLine(s);
}

// Every flow runs in this frame, from its first line until it returns, its
// questions included; FlowControl keeps the program running meanwhile, and
// the busy dialog's first line says why. The flow's busy dialog and worker
// are locals of `flow`, gone when it has returned. The buttons are disabled
// for the run, and the flow enables the one the operator may press next: a
// desktop may minimise the busy dialog without a word to the program, and
// the window under it must not look ready meanwhile.
void Updater::runFlow(const QString &dialogText, void (Updater::*flow)(const QString &))
{
    if (isFlowRunning() || locked)
        return;
    flowControl->begin(dialogText.section(QLatin1Char('\n'), 0, 0));
    for (QPushButton *button : { checkButton, updateButton, restoreButton })
        button->setEnabled(false);
    (this->*flow)(dialogText);
    flowControl->end();
}

// Starts the worker and waits for it without spinning: the local event loop
// sleeps until an event arrives, so the worker's lines and the repaints are
// handled as they come and the wait ends as soon as the worker has finished.
void Updater::runWorkerBlocking(QThread &worker)
{
    QEventLoop loop;
    connect(&worker, &QThread::finished, &loop, &QEventLoop::quit, Qt::QueuedConnection);
    worker.start(QThread::InheritPriority);
    // A thread that could not be started never finishes; its results stay
    // at their failure values.
    if (worker.isRunning() || worker.isFinished())
        loop.exec();
    // finished() is emitted just before the thread counts as finished.
    worker.wait();
    // Lines the worker said last may still be queued; they belong before the
    // flow's own conclusion.
    QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
}

void Updater::checkVersions()
{
    runFlow(QStringLiteral("Checking QD740N firmware version\nEstimated 30 seconds\nPlease Wait"),
        &Updater::runCheck);
}

void Updater::runCheck(const QString &dialogText)
{
    addLine(QString());
    addLine(QStringLiteral("Checking Firmware Versions..."));
    addLine(QString());
    checkButton->setEnabled(false);

    MQProgressDialog dialog(dialogText);
    dialog.showFor(this);
    CheckVersionThread worker;
    connect(&worker, &CheckVersionThread::updateText, this, &Updater::addLine);
    runWorkerBlocking(worker);
    status = worker.status;

    switch (status.state) {
    case NotDetected:
        addLine(QStringLiteral("Failed to detect device."));
        addLine(QStringLiteral(
            "Cycle the power on the QD740N, restart the firmware updater,  and try again."));
        addLine(QStringLiteral("If you continue to receive this message, contact Marquell."));
        return;
    case Bootstrapped:
    case BootLoader:
        addLine(QStringLiteral("Attempting to bootstrap QD740N firmware."));
        addLine(QString::asprintf("Found serial %d", status.serial));
        addLine(QStringLiteral("Firmware can now be restored."));
        addLine(QStringLiteral("Press Restore to continue."));
        offer(restoreButton);
        return;
    default:
        break;
    }

    addLine(QString::asprintf("Found Serial %d, with firmware %d.%d.%d", status.serial,
        status.bootVersion, status.runVersion, status.fpgaVersion));
    // Each component against its own target number, never the version as a whole.
    // A stray Enter answers No: without a default of its own, the box would
    // make Yes the default, and the next key would start writing older
    // firmware over newer.
    if (status.bootVersion > kTargetBootVersion || status.runVersion > kTargetRunVersion
        || status.fpgaVersion > kTargetFpgaVersion) {
        const QMessageBox::StandardButton answer = QMessageBox::question(this,
            QStringLiteral("Warning"),
            QStringLiteral("Your QD740N appears to have a newer firmware version.\n"
                           "Installing this will overwrite your firmware with an older version.\n"
                           "Are you sure you wish to continue?"),
            QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
        if (answer != QMessageBox::Yes) {
            addLine(QStringLiteral("Cancelling operation."));
            return;
        }
        offer(updateButton);
        addLine(QStringLiteral("Firmware can now be updated."));
        addLine(QStringLiteral("Press Update to continue."));
    } else if (status.bootVersion < kTargetBootVersion || status.runVersion < kTargetRunVersion
        || status.fpgaVersion < kTargetFpgaVersion) {
        addLine(QStringLiteral("Firmware requires update."));
        addLine(QStringLiteral("Press Update to continue."));
        offer(updateButton);
    } else {
        addLine(QStringLiteral("Firmware does not require update."));
    }
}

void Updater::updateDevice()
{
    runFlow(QStringLiteral("Updating Device\nDO NOT UNPLUG THE DEVICE\n"
                           "This process can take several minutes\nPlease Wait..."),
        &Updater::runUpdate);
}

void Updater::runUpdate(const QString &dialogText)
{
    addLine(QString());
    addLine(QStringLiteral("Updating Firmware"));
    addLine(QString());
    addUnheldWarning();

    MQProgressDialog dialog(dialogText);
    dialog.showFor(this);
    UpdateVersionThread worker;
    worker.status = status;
    connect(&worker, &UpdateVersionThread::addLine, this, &Updater::addLine);
    connect(&worker, &UpdateVersionThread::replaceLastLine, this, &Updater::replaceLastLine);
    runWorkerBlocking(worker);

    addVerdict(worker.succeeded);
    lock();
}

void Updater::restoreDevice()
{
    runFlow(
        QStringLiteral(
            "Performing Device Restore\nDO NOT UNPLUG DEVICE\nEstimated 6 minutes\nPlease Wait..."),
        &Updater::runRestore);
}

void Updater::runRestore(const QString &dialogText)
{
    addLine(QString());
    addLine(QStringLiteral("Restoring Device"));
    addLine(QString());
    addUnheldWarning();

    MQProgressDialog dialog(dialogText);
    dialog.showFor(this);
    RestoreThread worker;
    worker.status = status;
    connect(&worker, &RestoreThread::addLine, this, &Updater::addLine);
    runWorkerBlocking(worker);

    addVerdict(worker.succeeded);
    lock();
}

// Said as a write starts, where the workstation can still be put to sleep
// in the middle of it.
void Updater::addUnheldWarning()
{
    const QString warning = SessionGuard::unheldWarning();
    if (!warning.isEmpty())
        addLine(warning);
}

// The button the check enabled is the operator's next step: it takes the
// focus, so Space or Enter presses it.
void Updater::offer(QPushButton *button)
{
    button->setEnabled(true);
    button->setFocus(Qt::OtherFocusReason);
}

// After an update or restore nothing more may start: the buttons are disabled
// for good and the flow slots refuse, however they are called. The log stays
// enabled and read-only, in its own colours, so the report can still be
// scrolled, selected and copied; it shows its last line, which tells the
// operator to close the program.
void Updater::lock()
{
    locked = true;
    for (QPushButton *button : { checkButton, updateButton, restoreButton })
        button->setEnabled(false);
    QScrollBar *scrollBar = logView->verticalScrollBar();
    scrollBar->setValue(scrollBar->maximum());
}

void Updater::addVerdict(bool succeeded)
{
    if (succeeded) {
        addStatusLine(QStringLiteral("Firmware updated successfully."), true);
        addLine(QStringLiteral("You may now close the software."));
        return;
    }
    addStatusLine(QStringLiteral("Firmware updated unsuccessfully."), false);
    addLine(QStringLiteral("Check device connections and re-run the software."));
    addLine(QStringLiteral("If problem persists, contact Marquell."));
    addLine(QStringLiteral("You may now close the software."));
}
