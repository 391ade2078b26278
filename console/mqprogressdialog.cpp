#include "mqprogressdialog.h"

#include <QCloseEvent>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QScreen>
#include <QTimer>
#include <QWindow>

MQProgressDialog::MQProgressDialog(const QString &labelText, QWidget *parent)
    : QProgressDialog(labelText, QString(), 0, 0, parent, Qt::WindowFlags())
{
    setWindowTitle(QStringLiteral("Please Wait"));
    // A title and nothing else: a minimised dialog would leave a window that
    // looks idle and ignores every input.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    setModal(true);
    // The text is measured as one line, line feeds and all; when shown, the
    // dialog grows to at least its size hint. It never outgrows the screen.
    const QFontMetrics metrics(font());
    resize(qMin(metrics.horizontalAdvance(labelText) + 100, screen()->availableSize().width()),
        metrics.height());
}

// Window managers decide a dialog's buttons from its window type, its Motif
// hints, its size hints and the window it is transient for. Without a
// transient parent of its own the toolkit makes the dialog transient for the
// whole program, which GNOME and KDE treat as a dialog of its own, with the
// buttons of one.
void MQProgressDialog::showFor(QWidget *owner)
{
    create(); // the window exists before it is shown, so it goes out with the hint
    windowHandle()->setTransientParent(owner->window()->windowHandle());
    show();
}

// Once the toolkit has given the dialog its size, the size is fixed, before
// the window is mapped: a window manager offers no maximise for a window that
// cannot be resized.
void MQProgressDialog::showEvent(QShowEvent *event)
{
    QProgressDialog::showEvent(event);
    setFixedSize(size());
}

// Minimised, from a taskbar, a key or a window menu, the dialog would leave a
// blocked main window that looks idle.
void MQProgressDialog::changeEvent(QEvent *event)
{
    QProgressDialog::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange && isMinimized())
        QTimer::singleShot(0, this, [this] {
            showNormal();
            raise();
            activateWindow();
        });
}

// Closing the dialog would not stop the worker, only hide that it still runs.
void MQProgressDialog::closeEvent(QCloseEvent *event)
{
    event->ignore();
}

void MQProgressDialog::keyPressEvent(QKeyEvent *event)
{
    if (event->matches(QKeySequence::Cancel)) {
        event->accept();
        return;
    }
    QProgressDialog::keyPressEvent(event);
}
