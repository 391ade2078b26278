#include "mqprogressdialog.h"

#include <QCloseEvent>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QScreen>

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
