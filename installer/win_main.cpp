// The Windows entry point. The command line and show mode mean nothing to the update.
#include <windows.h>

#include "installer/update_run.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) { return runUpdate(); }
