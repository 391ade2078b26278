// Soak: 200 check-then-update cycles, each on a fresh console and a fresh
// simulated device at 4.4.6 with instant calls, all in one process. Prints the
// cycles completed, the failures and the resident memory at cycles 10 and 200.
#include "devicelibrary.h"
#include "mainwindow.h"
#include "processmemory.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTextEdit>

#include <cstdio>

namespace {

constexpr int cycles = 200;

QJsonObject readDevice(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QJsonDocument::fromJson(file.readAll()).object()
                                          : QJsonObject();
}

// One cycle on a device file of its own: a new file is a new device to the
// simulator, as a new program run would be.
bool runCycle(const QString &devicePath)
{
    const QJsonObject device { { "attached", true }, { "serial", 740001 }, { "boot", 4 },
        { "run", 4 }, { "fpga", 6 }, { "timeScale", 0 } };
    QFile file(devicePath);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    file.write(QJsonDocument(device).toJson());
    file.close();
    qputenv("QD740N_SIM_DEVICE", QFile::encodeName(devicePath));

    bool ok = false;
    {
        MainWindow window;
        window.show();
        auto *check = window.findChild<QPushButton *>(QStringLiteral("checkButton"));
        auto *update = window.findChild<QPushButton *>(QStringLiteral("updateButton"));
        auto *log = window.findChild<QTextEdit *>(QStringLiteral("logView"));
        check->click();
        if (update->isEnabled()) {
            update->click();
            const QJsonObject after = readDevice(devicePath);
            ok = log->toPlainText().contains(QStringLiteral("Firmware updated successfully."))
                && after.value("boot").toInt() == 4 && after.value("run").toInt() == 5
                && after.value("fpga").toInt() == 6;
        }
    }
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QFile::remove(devicePath);
    return ok;
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QTemporaryDir dir;
    QDir::setCurrent(QCoreApplication::applicationDirPath() + QStringLiteral("/../bin"));
    DeviceLibrary::bind(QDir::current().absoluteFilePath(DeviceLibrary::fileName()));

    int completed = 0;
    int failures = 0;
    long rssAt10 = 0;
    long rssAt200 = 0;
    for (int cycle = 1; cycle <= cycles; ++cycle) {
        if (runCycle(dir.filePath(QStringLiteral("device-%1.json").arg(cycle))))
            ++completed;
        else
            ++failures;
        if (cycle == 10)
            rssAt10 = processStatusKiB("VmRSS");
        if (cycle == cycles)
            rssAt200 = processStatusKiB("VmRSS");
    }

    const double growthMiB = double(rssAt200 - rssAt10) / 1024.0;
    std::printf("soak: %d check-then-update cycles\n", cycles);
    std::printf("  completed: %d, failures: %d\n", completed, failures);
    std::printf("  resident memory: %.1f MiB at cycle 10, %.1f MiB at cycle %d (growth %.2f MiB, "
                "target < 5 MB)\n",
        rssAt10 / 1024.0, rssAt200 / 1024.0, cycles, growthMiB);
    return failures == 0 && growthMiB * 1.048576 < 5.0 ? 0 : 1;
}
