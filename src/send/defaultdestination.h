#pragma once

#include "sendoptions.h"

#include <optional>

// Where a file goes when the command line names no destination, looked for
// as lp looks: $LPDEST, else $PRINTER, else the destination saved by the
// Varnet window, else the scheduler's default printer. The one found says
// in its origin which it was ("$LPDEST").
struct DefaultDestination
{
    Destination destination;
    QString origin;
};
std::optional<DefaultDestination> defaultDestination();
