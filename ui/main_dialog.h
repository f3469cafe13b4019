// The main dialog: initial state, commands, device-change refresh, About box.
#pragma once

#include "platform/platform.h"

void InitMainDialog();
intptr_t KESTROVA_CALLBACK MainDialogProc(Window window, unsigned message, uintptr_t wParam, intptr_t lParam);
intptr_t KESTROVA_CALLBACK AboutDialogProc(Window window, unsigned message, uintptr_t wParam, intptr_t lParam);
void RegisterUsbNotification(bool on);
