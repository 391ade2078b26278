#include "consoledriver.h"

#include "devicelibrary.h"
#include "logreader.h"
#include "updater.h"

#include <QApplication>
#include <QClipboard>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>
#include <QTextBlock>
#include <QTextEdit>

static bool showAndWait(QWidget &window)
{
    window.show();
    // The platform reports the window exposed through an event: handled
    // here, the wait finds it done instead of sleeping before it looks again.
    QCoreApplication::processEvents();
    return QTest::qWaitForWindowExposed(&window);
}

// The suites run on the build's simulated device, bound as the program binds
// its library, unless a test has bound another.
static bool bindSimulatedDevice()
{
    if (DeviceLibrary::path().isEmpty())
        DeviceLibrary::bind(QStringLiteral(QD740N_LIBRARY));
    return DeviceLibrary::isBound();
}

ConsoleDriver::ConsoleDriver()
    : libraryBound(bindSimulatedDevice())
    , exposed(showAndWait(window))
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

bool ConsoleDriver::pressOffered()
{
    const QString next = offered();
    if (next == QLatin1String("update"))
        return press(updateButton());
    return next == QLatin1String("restore") && press(restoreButton());
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

QStringList ConsoleDriver::lockProblems()
{
    QStringList problems;
    for (const QPushButton *button : { checkButton(), updateButton(), restoreButton() }) {
        if (button->isEnabled())
            problems << button->objectName() + QStringLiteral(" is enabled");
    }
    const QStringList before = lines();
    for (const char *slot : { "checkVersions", "updateDevice", "restoreDevice" })
        QMetaObject::invokeMethod(updater(), slot);
    if (lines() != before)
        problems << QStringLiteral("a flow started");

    QTextEdit *log = logView();
    if (!log->isEnabled() || !log->isReadOnly())
        problems << QStringLiteral("the log is not enabled and read-only");
    const QRect lastLine = log->cursorRect(QTextCursor(log->document()->lastBlock()));
    if (!log->viewport()->rect().contains(lastLine))
        problems << QStringLiteral("the last line is out of view");
    QScrollBar *scrollBar = log->verticalScrollBar();
    const int end = scrollBar->value();
    QTest::keyClick(log, Qt::Key_PageUp);
    if (scrollBar->maximum() > 0 && scrollBar->value() >= end)
        problems << QStringLiteral("Page Up does not scroll the log");
    QTest::keyClick(log, Qt::Key_PageDown);

    // The last line selected with the mouse, and copied.
    const QPoint from = lastLine.topLeft() + QPoint(1, lastLine.height() / 2);
    const QPoint to(log->viewport()->width() - 2, from.y());
    QTest::mousePress(log->viewport(), Qt::LeftButton, {}, from);
    QTest::mouseMove(log->viewport(), to);
    QTest::mouseRelease(log->viewport(), Qt::LeftButton, {}, to);
    QTest::keyClick(log, Qt::Key_C, Qt::ControlModifier);
    const QString copied = QGuiApplication::clipboard()->text();
    if (copied.isEmpty() || !before.constLast().endsWith(copied))
        problems << QStringLiteral("selecting and copying the last line gave \"%1\"").arg(copied);
    return problems;
}
