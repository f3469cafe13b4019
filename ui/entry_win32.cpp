// The Windows entry point; everything else is in RunKestrova.
#include <windows.h>

#include "ui/main_dialog.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) { return RunKestrova(); }
