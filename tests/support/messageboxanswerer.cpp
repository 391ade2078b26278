#include "messageboxanswerer.h"

#include <QApplication>
#include <QPointer>
#include <QPushButton>
#include <QScopeGuard>
#include <QTest>

MessageBoxAnswerer::MessageBoxAnswerer(QMessageBox::StandardButton answer)
    : answer(answer)
{
    // A box comes up inside the flow a press started, so the timer keeps
    // looking until the answerer goes.
    timer.setInterval(5);
    QObject::connect(&timer, &QTimer::timeout, &timer, [this] { look(); });
    timer.start();
}

void MessageBoxAnswerer::look()
{
    if (looking)
        return;
    looking = true;
    const auto lookAgainLater = qScopeGuard([this] { looking = false; });
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        QPointer<QMessageBox> box = qobject_cast<QMessageBox *>(widget);
        if (!box || !box->isVisible())
            continue;
        // The hook may run the event loop, and top-level widgets may go meanwhile.
        if (beforeAnswer && (!beforeAnswer(box) || !box || !box->isVisible()))
            return;
        QAbstractButton *button = box->button(answer);
        if (!button && !box->buttons().isEmpty())
            button = box->buttons().constFirst();
        if (!button)
            continue;
        ++count;
        lastTitle = box->windowTitle();
        lastText = box->text();
        lastIcon = box->icon();
        lastButtons = box->standardButtons();
        if (byEnter)
            QTest::keyClick(box, Qt::Key_Return);
        else
            QTest::mouseClick(button, Qt::LeftButton);
        return;
    }
}
