// The requests to end the program that reach it from outside its window, on
// Linux the signals SIGINT (Ctrl+C in the terminal it was started from),
// SIGTERM (logout, shutdown) and SIGHUP (that terminal closed). Only while
// they are held does one become the requested() signal on the GUI thread;
// otherwise each ends the program as it ends any program.
#pragma once

#include <QObject>

class TerminationRequests : public QObject
{
    Q_OBJECT

public:
    // Needs the application object. Holds nothing yet.
    explicit TerminationRequests(QObject *parent);

    // From now on a request is reported instead of ending the program; a
    // signal ignored when the program started (nohup ignores SIGHUP) stays
    // ignored.
    void hold();
    // Gives the signals their default action back.
    void release();

signals:
    void requested();

private:
    void readRequests();
};
