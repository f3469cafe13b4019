// The Windows entry point; everything else is in RunKestrova.
#include <windows.h>

#include "ui/entry.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) { return RunKestrova(); }
