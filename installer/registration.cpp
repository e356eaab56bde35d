// The product's registration: the record read from its key, and the level written back.
#include "installer/registration.h"

#include <cstdio>
#include <cstring>

#include "installer/ansi_text.h"
#include "installer/copy_commands.h"
#include "installer/messages.h"

namespace {

// The new level as it is stored: "2" padded with zero bytes to the size of
// the buffer that reads it back.
static_assert(UPDATE_LEVEL >= 0 && UPDATE_LEVEL <= 9, "the level is stored as one digit");
constexpr unsigned char RECORDED_LEVEL[LEVEL_SIZE] = {'0' + UPDATE_LEVEL, 0, 0, 0};

// Reads a value into buffer as a zero-terminated string. Data without a zero
// byte is terminated after its last byte; data that fills the buffer without
// one has no room for it and is refused, so nothing is ever read past buffer.
bool readString(platform::KeyHandle key, const char* name, char* buffer, unsigned long size) {
  unsigned long count = size;
  auto* bytes = reinterpret_cast<unsigned char*>(buffer);
  if (platform::queryValue(key, name, bytes, &count) != platform::RESULT_SUCCESS) return false;
  if (count > size) return false;  // claims more than it may have written
  if (std::memchr(buffer, '\0', count) != nullptr) return true;
  if (count == size) return false;
  buffer[count] = '\0';
  return true;
}

template <std::size_t N>
bool readString(platform::KeyHandle key, const char* name, char (&buffer)[N]) {
  return readString(key, name, buffer, N);
}

// A drive letter, a colon and a separator, or two backslashes (a UNC path).
// Anything else lands wherever the current folder or drive happens to be.
bool isFullPath(const char* path) {
  const bool driveLetter = (path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z');
  const bool onDrive = driveLetter && path[1] == ':' && (path[2] == '\\' || path[2] == '/');
  return onDrive || (path[0] == '\\' && path[1] == '\\');
}

// True when cmd.exe would replace part of text by a variable's value: %NAME%,
// or %NAME:...%, where NAME is set. It does so inside quotes too. Neither % nor
// : is ever a trail byte, so the bytes can be searched as they stand.
bool namesSetVariable(const char* text) {
  for (const char* open = std::strchr(text, '%'); open != nullptr;) {
    const char* close = std::strchr(open + 1, '%');
    if (close == nullptr) return false;
    const std::size_t length = std::strcspn(open + 1, ":%");
    ComposedText name;
    (void)std::snprintf(name, sizeof name, "%.*s", static_cast<int>(length), open + 1);
    if (length > 0 && platform::environmentValue(name) != nullptr) return true;
    open = close;
  }
  return false;
}

// Every copy lands below installDir, so it must be a full path that ends in a
// backslash. A control character or a double quote would end the quoted
// destination early, a backslash after a lone lead byte would become its trail
// byte, and a variable's value would send the copies elsewhere.
bool makeInstallDir(char (&installDir)[LONG_VALUE_SIZE]) {
  const std::size_t length = std::strlen(installDir);
  if (!isFullPath(installDir) || holdsControlCharacterOrAnyOf(installDir, "\"") ||
      endsInLoneLeadByte(installDir) || namesSetVariable(installDir)) {
    return false;
  }
  if (endsInBackslash(installDir)) return true;
  if (length + 1 >= LONG_VALUE_SIZE) return false;
  installDir[length] = '\\';
  installDir[length + 1] = '\0';
  return true;
}

// The language names a payload directory that goes unquoted to the command
// interpreter; empty, the copy would take the installation for its source.
bool isUsableLanguage(const InstallRecord& record) {
  return record.installedNlv[0] != '\0' && isPlainFolderName(record.installedNlv) &&
         commandFits(PayloadTree{record.installedNlv, ""}, record.installDir);
}

}  // namespace

void composeKeyPath(ComposedText& keyPath) {
  // The identity is fixed and far shorter than the buffer.
  (void)std::snprintf(keyPath, sizeof keyPath, "Software\\Kestrade\\%s\\%s", PRODUCT_NAME,
                      PRODUCT_VERSION);
}

RunOutcome openKeyForReading(const char* keyPath, platform::KeyHandle* key) {
  if (platform::openMachineKey(keyPath, platform::ACCESS_READ, key) != platform::RESULT_SUCCESS) {
    return stopRun(NOT_INSTALLED_MESSAGE);
  }
  return GO_ON;
}

RunOutcome readInstallRecord(platform::KeyHandle key, InstallRecord* record) {
  if (!readString(key, "InstallDir", record->installDir) || !makeInstallDir(record->installDir)) {
    return stopRun(INSTALL_DIR_MESSAGE);
  }
  if (!readString(key, "Installed NLV", record->installedNlv) || !isUsableLanguage(*record)) {
    return stopRun(LANGUAGE_MESSAGE);
  }
  if (!readString(key, "ServiceLevel", record->serviceLevel)) return stopRun(LEVEL_MESSAGE);
  return GO_ON;
}

bool keyOpensForWriting(const char* keyPath) {
  platform::KeyHandle key = nullptr;
  if (platform::openMachineKey(keyPath, platform::ACCESS_WRITE, &key) != platform::RESULT_SUCCESS) {
    return false;
  }
  platform::closeKey(key);
  return true;
}

RunOutcome recordUpdateLevel(const char* keyPath) {
  platform::KeyHandle key = nullptr;
  if (platform::openMachineKey(keyPath, platform::ACCESS_WRITE, &key) != platform::RESULT_SUCCESS) {
    return stopRun(RECORD_FAILED_MESSAGE, EXIT_INCOMPLETE);
  }
  const long result = platform::setValue(key, "ServiceLevel", platform::TYPE_STRING, RECORDED_LEVEL,
                                         sizeof RECORDED_LEVEL);
  platform::closeKey(key);
  if (result != platform::RESULT_SUCCESS) return stopRun(RECORD_FAILED_MESSAGE, EXIT_INCOMPLETE);
  return GO_ON;
}
