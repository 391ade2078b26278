#include "mainwindow.h"

#include "blockedcloserequests.h"
#include "targetfirmware.h"
#include "updater.h"

#include <QApplication>
#include <QCloseEvent>
#include <QIcon>
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
    connect(new BlockedCloseRequests(this), &BlockedCloseRequests::closeRequested, updater,
        &Updater::explainRefusedClose, Qt::QueuedConnection);
}

// The packaged icon, for this window and the dialogs it brings up. It is an
// SVG (a PNG drawn from it on Windows, whose Qt here has no SVG icon engine),
// drawn by a plugin that takes a few milliseconds to load, so it is set
// once the window has first been painted rather than holding the window back,
// and only where the application has none yet.
void MainWindow::paintEvent(QPaintEvent *event)
{
    QMainWindow::paintEvent(event);
    if (iconRequested || !QApplication::windowIcon().isNull())
        return;
    iconRequested = true;
    QTimer::singleShot(0, this,
        [] { QApplication::setWindowIcon(QIcon(QStringLiteral(QD740N_WINDOW_ICON))); });
}

void MainWindow::requestClose()
{
    updater->requestClose();
}

// Closing while a flow runs would end the process in the middle of a flash
// write, or leave its busy dialog and question behind without a window.
void MainWindow::closeEvent(QCloseEvent *event)
{
    if (!updater->isFlowRunning()) {
        QMainWindow::closeEvent(event);
        return;
    }
    event->ignore();
    updater->explainRefusedClose();
}
