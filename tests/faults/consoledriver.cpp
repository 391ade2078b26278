#include "consoledriver.h"

#include "simdevicefile.h"

#include <QApplication>
#include <QBrush>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextEdit>

WarningAnswerer::WarningAnswerer()
{
    // The question comes up inside the pressed button's flow, after the
    // probe, so the timer keeps looking until this answerer goes away.
    timer.setInterval(5);
    QObject::connect(&timer, &QTimer::timeout, &timer, [this] { look(); });
    timer.start();
}

void WarningAnswerer::look()
{
    auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
    if (!box || box->windowTitle() != QLatin1String("Warning"))
        return;
    QAbstractButton *yes = box->button(QMessageBox::Yes);
    if (!yes)
        return;
    ++count;
    QTest::mouseClick(yes, Qt::LeftButton);
}

ConsoleDriver::ConsoleDriver()
{
    window.show();
    exposed = QTest::qWaitForWindowExposed(&window);
}

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

void ConsoleDriver::press(QPushButton *button)
{
    QTest::mouseClick(button, Qt::LeftButton);
}

static const QTextDocument *logDocument(const MainWindow &window)
{
    return window.findChild<QTextEdit *>(QStringLiteral("logView"))->document();
}

QStringList ConsoleDriver::lines() const
{
    QStringList result;
    for (QTextBlock block = logDocument(window)->begin(); block.isValid(); block = block.next())
        result << block.text();
    return result;
}

QList<QColor> ConsoleDriver::colours() const
{
    QList<QColor> result;
    for (QTextBlock block = logDocument(window)->begin(); block.isValid(); block = block.next()) {
        const QTextCharFormat format
            = block.begin().atEnd() ? block.charFormat() : block.begin().fragment().charFormat();
        result << (format.foreground().style() == Qt::NoBrush ? QColor()
                                                              : format.foreground().color());
    }
    return result;
}

QStringList ConsoleDriver::section(const QString &heading) const
{
    const QStringList all = lines();
    const int start = all.lastIndexOf(heading);
    return start < 0 ? QStringList() : all.mid(start);
}

QList<QColor> ConsoleDriver::sectionColours(const QString &heading) const
{
    const int start = lines().lastIndexOf(heading);
    return start < 0 ? QList<QColor>() : colours().mid(start);
}

QJsonObject simDevice(
    const QJsonValue &boot, const QJsonValue &run, const QJsonValue &fpga, int serial)
{
    return { { "attached", true }, { "serial", serial }, { "boot", boot }, { "run", run },
        { "fpga", fpga }, { "timeScale", 0 } };
}

QString headingOf(const QString &flow)
{
    if (flow == QLatin1String("update"))
        return QStringLiteral("Updating Firmware");
    if (flow == QLatin1String("restore"))
        return QStringLiteral("Restoring Device");
    return QStringLiteral("Checking Firmware Versions...");
}

QStringList notDetectedLines()
{
    return { QStringLiteral("Failed to detect device."),
        QStringLiteral("Cycle the power on the QD740N, restart the firmware updater,  and "
                       "try again."),
        QStringLiteral("If you continue to receive this message, contact Marquell.") };
}

QStringList failedVerdictLines()
{
    return { QStringLiteral("Firmware updated unsuccessfully."),
        QStringLiteral("Check device connections and re-run the software."),
        QStringLiteral("If problem persists, contact Marquell."),
        QStringLiteral("You may now close the software.") };
}

QStringList succeededVerdictLines()
{
    return { QStringLiteral("Firmware updated successfully."),
        QStringLiteral("You may now close the software.") };
}

QJsonObject readJson(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QJsonDocument::fromJson(file.readAll()).object();
}

void writeJson(const QString &path, const QJsonObject &object)
{
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        file.write(QJsonDocument(object).toJson());
}

QMap<QString, QByteArray> firmwareSnapshot()
{
    QMap<QString, QByteArray> files;
    const QDir folder(QStringLiteral("firmware"));
    for (const QString &name : folder.entryList(QDir::Files | QDir::Hidden)) {
        QFile file(folder.filePath(name));
        files.insert(name, file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("?"));
    }
    return files;
}

bool putBackFirmware()
{
    if (!QDir().mkpath(QStringLiteral("firmware")))
        return false;
    const QDir source(QStringLiteral(QD740N_FIRMWARE_DIR));
    const QStringList names = source.entryList(QDir::Files);
    for (const QString &name : names) {
        const QString target = QStringLiteral("firmware/") + name;
        QFile::remove(target);
        if (!QFile::copy(source.filePath(name), target))
            return false;
    }
    return names.size() == 3;
}

void bringBack(SimDeviceFile &sim, int serial)
{
    QJsonObject device = readJson(qEnvironmentVariable("QD740N_SIM_DEVICE"));
    QVERIFY(!device.isEmpty());
    device.insert(QStringLiteral("attached"), true);
    device.remove(QStringLiteral("fail"));
    device.remove(QStringLiteral("unplugDuring"));
    static int runs = 0;
    const QString next = QDir(sim.dir()).filePath(QStringLiteral("device-run%1.json").arg(++runs));
    writeJson(next, device);
    qputenv("QD740N_SIM_DEVICE", QFile::encodeName(next));
    sim.clearTrace();

    ConsoleDriver console;
    QVERIFY(console.exposed);
    WarningAnswerer answerer;
    console.press(console.checkButton());
    const bool update = console.updateButton()->isEnabled();
    const bool restore = console.restoreButton()->isEnabled();
    QVERIFY2(update != restore, qPrintable(console.lines().join(QLatin1Char('\n'))));
    console.press(update ? console.updateButton() : console.restoreButton());

    const QStringList log = console.lines();
    QCOMPARE(log.mid(log.size() - 2), succeededVerdictLines());
    QCOMPARE(console.colours().value(log.size() - 2), QColor(34, 177, 76));

    const QJsonObject after = readJson(next);
    QCOMPARE(after.value(QStringLiteral("boot")).toInt(-1), 4);
    QCOMPARE(after.value(QStringLiteral("run")).toInt(-1), 5);
    QCOMPARE(after.value(QStringLiteral("fpga")).toInt(-1), 6);
    QCOMPARE(after.value(QStringLiteral("serial")).toInt(-1), serial);
}
