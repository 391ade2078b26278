#include "bringback.h"

#include "consoledriver.h"
#include "consolelines.h"
#include "simdevicefile.h"

#include <QTest>

void bringBack(SimDeviceFile &sim, int serial)
{
    sim.startNewRun();
    QJsonObject device = sim.read();
    QVERIFY(!device.isEmpty());
    device.insert(QStringLiteral("attached"), true);
    device.remove(QStringLiteral("fail"));
    device.remove(QStringLiteral("unplugDuring"));
    sim.write(device);
    sim.clearTrace();

    ConsoleDriver console;
    QVERIFY(console.exposed);
    console.box.setAnswer(QMessageBox::Yes);
    QVERIFY(console.press(console.checkButton()));
    const QString offered = console.offered();
    QVERIFY2(offered == QLatin1String("update") || offered == QLatin1String("restore"),
        qPrintable(console.lines().join(QLatin1Char('\n'))));
    QVERIFY(console.pressOffered());

    const QStringList log = console.lines();
    QCOMPARE(log.mid(log.size() - 2), ConsoleLines::success);
    QCOMPARE(sim.firmware(), QStringLiteral("4.5.6"));
    QCOMPARE(sim.read().value(QStringLiteral("serial")).toInt(-1), serial);
}
