// How much of a core the GUI thread burns while a flow waits for its worker.
// Runs the real check flow on a simulated device whose probe lasts about five
// seconds (it has to bootstrap the device), then the same probe once more
// waited for with a literal processEvents spin, and prints the GUI thread's
// CPU time for each and their ratio.
#include "mainwindow.h"

#include "checkversionthread.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPushButton>
#include <QTemporaryDir>

#include <cstdio>
#include <ctime>

namespace {

double threadCpuSeconds()
{
    timespec ts {};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

double wallSeconds()
{
    timespec ts {};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

// A device without a boot region: the probe ends by bootstrapping it, a 20 s
// call in real time, scaled to about 5 s here.
void writeDevice(const QString &path)
{
    const QJsonObject device { { "attached", true }, { "serial", 740001 }, { "boot", QJsonValue() },
                               { "run", 4 },         { "fpga", 6 },        { "timeScale", 0.25 } };
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        file.write(QJsonDocument(device).toJson());
}

struct Measure
{
    double cpu = 0.0;
    double wall = 0.0;
};

Measure checkFlowWait(const QString &devicePath)
{
    writeDevice(devicePath);
    qputenv("QD740N_SIM_DEVICE", QFile::encodeName(devicePath));
    MainWindow window;
    window.show();
    QPushButton *check = window.findChild<QPushButton *>(QStringLiteral("checkButton"));
    const double cpu0 = threadCpuSeconds();
    const double wall0 = wallSeconds();
    check->click(); // returns once the flow has finished
    return { threadCpuSeconds() - cpu0, wallSeconds() - wall0 };
}

Measure spinWait(const QString &devicePath)
{
    writeDevice(devicePath);
    qputenv("QD740N_SIM_DEVICE", QFile::encodeName(devicePath));
    CheckVersionThread worker;
    const double cpu0 = threadCpuSeconds();
    const double wall0 = wallSeconds();
    worker.start(QThread::InheritPriority);
    while (!worker.isFinished())
        QCoreApplication::processEvents(QEventLoop::AllEvents);
    return { threadCpuSeconds() - cpu0, wallSeconds() - wall0 };
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QTemporaryDir dir;
    // The probe bootstraps from ./firmware/, so run where the images are.
    QDir::setCurrent(QCoreApplication::applicationDirPath() + QStringLiteral("/../bin"));

    const Measure flow = checkFlowWait(dir.filePath(QStringLiteral("flow.json")));
    const Measure spin = spinWait(dir.filePath(QStringLiteral("spin.json")));

    std::printf("GUI thread CPU while waiting for a %.1f s probe\n", flow.wall);
    std::printf("  check flow wait:      %8.3f s CPU over %.2f s\n", flow.cpu, flow.wall);
    std::printf("  processEvents spin:   %8.3f s CPU over %.2f s\n", spin.cpu, spin.wall);
    const double ratio = spin.cpu > 0.0 ? flow.cpu / spin.cpu : 0.0;
    std::printf("  ratio:                %8.2f %% (target: at most 5 %%)\n", 100.0 * ratio);
    return ratio <= 0.05 ? 0 : 1;
}
