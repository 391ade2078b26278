// Linked into a test build of the program only: a minute of the deadlines
// that a flow gives each device call lasts a second.
#include "flowcontrol.h"

[[maybe_unused]] static const bool shortened
    = (FlowControl::setMinute(std::chrono::seconds(1)), true);
