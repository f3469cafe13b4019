// The command line: with arguments the program runs without showing its
// dialog, writes to the console it was started from and ends with an exit
// code. The dialog is created hidden, so enumeration, the views, the mapping
// and the worker are the dialog's own.
#pragma once

#include <cstddef>

#include "platform/platform.h"
#include "renumber/plan.h"
#include "renumber/run.h"

enum : int {
    kExitDone = 0,
    kExitPortFailed = 1,
    kExitBadArguments = 2,
    kExitDeclined = 3,
    kExitNothingToDo = 4,
    kExitBusy = 5,
    kExitHandOverFailed = 6,
};

enum class CliCommand { Help, List, Renumber, Undo, Version };

struct CliOptions {
    CliCommand command;
    bool json;
    bool yes;
    bool preview;
    RenameScope scope;
    int card;        // 1-based, as listed
    int port;        // 1-based on the card
    unsigned start;  // COM number; 0: as the dialog chooses it
    bool hubPlan;
    HubMask upMask;
    HubMask downMask;
    int category;
    int order;
};

// false with the reason in error when the arguments are not understood.
bool ParseArguments(const char* const* arguments, int count, CliOptions& options, char* error, std::size_t size);

// Runs the given arguments; returns the exit code.
int RunCommandLine(const ArgumentList& arguments);
