// The updater's performance report. One run measures, side by side:
//  - start-up: process start to the main window's first paint, against a
//    program with the same widgets and no device library and against a bare
//    QMainWindow program, and the peak resident memory after start-up against
//    the same two;
//  - responsiveness: lateness of a 16 ms GUI timer during a long FPGA write;
//  - CPU: the GUI thread's CPU time while a flow waits for its worker,
//    against a literal processEvents spin;
//  - overhead: the wall time of a whole update flow minus the time the
//    simulated library spends in its calls;
//  - the image check a flow runs before it touches the device, on the
//    simulator's images and on a 64 MiB image, against the real duration of
//    the device calls it precedes.
// With --markdown it prints the table as Markdown.
#include "devicelibrary.h"
#include "mainwindow.h"

#include "checkversionthread.h"
#include "firmwarecopies.h"
#include "targetfirmware.h"

#include <QApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QList>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <optional>
#include <vector>

namespace {

double threadCpuSeconds()
{
    timespec ts {};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

double median(std::vector<double> values)
{
    if (values.empty())
        return 0.0;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

double percentile(std::vector<double> values, double p)
{
    if (values.empty())
        return 0.0;
    std::sort(values.begin(), values.end());
    const size_t index = std::min(values.size() - 1, size_t(p * double(values.size())));
    return values[index];
}

double ratio(double measured, double reference)
{
    return reference > 0 ? measured / reference : 0;
}

// The last column: a row kept for the record has no target to meet.
const char *verdict(std::optional<bool> met, const char *yes, const char *no)
{
    if (!met)
        return "-";
    return *met ? yes : no;
}

void useDevice(const QString &path, const QJsonObject &device)
{
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        file.write(QJsonDocument(device).toJson());
    qputenv("QD740N_SIM_DEVICE", QFile::encodeName(path));
}

QJsonObject device(QJsonValue boot, int run, int fpga, double timeScale)
{
    return QJsonObject { { "attached", true }, { "serial", 740001 }, { "boot", boot },
        { "run", run }, { "fpga", fpga }, { "timeScale", timeScale } };
}

QPushButton *button(MainWindow &window, const char *name)
{
    return window.findChild<QPushButton *>(QLatin1String(name));
}

// ---- start-up ----

struct Startup
{
    double firstPaintMs = 0.0;
    double peakMiB = 0.0;
};

struct StartupRuns
{
    std::vector<double> paints;
    std::vector<double> peaks;
    Startup medians() const { return { median(paints), median(peaks) }; }
};

// One start of a probe program. The probe measures its own first paint on the
// system's monotonic clock against the moment handed to it here, just
// before the process is created.
void startOnce(const QString &program, const QString &devicePath, StartupRuns &runs)
{
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QD740N_SIM_DEVICE"), devicePath);
    timespec ts {};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    env.insert(QStringLiteral("QD740N_BENCH_START_NS"),
        QString::number(qint64(ts.tv_sec) * 1000000000 + ts.tv_nsec));
    process.setProcessEnvironment(env);
    process.start(program, {});
    if (!process.waitForFinished(30000)) {
        process.kill();
        process.waitForFinished();
    }
    const QList<QByteArray> words = process.readAllStandardOutput().simplified().split(' ');
    const qsizetype painted = words.indexOf("painted");
    const qsizetype peak = words.indexOf("peak");
    if (painted < 0 || peak < 0 || words.size() <= std::max(painted, peak) + 1) {
        std::fprintf(stderr, "start-up probe %s gave no result\n", qPrintable(program));
        return;
    }
    runs.paints.push_back(words.at(painted + 1).toDouble());
    runs.peaks.push_back(words.at(peak + 1).toDouble() / 1024.0);
}

struct StartupPrograms
{
    QString updater, widgets, bare;
};

struct StartupResults
{
    Startup updater, widgets, bare;
};

// The programs start in turns, so that a slow moment of the machine falls on
// all of them alike; the first round only warms the file cache.
StartupResults startup(const StartupPrograms &programs, const QString &devicePath)
{
    StartupRuns updaterRuns;
    StartupRuns widgetsRuns;
    StartupRuns bareRuns;
    StartupRuns warmUp;
    for (int round = 0; round < 32; ++round) {
        startOnce(programs.updater, devicePath, round == 0 ? warmUp : updaterRuns);
        startOnce(programs.widgets, devicePath, round == 0 ? warmUp : widgetsRuns);
        startOnce(programs.bare, devicePath, round == 0 ? warmUp : bareRuns);
    }
    return { updaterRuns.medians(), widgetsRuns.medians(), bareRuns.medians() };
}

// ---- responsiveness ----

struct Lateness
{
    double medianMs = 0.0;
    double p99Ms = 0.0;
    int samples = 0;
};

Lateness timerLateness(const QString &devicePath)
{
    // 4.4.5: the update clears and writes the FPGA, about 5 s at this scale.
    useDevice(devicePath, device(4, 4, 5, 0.015));
    MainWindow window;
    window.show();
    button(window, "checkButton")->click();

    std::vector<double> late;
    QElapsedTimer clock;
    QTimer timer;
    timer.setTimerType(Qt::PreciseTimer);
    timer.setInterval(16);
    QObject::connect(&timer, &QTimer::timeout, &timer, [&] {
        late.push_back(double(clock.nsecsElapsed()) / 1e6 - 16.0);
        clock.restart();
    });
    clock.start();
    timer.start();
    button(window, "updateButton")->click(); // returns once the flow has finished
    timer.stop();
    return { median(late), percentile(late, 0.99), int(late.size()) };
}

// ---- CPU while waiting ----

struct Cpu
{
    double flowCpu = 0.0;
    double spinCpu = 0.0;
    double waitSeconds = 0.0;
};

// A device without a boot region: the probe ends by bootstrapping it, a 20 s
// call in real time, scaled to about 5 s.
Cpu waitCpu(const QString &devicePath)
{
    Cpu cpu;
    {
        useDevice(devicePath + QStringLiteral(".flow"), device(QJsonValue(), 4, 6, 0.25));
        MainWindow window;
        window.show();
        QElapsedTimer clock;
        clock.start();
        const double cpu0 = threadCpuSeconds();
        button(window, "checkButton")->click();
        cpu.flowCpu = threadCpuSeconds() - cpu0;
        cpu.waitSeconds = double(clock.nsecsElapsed()) / 1e9;
    }
    useDevice(devicePath + QStringLiteral(".spin"), device(QJsonValue(), 4, 6, 0.25));
    CheckVersionThread worker;
    const double cpu0 = threadCpuSeconds();
    worker.start(QThread::InheritPriority);
    while (!worker.isFinished())
        QCoreApplication::processEvents(QEventLoop::AllEvents);
    cpu.spinCpu = threadCpuSeconds() - cpu0;
    return cpu;
}

// ---- overhead of a whole update flow ----

struct Overhead
{
    double flowMs = 0.0;
    double libraryMs = 0.0;
};

Overhead updateOverhead(const QString &devicePath)
{
    // 4.4.6: boot and FPGA skipped (two 32 ms pauses), the run sector
    // written: open by serial 2 s, clear 1 s, write 9 s in real time.
    constexpr double scale = 0.01;
    std::vector<double> flows;
    for (int run = 0; run < 5; ++run) {
        useDevice(devicePath + QString::number(run), device(4, 4, 6, scale));
        MainWindow window;
        window.show();
        button(window, "checkButton")->click();
        QElapsedTimer clock;
        clock.start();
        button(window, "updateButton")->click();
        flows.push_back(double(clock.nsecsElapsed()) / 1e6);
    }
    return { median(flows), (2.0 + 1.0 + 9.0) * scale * 1000.0 };
}

// ---- the image check before a flow ----

struct ImageCheck
{
    double simulatorMs = 0.0; // the three images, as a restore checks them
    double simulatorKiB = 0.0;
    double largeMs = 0.0; // one 64 MiB FPGA image
};

// The median time to take the flow's checked copies of the images below the
// working directory (read, hashed, written and held, then removed as a flow's
// end removes them), whose page cache is warm after the first run.
double checkMs(const std::vector<std::string> &paths, int runs)
{
    std::vector<double> times;
    for (int run = 0; run < runs; ++run) {
        QStringList lines;
        QElapsedTimer clock;
        clock.start();
        bool passed = false;
        {
            FirmwareCopies copies;
            passed = copies.take(paths, lines);
        }
        times.push_back(double(clock.nsecsElapsed()) / 1e6);
        if (!passed || !lines.isEmpty())
            std::fprintf(stderr, "image check: %s\n", qPrintable(lines.join(QLatin1Char(' '))));
    }
    return median(times);
}

ImageCheck imageCheck(const QString &scratch)
{
    ImageCheck result;
    const std::vector<std::string> all = { bootImagePath(), runImagePath(), fpgaImagePath() };
    for (const std::string &path : all)
        result.simulatorKiB += double(QFileInfo(QString::fromStdString(path)).size()) / 1024.0;
    result.simulatorMs = checkMs(all, 31);

    // A large FPGA image and its list in a folder of their own.
    const QString previous = QDir::currentPath();
    QDir(scratch).mkpath(QStringLiteral("firmware"));
    QDir::setCurrent(scratch);
    QByteArray image(64 * 1024 * 1024, Qt::Uninitialized);
    for (qsizetype i = 0; i < image.size(); ++i)
        image[i] = char((i * 2654435761u) >> 13);
    QFile file(QString::fromStdString(fpgaImagePath()));
    QFile list(QString::fromLatin1(kChecksumListPath));
    if (file.open(QIODevice::WriteOnly) && file.write(image) == image.size()
        && list.open(QIODevice::WriteOnly)) {
        file.close();
        list.write(QCryptographicHash::hash(image, QCryptographicHash::Sha256).toHex() + "  "
            + QFile::encodeName(QFileInfo(file).fileName()) + "\n");
        list.close();
        result.largeMs = checkMs({ fpgaImagePath() }, 5);
    }
    QDir::setCurrent(previous);
    return result;
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    const bool markdown = app.arguments().contains(QStringLiteral("--markdown"));
    QTemporaryDir dir;
    const QString binDir = QCoreApplication::applicationDirPath();
    // The workers read ./firmware/, so work where the images are, on the
    // device library beside them, as the program does.
    QDir::setCurrent(binDir + QStringLiteral("/../bin"));
    DeviceLibrary::bind(QDir::current().absoluteFilePath(DeviceLibrary::fileName()));

    const QString startupDevice = dir.filePath(QStringLiteral("startup.json"));
    useDevice(startupDevice, device(4, 4, 6, 0));
    const StartupResults starts = startup({ binDir + QStringLiteral("/qd740n-startup-updater"),
                                              binDir + QStringLiteral("/qd740n-startup-widgets"),
                                              binDir + QStringLiteral("/qd740n-startup-bare") },
        startupDevice);
    const Startup &updater = starts.updater;
    const Startup &widgets = starts.widgets;
    const Startup &bare = starts.bare;
    const Lateness lateness = timerLateness(dir.filePath(QStringLiteral("lateness.json")));
    const Cpu cpu = waitCpu(dir.filePath(QStringLiteral("cpu.json")));
    const Overhead overhead = updateOverhead(dir.filePath(QStringLiteral("overhead.json")));
    const ImageCheck check = imageCheck(dir.filePath(QStringLiteral("large")));
    // The real durations of the device calls that follow the check: a
    // restore (open, boot and run sectors, FPGA) and an update of the FPGA
    // alone (open by serial, FPGA).
    constexpr double restoreSeconds = 0.5 + 1 + 9 + 1 + 9 + 30 + 330;
    constexpr double fpgaUpdateSeconds = 2 + 30 + 330;
    const double checkRatio = ratio(check.simulatorMs, restoreSeconds * 1000.0);
    const double largeRatio = ratio(check.largeMs, fpgaUpdateSeconds * 1000.0);

    const double startRatio = ratio(updater.firstPaintMs, widgets.firstPaintMs);
    const double bareStartRatio = ratio(updater.firstPaintMs, bare.firstPaintMs);
    const double memRatio = ratio(updater.peakMiB, widgets.peakMiB);
    const double bareMemRatio = ratio(updater.peakMiB, bare.peakMiB);
    const double cpuRatio = ratio(cpu.flowCpu, cpu.spinCpu);
    const double overheadMs = overhead.flowMs - overhead.libraryMs;

    struct Row
    {
        QString what, measured, against, ratio, target;
        std::optional<bool> met; // empty: kept for the record, no target
    };
    const Row rows[] = {
        { "start-up to first paint", QString::asprintf("%.1f ms", updater.firstPaintMs),
            QString::asprintf("same widgets %.1f ms", widgets.firstPaintMs),
            QString::asprintf("%.2f x", startRatio), "at most 1.05 x", startRatio <= 1.05 },
        { "start-up to first paint", QString::asprintf("%.1f ms", updater.firstPaintMs),
            QString::asprintf("bare window %.1f ms", bare.firstPaintMs),
            QString::asprintf("%.2f x", bareStartRatio), "-", std::nullopt },
        { "peak memory after start-up", QString::asprintf("%.1f MiB", updater.peakMiB),
            QString::asprintf("same widgets %.1f MiB", widgets.peakMiB),
            QString::asprintf("%.3f x", memRatio), "at most 1.05 x", memRatio <= 1.05 },
        { "peak memory after start-up", QString::asprintf("%.1f MiB", updater.peakMiB),
            QString::asprintf("bare window %.1f MiB", bare.peakMiB),
            QString::asprintf("%.3f x", bareMemRatio), "at most 1.25 x", bareMemRatio <= 1.25 },
        { "16 ms timer lateness during FPGA write",
            QString::asprintf("median %.2f ms, p99 %.2f ms", lateness.medianMs, lateness.p99Ms),
            QString::asprintf("%d ticks", lateness.samples), "-", "p99 under 20 ms",
            lateness.p99Ms < 20.0 },
        { "GUI thread CPU while waiting", QString::asprintf("%.3f s", cpu.flowCpu),
            QString::asprintf("busy spin %.3f s (%.1f s wait)", cpu.spinCpu, cpu.waitSeconds),
            QString::asprintf("%.1f %%", 100.0 * cpuRatio), "at most 5 %", cpuRatio <= 0.05 },
        { "update flow overhead", QString::asprintf("%.1f ms", overheadMs),
            QString::asprintf("flow %.1f ms, library %.1f ms", overhead.flowMs, overhead.libraryMs),
            "-", "under 150 ms", overheadMs < 150.0 },
        { QString::asprintf(
              "image check and copy, simulator's three images (%.0f KiB)", check.simulatorKiB),
            QString::asprintf("%.2f ms", check.simulatorMs),
            QString::asprintf("restore's device calls %.1f s", restoreSeconds),
            QString::asprintf("%.4f %%", 100.0 * checkRatio), "at most 1 %", checkRatio <= 0.01 },
        { "image check and copy, 64 MiB FPGA image", QString::asprintf("%.1f ms", check.largeMs),
            QString::asprintf("FPGA update's device calls %.1f s", fpgaUpdateSeconds),
            QString::asprintf("%.3f %%", 100.0 * largeRatio), "at most 1 %",
            check.largeMs > 0 && largeRatio <= 0.01 },
    };

    bool allMet = true;
    if (markdown) {
        std::printf("| measure | this program | against | ratio | target | met |\n");
        std::printf("|---|---|---|---|---|---|\n");
    }
    for (const Row &row : rows) {
        allMet = allMet && row.met.value_or(true);
        if (markdown)
            std::printf("| %s | %s | %s | %s | %s | %s |\n", qPrintable(row.what),
                qPrintable(row.measured), qPrintable(row.against), qPrintable(row.ratio),
                qPrintable(row.target), verdict(row.met, "yes", "no"));
        else
            std::printf("%-40s %-32s %-38s %-9s %-16s %s\n", qPrintable(row.what),
                qPrintable(row.measured), qPrintable(row.against), qPrintable(row.ratio),
                qPrintable(row.target), verdict(row.met, "met", "NOT MET"));
    }
    return allMet ? 0 : 1;
}
