#include "mainwindow.h"

#include "targetfirmware.h"
#include "updater.h"

#include <QApplication>
#include <QIcon>
#include <QImageReader>
#include <QPixmap>
#include <QScreen>
#include <QTimer>
#include <QWindow>

MainWindow::MainWindow(QWidget *parent)
    : QMainWindow(parent, Qt::WindowFlags())
{
    updater = new Updater(this);
    setCentralWidget(updater);
    setWindowTitle(QString::asprintf("QD740N Firmware Update %d.%d.%d", kTargetBootVersion,
        kTargetRunVersion, kTargetFpgaVersion));
    // Never larger than the screen: on a small one the log gives up the width.
    // The frame is left out until the window manager has put it around.
    resize(QSize(800, 400).boundedTo(screen()->availableSize()));
}

// The packaged icon, for this window and the dialogs it brings up: a PNG of
// 64 pixels drawn from the SVG, which the window manager scales as it needs.
// Qt's own PNG reader reads it, told the format, so no image or icon plugin
// is loaded for it: the SVG icon engine and Qt's SVG module with it would
// hold over a megabyte for the program's whole run. It is set once the
// window has first been painted rather than holding the window back, and
// only where the application has none yet.
void MainWindow::paintEvent(QPaintEvent *event)
{
    QMainWindow::paintEvent(event);
    if (iconRequested || !QApplication::windowIcon().isNull())
        return;
    iconRequested = true;
    QTimer::singleShot(0, this, [] {
        QImageReader icon(QStringLiteral(QD740N_WINDOW_ICON), "png");
        icon.setAutoDetectImageFormat(false);
        QApplication::setWindowIcon(QIcon(QPixmap::fromImage(icon.read())));
    });
}

// The window manager puts its frame around the window only once the window is
// mapped; the first move that follows reports it.
bool MainWindow::event(QEvent *event)
{
    const bool result = QMainWindow::event(event);
    if (!frameFitted && event->type() == QEvent::Move && windowHandle())
        fitFrameToScreen();
    return result;
}

// The whole window, frame included, on the screen's available area: 800 by
// 400 where that fits, else as much as fits, moved onto it where the frame
// sticks out. Done once, when the frame is first known, so a window the
// operator moves or resizes later stays where it was put.
void MainWindow::fitFrameToScreen()
{
    const QMargins frame = windowHandle()->frameMargins();
    if (frame.isNull())
        return; // not framed (yet)
    frameFitted = true;
    const QRect available = screen()->availableGeometry();
    const QSize client = QSize(800, 400).boundedTo(available.size().shrunkBy(frame));
    if (client != size())
        resize(client);
    QRect outer(frameGeometry().topLeft(), client.grownBy(frame));
    outer.moveRight(qMin(outer.right(), available.right()));
    outer.moveBottom(qMin(outer.bottom(), available.bottom()));
    outer.moveLeft(qMax(outer.left(), available.left()));
    outer.moveTop(qMax(outer.top(), available.top()));
    if (outer.topLeft() != frameGeometry().topLeft())
        move(outer.topLeft());
}
