// The main window on screen, driven the way an operator drives it: presses
// its buttons, answers whatever box comes up (No unless told otherwise) and
// reads the log back with LogReader.
#pragma once

#include "mainwindow.h"
#include "messageboxanswerer.h"

#include <QStringList>

class QPushButton;
class QTextEdit;
class Updater;

class ConsoleDriver
{
public:
    ConsoleDriver(); // shows the window and waits until it is exposed

    QPushButton *checkButton() const;
    QPushButton *updateButton() const;
    QPushButton *restoreButton() const;
    QTextEdit *logView() const;
    Updater *updater() const;

    // Presses an enabled button. True once the flow it started has finished
    // and left no dialog on screen; false where the button could not be
    // pressed.
    bool press(QPushButton *button);
    // Presses the one of Update and Restore that the check offered, as press()
    // does; false where the check offered neither.
    bool pressOffered();

    QStringList lines() const; // the log, as LogReader reads it
    // Which of Update and Restore the operator may press now: "", "update",
    // "restore", or "update+restore".
    QString offered() const;
    // What is amiss with the console as an update or restore leaves it:
    // every button disabled and no flow starting, even called directly,
    // while the log stays enabled and read-only, showing its last line, and
    // can be scrolled, selected and copied. Empty when nothing is.
    QStringList lockProblems();

    const bool libraryBound; // bound before the window, whose banner names it
    MainWindow window;
    const bool exposed;
    MessageBoxAnswerer box; // declared last: stops looking before the window goes
};
