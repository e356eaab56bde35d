// The platform layer on Windows: each call forwarded as it stands.
#include <windows.h>

#include <cstdlib>

#include "platform/platform.h"

namespace platform {

static_assert(RESULT_SUCCESS == ERROR_SUCCESS);
static_assert(RESULT_MORE_DATA == ERROR_MORE_DATA);
static_assert(ACCESS_READ == KEY_READ);
static_assert(ACCESS_WRITE == KEY_WRITE);
static_assert(TYPE_STRING == REG_SZ);
static_assert(BOX_ERROR == MB_ICONERROR);
static_assert(BOX_CONFIRM == (MB_OKCANCEL | MB_ICONWARNING | MB_DEFBUTTON2));
static_assert(ANSWER_OK == IDOK);
static_assert(sizeof(unsigned long) == sizeof(DWORD));

long openMachineKey(const char* path, unsigned long access, KeyHandle* key) {
  HKEY handle = nullptr;
  const LONG result = RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, access, &handle);
  *key = handle;
  return result;
}

long queryValue(KeyHandle key, const char* name, unsigned char* data, unsigned long* size) {
  return RegQueryValueExA(static_cast<HKEY>(key), name, nullptr, nullptr, data, size);
}

long setValue(KeyHandle key, const char* name, unsigned long type, const unsigned char* data,
              unsigned long size) {
  return RegSetValueExA(static_cast<HKEY>(key), name, 0, type, data, size);
}

void closeKey(KeyHandle key) { RegCloseKey(static_cast<HKEY>(key)); }

int messageBox(const char* text, const char* caption, unsigned int type) {
  return MessageBoxA(nullptr, text, caption, type);
}

const char* environmentValue(const char* name) { return std::getenv(name); }

bool isLeadByte(char byte) { return IsDBCSLeadByte(static_cast<BYTE>(byte)) != FALSE; }

int runCommand(const char* commandLine) { return std::system(commandLine); }

}  // namespace platform
