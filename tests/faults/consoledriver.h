// Drives the real main window the way an operator does: presses its buttons,
// answers the downgrade question, reads the console back line by line with
// each line's colour, and brings a device back after a fault by starting the
// program afresh on a replugged device.
#pragma once

#include "mainwindow.h"

#include <QColor>
#include <QJsonObject>
#include <QMap>
#include <QStringList>
#include <QTimer>

class QPushButton;
class SimDeviceFile;

// Presses Yes on the "Warning" question whenever it is on screen, as an
// operator who has decided to go ahead would.
class WarningAnswerer
{
public:
    WarningAnswerer();
    int answered() const { return count; }

private:
    void look();

    QTimer timer;
    int count = 0;
};

class ConsoleDriver
{
public:
    ConsoleDriver();

    QPushButton *checkButton() const;
    QPushButton *updateButton() const;
    QPushButton *restoreButton() const;

    // Presses the button; the flow it runs has finished when this returns.
    void press(QPushButton *button);

    QStringList lines() const;
    QList<QColor> colours() const; // the text colour of each line; invalid where none was set
    // The lines from the last occurrence of heading to the end of the log.
    QStringList section(const QString &heading) const;
    QList<QColor> sectionColours(const QString &heading) const;

    MainWindow window;
    bool exposed = false;
};

// A device file: attached, instant calls, the given regions (null: erased).
QJsonObject simDevice(
    const QJsonValue &boot, const QJsonValue &run, const QJsonValue &fpga, int serial);

// The heading line a flow starts its part of the log with: "check", "update"
// or "restore".
QString headingOf(const QString &flow);

// The lines the check flow adds after a probe that found nothing.
QStringList notDetectedLines();
// The lines the update and restore flows add after a failed run.
QStringList failedVerdictLines();
QStringList succeededVerdictLines();

QJsonObject readJson(const QString &path);
void writeJson(const QString &path, const QJsonObject &object);

// Every file in ./firmware with its bytes; empty when the folder is missing.
QMap<QString, QByteArray> firmwareSnapshot();
// Puts the three intact target images into ./firmware again.
bool putBackFirmware();

// The operator replugs the device and starts the program again: the device
// file is copied to a new path (the simulator forgets what the previous run
// left open), the device is attached and free of faults, and a new window
// checks the device and runs whichever of Update and Restore it offers.
// Fails the current test where the device does not end at 4.5.6 with the
// given serial; callers check QTest::currentTestFailed() afterwards.
void bringBack(SimDeviceFile &sim, int serial);
