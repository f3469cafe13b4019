// The rename run: confirms the risks the scan finds, takes the devices
// offline, renames their ports, brings them back and reports every port.
#pragma once

#include "platform/platform.h"

enum class RenameScope { SelectedPort, SelectedCard, AllCards };

RenameScope ReadRenameScope();

// Called on the user-interface thread by the Change button: claims the run
// (busyFlag, Enumerate and Change disabled) before the worker starts, so a
// second click can never start a second run. false when a run exists already
// or the thread could not start.
bool StartRenameRun();

// The worker thread's routine.
unsigned KESTROVA_CALLBACK RenamePortsThread(void* unused);
