#include "windowsystemchoice.h"

// A platform without files of its own: the toolkit chooses as it would,
// and nothing is known of what that window system keeps.
QString WindowSystemChoice::choose()
{
    return QString();
}

// Nor is anything known of its teardown: the program ends as usual.
void WindowSystemChoice::leave(int) { }
