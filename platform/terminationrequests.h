// The requests to end the program that reach it from outside its window, on
// Linux the signals SIGINT (Ctrl+C in the terminal it was started from),
// SIGTERM (logout, shutdown) and SIGHUP (that terminal closed). Instead of
// ending the process on the spot, perhaps in the middle of a flash write, each
// one becomes the closeRequested() signal on the GUI thread.
#pragma once

#include <QObject>

class TerminationRequests : public QObject
{
    Q_OBJECT

public:
    // Catches the signals from now on. Called first thing in main(): until a
    // TerminationRequests object exists, a request waits for it.
    static void catchSignals();

    // Gives the signals their default action back, once the program is
    // ending: its window is gone, and nothing in its teardown may hold it.
    static void releaseSignals();

    // Needs the application object.
    TerminationRequests();

signals:
    void closeRequested();

private:
    void readRequests();
};
