#include "mainwindow.h"

#include "blockedcloserequests.h"
#include "targetfirmware.h"
#include "updater.h"

#include <QApplication>
#include <QCloseEvent>
#include <QIcon>
#include <QMessageBox>
#include <QScreen>
#include <QTimer>

MainWindow::MainWindow(QWidget *parent)
    : QMainWindow(parent, Qt::WindowFlags())
{
    updater = new Updater(this);
    setCentralWidget(updater);
    setWindowTitle(QString::asprintf("QD740N Firmware Update %d.%d.%d", kTargetBootVersion,
        kTargetRunVersion, kTargetFpgaVersion));
    // Never larger than the screen: on a small one the log gives up the width.
    resize(QSize(800, 400).boundedTo(screen()->availableSize()));

    // Delivered after the close request has been handled (or dropped, while
    // the busy dialog blocks this window).
    connect(new BlockedCloseRequests(this), &BlockedCloseRequests::closeRequested, this,
        &MainWindow::explainRefusedClose, Qt::QueuedConnection);
}

// The packaged icon, for this window and the dialogs it brings up. It is an
// SVG, drawn by a plugin that takes a few milliseconds to load, so it is set
// once the window has first been painted rather than holding the window back,
// and only where the application has none yet.
void MainWindow::paintEvent(QPaintEvent *event)
{
    QMainWindow::paintEvent(event);
    if (iconRequested || !QApplication::windowIcon().isNull())
        return;
    iconRequested = true;
    QTimer::singleShot(0, this,
        [] { QApplication::setWindowIcon(QIcon(QStringLiteral(":/qd740n-updater.svg"))); });
}

void MainWindow::requestClose()
{
    updater->requestClose();
}

// Closing while a worker writes to the device would end the process in the
// middle of a flash write.
void MainWindow::closeEvent(QCloseEvent *event)
{
    if (!updater->isWorkerRunning()) {
        QMainWindow::closeEvent(event);
        return;
    }
    event->ignore();
    explainRefusedClose();
}

// The refusal is explained in a box that does not wait for its answer: the
// flow goes on underneath and writes its verdict.
void MainWindow::explainRefusedClose()
{
    if (!updater->isWorkerRunning() || closeRefusal)
        return;
    closeRefusal = new QMessageBox(QMessageBox::Warning, QStringLiteral("Warning"),
        QStringLiteral("The QD740N is being worked on. Closing the firmware updater now could "
                       "leave it unusable.\nWait until the current step has finished."),
        QMessageBox::Ok, this);
    closeRefusal->setAttribute(Qt::WA_DeleteOnClose);
    closeRefusal->open();
}
