// The main window and the operator console as the operator sees them: the
// window, the banner, the log's line slots and their colours, the controls and
// their layout, the console's slot table, and the target image paths.
#include "consoledriver.h"
#include "consolelines.h"
#include "devicelibrary.h"
#include "devicelibrarylocation.h"
#include "mqprogressdialog.h"
#include "simdevicefile.h"
#include "targetfirmware.h"
#include "updater.h"

#include <QAccessible>
#include <QBoxLayout>
#include <QMetaMethod>
#include <QPushButton>
#include <QScopeGuard>
#include <QScreen>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <QTextEdit>

#include <cstring>
#ifdef Q_OS_UNIX
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

const QStringList bannerLines = ConsoleLines::banner();

// Files looked at as another user: root may read anything.
#ifdef Q_OS_UNIX
constexpr uid_t nobody = 65534;
bool isRoot()
{
    return ::geteuid() == 0;
}
bool setEffectiveUser(uid_t user)
{
    return ::seteuid(user) == 0;
}
#else
constexpr int nobody = -1;
bool isRoot()
{
    return false;
}
bool setEffectiveUser(int)
{
    return false;
}
#endif

} // namespace

class TestConsole : public QObject
{
    Q_OBJECT

private slots:
    void cleanup();

    void windowOpensWithoutDevice();
    void banner();
    void apiVersionText_data();
    void apiVersionText();
    void unusableLibrary_data();
    void unusableLibrary();
    void libraryChoice_data();
    void libraryChoice();
    void statusLineColours();
    void linesIgnoreOperatorsSelection();
    void replaceLastLine_data();
    void replaceLastLine();
    void initialControls_data();
    void initialControls();
    void layout();
    void fitsScreen();
    void slotTable_data();
    void slotTable();
    void noSignals();
    void imagePaths();
    void formatPathBounded_data();
    void formatPathBounded();
};

void TestConsole::cleanup()
{
    for (QWidget *widget : QApplication::topLevelWidgets())
        QVERIFY2(!widget->isVisible(), widget->metaObject()->className());
}

void TestConsole::windowOpensWithoutDevice()
{
    QJsonObject device = SimDeviceFile::defaultDevice();
    device.insert("attached", false);
    SimDeviceFile sim(device);

    ConsoleDriver console;
    QVERIFY(console.exposed);
    const MainWindow &window = console.window;

    QCOMPARE(window.windowTitle(), QStringLiteral("QD740N Firmware Update 4.5.6"));
    QCOMPARE(window.size(), QSize(800, 400));
    // The packaged icon, drawn from its SVG as a PNG, once the window is up.
    QTRY_VERIFY(!window.windowIcon().pixmap(32, 32).isNull());
    QVERIFY(qobject_cast<Updater *>(window.centralWidget()));
    QCOMPARE(window.centralWidget()->parentWidget(), &window);
    // Nothing but the banner's version query touches the device at start.
    QCOMPARE(sim.traceNames(), QStringList { QStringLiteral("qdGetAPIVersion") });
}

void TestConsole::banner()
{
    SimDeviceFile sim;
    ConsoleDriver console;
    const QTextEdit *log = console.logView();
    QVERIFY(log);
    QVERIFY(log->isReadOnly());
    QCOMPARE(QAccessible::queryAccessibleInterface(console.logView())->text(QAccessible::Name),
        QStringLiteral("Log"));

    QCOMPARE(console.lines(), bannerLines);
    // The red line leaves the log's own colour as it found it.
    const QTextEdit fresh;
    QCOMPARE(log->textColor(), fresh.textColor());
}

void TestConsole::apiVersionText_data()
{
    QTest::addColumn<QJsonValue>("apiVersion"); // undefined: the field is left out
    QTest::addColumn<QString>("line");
    QTest::addColumn<QString>("traced");

    QTest::newRow("library default")
        << QJsonValue(QJsonValue::Undefined)
        << "QD API version 1.0.0 (SIMULATED QD740N, no real device is touched)"
        << "qdGetAPIVersion() -> \"1.0.0 (SIMULATED QD740N, no real device is touched)\"";
    QTest::newRow("own text") << QJsonValue("7.3.1-bench") << "QD API version 7.3.1-bench"
                              << "qdGetAPIVersion() -> \"7.3.1-bench\"";
    QTest::newRow("percent signs") << QJsonValue("100% %s %d") << "QD API version 100% %s %d"
                                   << "qdGetAPIVersion() -> \"100% %s %d\"";
    QTest::newRow("non-ASCII") << QJsonValue(QStringLiteral("2.0 \u00e9t\u00e9"))
                               << QStringLiteral("QD API version 2.0 \u00e9t\u00e9")
                               << QStringLiteral("qdGetAPIVersion() -> \"2.0 \u00e9t\u00e9\"");
    QTest::newRow("empty text") << QJsonValue("") << "QD API version "
                                << "qdGetAPIVersion() -> \"\"";
    QTest::newRow("no text at all") << QJsonValue(QJsonValue::Null) << "QD API version "
                                    << "qdGetAPIVersion() -> null";
    // Shown as it stands, never taken for markup.
    QTest::newRow("markup") << QJsonValue("<b>1.0</b>") << "QD API version <b>1.0</b>"
                            << "qdGetAPIVersion() -> \"<b>1.0</b>\"";
    QTest::newRow("image markup") << QJsonValue("<img src=\"x.png\">")
                                  << "QD API version <img src=\"x.png\">"
                                  << "qdGetAPIVersion() -> \"<img src=\\\"x.png\\\">\"";
}

void TestConsole::apiVersionText()
{
    QFETCH(QJsonValue, apiVersion);
    QFETCH(QString, line);
    QFETCH(QString, traced);

    QJsonObject device = SimDeviceFile::defaultDevice();
    if (!apiVersion.isUndefined())
        device.insert("apiVersion", apiVersion);
    SimDeviceFile sim(device);
    ConsoleDriver console;

    // The trace shows what the library really handed back (a null pointer
    // for the last row), so the line is checked against that answer.
    QCOMPARE(sim.trace(), QStringList { traced });
    const QStringList lines = console.lines();
    QCOMPARE(lines.size(), bannerLines.size());
    QCOMPARE(lines.at(1), line);
    QCOMPARE(lines.mid(2), bannerLines.mid(2));
}

void TestConsole::unusableLibrary_data()
{
    QTest::addColumn<QString>("folder"); // empty: a temporary one
    QTest::addColumn<QByteArray>("file"); // written there as the library, if not empty
    QTest::addColumn<QString>("reason"); // empty: the system's words, whatever they are

    QTest::newRow("no library") << QString() << QByteArray()
                                << QStringLiteral("there is no such file");
    QTest::newRow("not a library") << QString() << QByteArray("not a library\n") << QString();
    QTest::newRow("lacking functions")
        << QStringLiteral(QD740N_PARTIAL_LIBRARY_DIR) << QByteArray()
        << QStringLiteral("it has no function qdBootClearBootSector");
}

// A library that cannot be bound is named with the reason, and nothing can
// reach a device, however a flow is asked for.
void TestConsole::unusableLibrary()
{
    QFETCH(QString, folder);
    QFETCH(QByteArray, file);
    QFETCH(QString, reason);

    SimDeviceFile sim;
    QTemporaryDir temporary;
    if (folder.isEmpty())
        folder = temporary.path();
    const QString path = QDir(folder).absoluteFilePath(DeviceLibrary::fileName());
    if (!file.isEmpty()) {
        QFile library(path);
        QVERIFY(library.open(QIODevice::WriteOnly));
        QCOMPARE(library.write(file), file.size());
    }
    const auto bindSimulatedDevice
        = qScopeGuard([] { DeviceLibrary::bind(QStringLiteral(QD740N_LIBRARY)); });
    QVERIFY(!DeviceLibrary::bind(path));

    ConsoleDriver console;
    QVERIFY(console.exposed);
    const QStringList lines = console.lines();
    QCOMPARE(lines.size(), bannerLines.size());
    const QString named
        = QStringLiteral("QD API library %1 cannot be used: ").arg(QDir::toNativeSeparators(path));
    QVERIFY2(lines.at(1).startsWith(named), qPrintable(lines.at(1)));
    const QString given = lines.at(1).mid(named.size());
    if (reason.isEmpty()) {
        // The system's words alone, without Qt's around them.
        QVERIFY(!given.isEmpty());
        QVERIFY2(!given.contains(QStringLiteral("Cannot load library")), qPrintable(given));
    } else {
        QCOMPARE(given, reason);
    }
    QCOMPARE(lines.at(2),
        "Check Versions is disabled: the updater cannot reach the QD740N without its library.");
    QCOMPARE(lines.mid(3), bannerLines.mid(3));

    QVERIFY(!console.checkButton()->isEnabled());
    for (const char *flow : { "checkVersions", "updateDevice", "restoreDevice" })
        QVERIFY(QMetaObject::invokeMethod(console.updater(), flow));
    QCOMPARE(console.lines(), lines);
    QVERIFY(!QApplication::activeModalWidget());
    QCOMPARE(sim.trace(), QStringList());
}

void TestConsole::libraryChoice_data()
{
    // What the row lays out beside the packaged library: a site's "library"
    // and "firmware"; "sdk", a folder holding a library, named in
    // LD_LIBRARY_PATH and PATH; "cpu", copies in the subfolders the loader
    // and Qt look in on capable CPUs; a "dangling library" link or a
    // "dangling folder" for the site's library folder; a "closed library",
    // "closed folder" or "closed firmware" (mode 0); a "relative prefix"; a
    // "renamed library" in the site's library folder; "empty folders" for the
    // site, a "note" in its data folder; a "writable library", "writable
    // firmware", "writable list" or "writable folder" (the library's).
    QTest::addColumn<QStringList>("made");
    // "packaged" or "site": the file mapped; else the refusal, {library} and
    // {firmware} standing for the site's names.
    QTest::addColumn<QString>("expected");

    const QString unread = "Cannot read the maker's library {library}: ";
    QTest::newRow("no site") << QStringList() << "packaged";
    QTest::newRow("whole site") << QStringList { "library", "firmware" } << "site";
    QTest::newRow("library alone")
        << QStringList { "library" }
        << "The maker's library {library} is installed, but its firmware folder {firmware} is "
           "missing.";
    QTest::newRow("firmware alone")
        << QStringList { "firmware" }
        << "The maker's firmware folder {firmware} is installed, but its library {library} is "
           "missing.";
    QTest::newRow("SDK folder in the search paths") << QStringList { "sdk" } << "packaged";
    QTest::newRow("copies for the CPU") << QStringList { "cpu" } << "packaged";
    QTest::newRow("whole site, SDK and CPU copies")
        << QStringList { "library", "firmware", "sdk", "cpu" } << "site";
    // The platform files for Linux only: links, modes, the prefix.
    const QString missing = unread + "No such file or directory.";
    const QString denied = "Permission denied.";
    QTest::newRow("linux: dangling library link")
        << QStringList { "dangling library", "firmware" } << missing;
    QTest::newRow("linux: dangling library folder link")
        << QStringList { "dangling folder", "firmware" } << missing;
    QTest::newRow("linux: dangling link alone") << QStringList { "dangling library" } << missing;
    QTest::newRow("linux: unreadable library")
        << QStringList { "library", "firmware", "closed library" } << unread + denied;
    QTest::newRow("linux: library folder closed")
        << QStringList { "library", "firmware", "closed folder" } << unread + denied;
    QTest::newRow("linux: library folder closed, no firmware")
        << QStringList { "library", "closed folder" } << unread + denied;
    QTest::newRow("linux: firmware folder closed") << QStringList { "library", "firmware",
        "closed firmware" } << "Cannot enter the maker's firmware folder {firmware}: " + denied;
    // A site's folders holding anything are a site, not whole; empty ones are none.
    QTest::newRow("library under another name")
        << QStringList { "renamed library" }
        << "The maker's library {library} is missing, but {site} holds {name}.1.";
    QTest::newRow("linux: empty site folders") << QStringList { "empty folders" } << "packaged";
    QTest::newRow("linux: data folder holds a file") << QStringList { "empty folders",
        "note" } << "The maker's library {library} is missing, but {data} holds README.";
    // Nobody but the owner and root may change what the program loads.
    const QString others = "can be changed by users other than its owner (mode %1): only its "
                           "owner and root may write it.";
    QTest::newRow("linux: library writable by its group") << QStringList { "library", "firmware",
        "writable library" } << "The maker's library {library} " + others.arg("0664");
    QTest::newRow("linux: firmware folder writable by all") << QStringList { "library", "firmware",
        "writable firmware" } << "The maker's firmware folder {firmware} " + others.arg("0777");
    QTest::newRow("linux: checksum list writable by all") << QStringList { "library", "firmware",
        "writable list" } << "The maker's checksum list {firmware}SHA256SUMS " + others.arg("0666");
    QTest::newRow("linux: library in a folder its group can change")
        << QStringList { "library", "firmware", "writable folder" }
        << "The maker's library {library} lies in {site}, which users other than its owner can "
           "change (mode 0775): only its owner and root may write there.";
    QTest::newRow("linux: relative prefix")
        << QStringList { "relative prefix" }
        << "QD740N_LOCAL_PREFIX must be an absolute folder, not \"site\".";
}

// Which library the program loads, the packaged one or a site's, and which
// file the system mapped for it; or why it does not start.
void TestConsole::libraryChoice()
{
    QFETCH(QStringList, made);
    QFETCH(QString, expected);
    const bool linux = QLatin1String(QD740N_PLATFORM) == QLatin1String("linux");
    if (QString(QTest::currentDataTag()).startsWith("linux: ") && !linux)
        QSKIP("Links, modes and prefixes of the platform files for Linux");

    QTemporaryDir temporary;
    // Open to others: the closed rows are looked at by another user.
    QVERIFY(QFile::setPermissions(temporary.path(),
        QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadGroup | QFile::ExeGroup
            | QFile::ReadOther | QFile::ExeOther));
    const QString root = temporary.path();
    const QString name = DeviceLibrary::fileName();
    const QString program = root + "/program";
    const QString site
        = linux ? root + "/prefix/lib/qd740n-updater/" + name : program + "/site/" + name;
    const QString siteFolder = QFileInfo(site).path();
    const QString firmware
        = linux ? root + "/prefix/share/qd740n-updater/firmware" : program + "/site/firmware";
    const QString dataFolder = linux ? root + "/prefix/share/qd740n-updater" : program + "/site";
    const auto copyLibrary = [](const QString &to) {
        return QDir().mkpath(QFileInfo(to).path())
            && QFile::copy(QStringLiteral(QD740N_LIBRARY), to);
    };
    QVERIFY(copyLibrary(program + '/' + name));

    const QString workingFolder = QDir::currentPath();
    const QByteArrayList variables { "QD740N_LOCAL_PREFIX", "LD_LIBRARY_PATH", "PATH" };
    QByteArrayList before;
    for (const QByteArray &variable : variables)
        before << qgetenv(variable);
    const auto restore = qScopeGuard([&] {
        QDir::setCurrent(workingFolder);
        for (int i = 0; i < variables.size(); ++i)
            qputenv(variables.at(i), before.at(i));
        DeviceLibrary::bind(QStringLiteral(QD740N_LIBRARY));
        for (const QString &path : { site, siteFolder, firmware })
            QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    });
    qputenv("QD740N_LOCAL_PREFIX", QFile::encodeName(root + "/prefix"));
    bool closed = false;
    for (const QString &item : made) {
        if (item == "library") {
            QVERIFY(copyLibrary(site));
        } else if (item == "firmware") {
            QVERIFY(QDir().mkpath(firmware));
        } else if (item == "sdk") {
            QVERIFY(copyLibrary(root + "/sdk/" + name));
            qputenv("LD_LIBRARY_PATH", QFile::encodeName(root + "/sdk"));
            const QString sdk = QDir::toNativeSeparators(root + "/sdk") + QDir::listSeparator();
            qputenv("PATH", QFile::encodeName(sdk) + before.at(2));
        } else if (item == "cpu") {
            for (const char *folder : { "haswell", "glibc-hwcaps/x86-64-v3", "x86_64" })
                QVERIFY(copyLibrary(program + '/' + folder + '/' + name));
        } else if (item.startsWith("dangling")) {
            const QString link = item == "dangling library" ? site : siteFolder;
            QVERIFY(QDir().mkpath(QFileInfo(link).path()));
            QVERIFY(QFile::link(root + "/nowhere", link));
        } else if (item == "relative prefix") {
            qputenv("QD740N_LOCAL_PREFIX", "site");
        } else if (item == "renamed library") {
            QVERIFY(copyLibrary(site + ".1"));
        } else if (item == "empty folders") {
            QVERIFY(QDir().mkpath(siteFolder) && QDir().mkpath(dataFolder));
        } else if (item == "note") {
            QFile note(dataFolder + "/README");
            QVERIFY(note.open(QIODevice::WriteOnly));
#ifdef Q_OS_UNIX
        } else if (item.startsWith("writable")) {
            QFile list(firmware + "/SHA256SUMS");
            QVERIFY(item != "writable list" || list.open(QIODevice::WriteOnly));
            const QString path = item == "writable library" ? site
                : item == "writable firmware"               ? firmware
                : item == "writable list"                   ? list.fileName()
                                                            : siteFolder;
            const QByteArray mode = item == "writable library" ? "664"
                : item == "writable folder"                    ? "775"
                : item == "writable list"                      ? "666"
                                                               : "777";
            QCOMPARE(
                ::chmod(QFile::encodeName(path).constData(), mode_t(mode.toUInt(nullptr, 8))), 0);
#endif
        } else {
            const QString path = item == "closed library" ? site
                : item == "closed folder"                 ? siteFolder
                                                          : firmware;
            QVERIFY(QFile::setPermissions(path, {}));
            closed = true;
        }
    }

    // Root may read anything: a closed site is looked at as nobody.
    const bool asNobody = closed && isRoot();
    QVERIFY(!asNobody || setEffectiveUser(nobody));
    const DeviceLibraryLocation location = DeviceLibraryLocation::choose(program, name);
    QVERIFY(!asNobody || setEffectiveUser(0));
    if (expected != "packaged" && expected != "site") {
        expected.replace("{library}", QDir::toNativeSeparators(site));
        expected.replace("{firmware}", QDir::toNativeSeparators(firmware + '/'));
        expected.replace("{site}", QDir::toNativeSeparators(siteFolder + '/'));
        expected.replace("{name}", name);
        expected.replace("{data}", QDir::toNativeSeparators(dataFolder + '/'));
        QCOMPARE(location.refusal, expected);
        QCOMPARE(location.library, QString());
        QCOMPARE(QDir::currentPath(), workingFolder);
        return;
    }
    QCOMPARE(location.refusal, QString());
    const QString chosen = expected == "site" ? site : program + '/' + name;
    QCOMPARE(QDir::cleanPath(location.library), chosen);
    QVERIFY2(DeviceLibrary::bind(location.library), qPrintable(DeviceLibrary::failure()));
    QCOMPARE(DeviceLibrary::path(), QDir::toNativeSeparators(chosen));
    // A site's library reads the site's firmware/ from the working folder.
    QCOMPARE(QDir::current(), expected == "site" ? QFileInfo(firmware).dir() : QDir(workingFolder));
}

void TestConsole::statusLineColours()
{
    SimDeviceFile sim;
    ConsoleDriver console;
    Updater *updater = console.updater();
    const QTextEdit *log = console.logView();
    const QColor colourBefore = log->textColor();

    QVERIFY(QMetaObject::invokeMethod(updater, "addLine", Q_ARG(QString, "plain")));
    QVERIFY(QMetaObject::invokeMethod(
        updater, "addStatusLine", Q_ARG(QString, "good"), Q_ARG(bool, true)));
    QVERIFY(QMetaObject::invokeMethod(
        updater, "addStatusLine", Q_ARG(QString, "bad"), Q_ARG(bool, false)));
    QVERIFY(QMetaObject::invokeMethod(updater, "addLine", Q_ARG(QString, "after red")));
    QVERIFY(QMetaObject::invokeMethod(
        updater, "addStatusLine", Q_ARG(QString, "good again"), Q_ARG(bool, true)));
    QVERIFY(QMetaObject::invokeMethod(updater, "addLine", Q_ARG(QString, "after green")));
    QVERIFY(QMetaObject::invokeMethod(updater, "addLine", Q_ARG(QString, "")));

    const QStringList added { "plain", "<green>good", "<red>bad", "after red", "<green>good again",
        "after green", "" };
    QCOMPARE(console.lines(), bannerLines + added);
    QCOMPARE(log->textColor(), colourBefore);
}

// The log is selectable: a click into the red banner line or a selection
// across lines must not colour the lines written afterwards, nor be
// recoloured by them.
void TestConsole::linesIgnoreOperatorsSelection()
{
    SimDeviceFile sim;
    ConsoleDriver console;
    QVERIFY(console.exposed);
    Updater *updater = console.updater();
    QTextEdit *log = console.logView();

    const int red = int(bannerLines.indexOf(
        QStringLiteral("<red>Do NOT disconnect the QD740N at any time during the update.")));
    const QRect redLine = log->cursorRect(QTextCursor(log->document()->findBlockByNumber(red)));
    QTest::mouseClick(log->viewport(), Qt::LeftButton, {}, redLine.center() + QPoint(20, 0));
    QCOMPARE(log->textCursor().blockNumber(), red);
    QVERIFY(QMetaObject::invokeMethod(updater, "addLine", Q_ARG(QString, "after a click")));

    QTextCursor selection(log->document()->findBlockByNumber(red - 1));
    selection.movePosition(QTextCursor::NextBlock, QTextCursor::KeepAnchor, 2);
    log->setTextCursor(selection);
    QVERIFY(QMetaObject::invokeMethod(
        updater, "addStatusLine", Q_ARG(QString, "good"), Q_ARG(bool, true)));
    QVERIFY(QMetaObject::invokeMethod(updater, "addLine", Q_ARG(QString, "plain")));

    const QStringList added { "after a click", "<green>good", "plain" };
    QCOMPARE(console.lines(), bannerLines + added);
}

void TestConsole::replaceLastLine_data()
{
    QTest::addColumn<QStringList>("added"); // lines appended after the banner
    QTest::addColumn<QStringList>("replacements");
    QTest::addColumn<QStringList>("expected"); // the log after the banner

    QTest::newRow("normal text") << QStringList { "first", "second", "Writing FPGA 10%" }
                                 << QStringList { "Writing FPGA 20%" }
                                 << QStringList { "first", "second", "Writing FPGA 20%" };
    QTest::newRow("one character")
        << QStringList { "first", "x" } << QStringList { "new" } << QStringList { "first", "new" };
    QTest::newRow("replaced repeatedly")
        << QStringList { "first", "0%" } << QStringList { "10%", "20%", "30%" }
        << QStringList { "first", "30%" };
    QTest::newRow("by an empty line")
        << QStringList { "first", "second" } << QStringList { "" } << QStringList { "first", "" };
    // Deleting the last character of an empty paragraph joins it to the one
    // before, so that paragraph goes as well.
    QTest::newRow("empty last line") << QStringList { "first", "second", "" }
                                     << QStringList { "new" } << QStringList { "first", "new" };
    // A line feed inside a line starts a new paragraph in the log, so this
    // is the empty last paragraph again.
    QTest::newRow("line ending in a line feed") << QStringList { "first",
        "second\n" } << QStringList { "new" } << QStringList { "first", "new" };
}

void TestConsole::replaceLastLine()
{
    QFETCH(QStringList, added);
    QFETCH(QStringList, replacements);
    QFETCH(QStringList, expected);

    SimDeviceFile sim;
    ConsoleDriver console;
    QVERIFY(console.exposed);
    Updater *updater = console.updater();

    for (const QString &line : added)
        QVERIFY(QMetaObject::invokeMethod(updater, "addLine", Q_ARG(QString, line)));
    for (const QString &line : replacements)
        QVERIFY(QMetaObject::invokeMethod(updater, "replaceLastLine", Q_ARG(QString, line)));

    // The red banner line stays red; the new last line is plain.
    QCOMPARE(console.lines(), bannerLines + expected);
}

void TestConsole::initialControls_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("accessibleName"); // what a screen reader says
    QTest::addColumn<bool>("enabled");

    QTest::newRow("check") << "checkButton"
                           << "  Check Versions  "
                           << "Check Versions" << true;
    QTest::newRow("update") << "updateButton"
                            << "  Update  "
                            << "Update" << false;
    QTest::newRow("restore") << "restoreButton"
                             << "  Restore  "
                             << "Restore" << false;
}

void TestConsole::initialControls()
{
    QFETCH(QString, name);
    QFETCH(QString, text);
    QFETCH(QString, accessibleName);
    QFETCH(bool, enabled);

    SimDeviceFile sim;
    ConsoleDriver console;
    const MainWindow &window = console.window;
    QPushButton *button = window.findChild<QPushButton *>(name);
    QVERIFY(button);
    QCOMPARE(button->text(), text);
    QCOMPARE(
        QAccessible::queryAccessibleInterface(button)->text(QAccessible::Name), accessibleName);
    QCOMPARE(button->isEnabled(), enabled);
    QVERIFY(button->isVisible());
    QVERIFY(window.centralWidget()->isEnabled());
}

// The whole window, frame included, on the screen's available area: 800 by
// 400 where that fits; on a smaller screen the log gives up the width and the
// buttons stay whole. The busy dialog fits too, and after an update the log
// shows its last line. CTest runs this again on small screens.
void TestConsole::fitsScreen()
{
    SimDeviceFile sim;
    const QRect availableArea = QGuiApplication::primaryScreen()->availableGeometry();
    const QSize available = availableArea.size();
    ConsoleDriver console;
    QVERIFY(console.exposed);
    MainWindow &window = console.window;

    // The offscreen platform frames its windows, as a window manager does.
    const QSize frame = window.frameGeometry().size() - window.size();
    QVERIFY(frame.width() > 0 && frame.height() > 0);
    QTRY_VERIFY(availableArea.contains(window.frameGeometry()));
    QCOMPARE(window.size(), QSize(800, 400).boundedTo(available - frame));
    for (const QPushButton *button : window.findChildren<QPushButton *>()) {
        QVERIFY(window.rect().contains(QRect(button->mapTo(&window, QPoint()), button->size())));
        QVERIFY(button->width() >= button->sizeHint().width());
    }
    QVERIFY(console.logView()->width() > 0);

    MQProgressDialog dialog(
        QStringLiteral("Updating Device\nDO NOT UNPLUG THE DEVICE\n"
                       "This process can take several minutes\nPlease Wait..."));
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    QVERIFY(dialog.width() <= available.width());
    QVERIFY(dialog.height() <= available.height());
    dialog.hide();

    // Made smaller still, with the log scrolled back to the banner, the
    // window shows the update's last line all the same.
    window.resize(window.width(), 200);
    QVERIFY(console.press(console.checkButton()));
    console.logView()->verticalScrollBar()->setValue(0);
    QVERIFY(console.press(console.updateButton()));
    const QStringList lockProblems = console.lockProblems();
    QVERIFY2(lockProblems.isEmpty(), qPrintable(lockProblems.join("; ")));
}

void TestConsole::layout()
{
    SimDeviceFile sim;
    ConsoleDriver console;
    QVERIFY(console.exposed);
    QWidget *updater = console.window.centralWidget();
    QTextEdit *log = console.logView();
    const QPushButton *check = console.checkButton();
    const QPushButton *update = console.updateButton();
    const QPushButton *restore = console.restoreButton();

    const auto *row = qobject_cast<QBoxLayout *>(updater->layout());
    QVERIFY(row);
    QCOMPARE(row->direction(), QBoxLayout::LeftToRight);
    QCOMPARE(row->count(), 2);

    const auto *logBox = qobject_cast<QBoxLayout *>(row->itemAt(0)->layout());
    QVERIFY(logBox);
    QCOMPARE(logBox->direction(), QBoxLayout::TopToBottom);
    QCOMPARE(logBox->count(), 1);
    QCOMPARE(logBox->itemAt(0)->widget(), log);

    const auto *buttonBox = qobject_cast<QBoxLayout *>(row->itemAt(1)->layout());
    QVERIFY(buttonBox);
    QCOMPARE(buttonBox->direction(), QBoxLayout::TopToBottom);
    QCOMPARE(buttonBox->count(), 4);
    QCOMPARE(buttonBox->itemAt(0)->widget(), check);
    QCOMPARE(buttonBox->itemAt(1)->widget(), update);
    QCOMPARE(buttonBox->itemAt(2)->widget(), restore);
    QVERIFY(buttonBox->itemAt(3)->spacerItem());
    for (int i = 0; i < 4; ++i) {
        QCOMPARE(buttonBox->stretch(i), 0);
        QCOMPARE(buttonBox->itemAt(i)->alignment(), Qt::Alignment());
    }

    // On screen: the log on the left, taking the height; the buttons stacked
    // at the top on the right.
    QVERIFY(log->geometry().right() < check->geometry().left());
    QVERIFY(check->geometry().bottom() < update->geometry().top());
    QVERIFY(update->geometry().bottom() < restore->geometry().top());
    QVERIFY(restore->geometry().bottom() < updater->height() / 2);
    QVERIFY(log->height() > updater->height() / 2);

    // The keyboard starts on the log; Tab goes on to the buttons, top down.
    QCOMPARE(console.window.focusWidget(), log);
    QList<const QWidget *> tabOrder { log };
    for (QWidget *next = log->nextInFocusChain(); next != log; next = next->nextInFocusChain()) {
        if (next->focusPolicy() & Qt::TabFocus)
            tabOrder << next;
    }
    QCOMPARE(tabOrder, (QList<const QWidget *> { log, check, update, restore }));
}

void TestConsole::slotTable_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<QByteArray>("signature");
    QTest::addColumn<QByteArrayList>("parameterNames");

    QTest::newRow("addLine") << 0 << QByteArray("addLine(QString)") << QByteArrayList { "s" };
    QTest::newRow("addStatusLine")
        << 1 << QByteArray("addStatusLine(QString,bool)") << QByteArrayList { "s", "success" };
    QTest::newRow("replaceLastLine")
        << 2 << QByteArray("replaceLastLine(QString)") << QByteArrayList { "s" };
    QTest::newRow("checkVersions") << 3 << QByteArray("checkVersions()") << QByteArrayList {};
    QTest::newRow("updateDevice") << 4 << QByteArray("updateDevice()") << QByteArrayList {};
    QTest::newRow("restoreDevice") << 5 << QByteArray("restoreDevice()") << QByteArrayList {};
}

void TestConsole::slotTable()
{
    QFETCH(int, index);
    QFETCH(QByteArray, signature);
    QFETCH(QByteArrayList, parameterNames);

    const QMetaObject &meta = Updater::staticMetaObject;
    const QMetaMethod method = meta.method(meta.methodOffset() + index);
    QCOMPARE(method.methodSignature(), signature);
    QCOMPARE(method.parameterNames(), parameterNames);
    QCOMPARE(method.methodType(), QMetaMethod::Slot);
    QCOMPARE(method.access(), QMetaMethod::Private);
    QCOMPARE(method.returnType(), int(QMetaType::Void));
    QCOMPARE(meta.indexOfSlot(signature.constData()), meta.methodOffset() + index);
}

void TestConsole::noSignals()
{
    const QMetaObject &meta = Updater::staticMetaObject;
    QCOMPARE(meta.methodCount() - meta.methodOffset(), 6);
    for (int i = meta.methodOffset(); i < meta.methodCount(); ++i)
        QVERIFY2(meta.method(i).methodType() != QMetaMethod::Signal,
            meta.method(i).methodSignature().constData());
    QCOMPARE(meta.propertyCount(), meta.propertyOffset());
    QCOMPARE(meta.superClass(), &QWidget::staticMetaObject);
}

void TestConsole::imagePaths()
{
    QCOMPARE(
        QString::fromStdString(bootImagePath()), QStringLiteral("./firmware/qd740n_boot_4.img"));
    QCOMPARE(QString::fromStdString(runImagePath()), QStringLiteral("./firmware/qd740n_run_5.img"));
    QCOMPARE(
        QString::fromStdString(fpgaImagePath()), QStringLiteral("./firmware/qd740n_fpga_6.rbf"));
}

void TestConsole::formatPathBounded_data()
{
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<int>("number");

    // "./firmware/" + name + "_" + number + ".img" is 17 characters plus the name.
    QTest::newRow("short") << QByteArray("qd740n_boot") << 4;
    QTest::newRow("fills the buffer") << QByteArray(238, 'a') << 7;
    QTest::newRow("one byte too long") << QByteArray(239, 'b') << 7;
    QTest::newRow("number past the end") << QByteArray(236, 'c') << 123456;
    QTest::newRow("far too long") << QByteArray(1000, 'd') << 5;
}

void TestConsole::formatPathBounded()
{
    QFETCH(QByteArray, name);
    QFETCH(int, number);

    // The buffer sits inside a larger area filled with a guard byte, so a
    // write past 256 bytes shows as a changed guard.
    constexpr char guard = 0x5a;
    char area[kPathBufferSize + 256];
    std::memset(area, guard, sizeof area);
    formatPath(area, "./firmware/%s_%d.img", name.constData(), number);

    const QByteArray full = "./firmware/" + name + "_" + QByteArray::number(number) + ".img";
    const void *terminator = std::memchr(area, '\0', kPathBufferSize);
    QVERIFY(terminator);
    QCOMPARE(QByteArray(area), full.left(kPathBufferSize - 1));
    for (std::size_t i = kPathBufferSize; i < sizeof area; ++i)
        QVERIFY2(area[i] == guard, qPrintable(QStringLiteral("byte %1 written").arg(i)));
}

QTEST_MAIN(TestConsole)
#include "tst_console.moc"
