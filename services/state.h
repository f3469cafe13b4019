// The main dialog's window, which every subsystem addresses its controls
// through. Written once by the main dialog's procedure when it initialises
// (and cleared by tests); read on both threads.
#pragma once

#include "platform/platform.h"

extern Window mainDialog;
