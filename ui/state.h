// Process-wide user-interface state. Each variable has one writer.
#pragma once

#include <atomic>

#include "platform/platform.h"

// The main dialog; written by MainDialogProc on initialise, read everywhere.
extern Window mainDialog;
// The module instance; written by WinMain.
extern void* moduleInstance;
// Row of the category combo at the last enumeration; written by EnumerateDevices.
extern int currentCategory;
// Set by the rename worker for the whole run; read by the user-interface thread.
extern std::atomic<int> busyFlag;
// Whether the system is 64-bit Windows; written by InitMainDialog.
extern bool osIs64;
