// The Windows entry point. The command line and show mode mean nothing to the update.
#include <windows.h>

#include "installer/update_run.h"
#include "platform/platform.h"

// A program that runs as administrator loads no DLL from its download folder.
int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  platform::restrictLibrarySearch();
  return runUpdate();
}
