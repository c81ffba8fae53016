#pragma once

#include <QByteArray>

// Repeatable random bytes: every value occurs, NUL and bytes above 127
// included, and a failure can be reproduced from the seed.
QByteArray randomBytes(qsizetype size, quint32 seed = 1);
