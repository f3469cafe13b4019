// The command line's arguments: every option once, each command with the
// options that go with it.
#pragma once

#include <cstddef>

#include "renumber/plan.h"
#include "renumber/run.h"

enum class CliCommand { Help, List, Renumber, Undo, Version, ReleaseStale, Export, Check, Apply };

struct CliOptions {
    CliCommand command;
    bool json;
    bool claims;  // /list /claims: the COM database's claims and their holders
    bool yes;
    bool preview;
    bool dsc;                // the output a configuration resource reads
    const char* layoutPath;  // /export, /check, /apply: a file, "-" for the standard handle
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

// The words of /category, by category code.
constexpr inline const char* kCategoryWords[] = {"all", "usb", "pci", "other"};

// false with the reason in error when the arguments are not understood.
bool ParseArguments(const char* const* arguments, int count, CliOptions& options, char* error, std::size_t size);
