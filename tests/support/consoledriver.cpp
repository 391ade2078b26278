#include "consoledriver.h"

#include "logreader.h"
#include "updater.h"

#include <QApplication>
#include <QPushButton>
#include <QTest>
#include <QTextEdit>

static bool showAndWait(QWidget &window)
{
    window.show();
    return QTest::qWaitForWindowExposed(&window);
}

ConsoleDriver::ConsoleDriver()
    : exposed(showAndWait(window))
{ }

QPushButton *ConsoleDriver::checkButton() const
{
    return window.findChild<QPushButton *>(QStringLiteral("checkButton"));
}

QPushButton *ConsoleDriver::updateButton() const
{
    return window.findChild<QPushButton *>(QStringLiteral("updateButton"));
}

QPushButton *ConsoleDriver::restoreButton() const
{
    return window.findChild<QPushButton *>(QStringLiteral("restoreButton"));
}

QTextEdit *ConsoleDriver::logView() const
{
    return window.findChild<QTextEdit *>(QStringLiteral("logView"));
}

Updater *ConsoleDriver::updater() const
{
    return window.findChild<Updater *>();
}

bool ConsoleDriver::press(QPushButton *button)
{
    if (!button || !button->isEnabled() || !button->isVisible())
        return false;
    // The flow runs inside the click.
    QTest::mouseClick(button, Qt::LeftButton);
    return QTest::qWaitFor([] { return !QApplication::activeModalWidget(); });
}

QStringList ConsoleDriver::lines() const
{
    return LogReader(logView()).lines();
}

QString ConsoleDriver::offered() const
{
    QStringList names;
    if (updateButton()->isEnabled())
        names << QStringLiteral("update");
    if (restoreButton()->isEnabled())
        names << QStringLiteral("restore");
    return names.join(QLatin1Char('+'));
}
