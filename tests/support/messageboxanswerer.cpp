#include "messageboxanswerer.h"

#include <QApplication>
#include <QPushButton>
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
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        auto *box = qobject_cast<QMessageBox *>(widget);
        if (!box || !box->isVisible())
            continue;
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
        QTest::mouseClick(button, Qt::LeftButton);
        return;
    }
}
