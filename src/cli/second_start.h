#pragma once
// A start that finds its settings file held by a program already running.

#include <QString>

#include "session/single_instance.h"

namespace quorvel {

// A window start asks the running program to bring its window forward and ends with status 0;
// when that program runs without a window, or for a --headless start, it says on standard error
// how that program runs (its port above all) and ends with status 1. Returns the exit status.
int AnswerSecondStart(SingleInstance& instance, bool headless, const QString& settingsPath);

}  // namespace quorvel
