// Windows' own words for an error code (GetLastError()), as one sentence
// without its final full stop, so that it fits into the program's sentences.
#pragma once

#include <QString>

QString systemMessage(unsigned long error);
