// The command line: with arguments the program shows no window at all. It
// calls the core directly, writes to the console it was started from and
// ends with an exit code.
#pragma once

#include "platform/platform.h"

enum : int {
    kExitDone = 0,
    kExitPortFailed = 1,
    kExitBadArguments = 2,
    kExitDeclined = 3,
    kExitNothingToDo = 4,
    kExitBusy = 5,
    kExitHandOverFailed = 6,
    kExitLayoutCardMissing = 7,
    kExitCardsChanged = 8,
};

// Runs the given arguments; returns the exit code.
int RunCommandLine(const ArgumentList& arguments);
