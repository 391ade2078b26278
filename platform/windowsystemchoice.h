// Which of the workstation's window systems the program's windows go to,
// chosen before the toolkit starts. The guards around a flow rely on the
// window system: the busy dialog must not be minimised away, a close of the
// main window while the dialog blocks it must bring up the box that says
// why, and the window must be placed on the screen frame and all.
#pragma once

#include <QString>

class WindowSystemChoice
{
public:
    // Called first thing in main(), before the application object exists. A
    // platform the operator names through QT_QPA_PLATFORM is always kept.
    // Returns why the window cannot be shown at all (no display to show it
    // on), or an empty string.
    static QString choose();

    // Called once the event loop has returned, with its status: ends the
    // process there where the window system's teardown cannot be trusted to
    // end, else returns.
    static void leave(int status);
};
