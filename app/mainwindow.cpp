#include "mainwindow.h"

#include "targetfirmware.h"
#include "updater.h"

#include <QCloseEvent>

MainWindow::MainWindow(QWidget *parent)
    : QMainWindow(parent, Qt::WindowFlags())
{
    updater = new Updater(this);
    setCentralWidget(updater);
    setWindowTitle(QString::asprintf("QD740N Firmware Update %d.%d.%d", kTargetBootVersion,
        kTargetRunVersion, kTargetFpgaVersion));
    resize(800, 400);
}

// Closing while a worker writes to the device would end the process in the
// middle of a flash write.
void MainWindow::closeEvent(QCloseEvent *event)
{
    if (updater->isWorkerRunning()) {
        event->ignore();
        return;
    }
    QMainWindow::closeEvent(event);
}
