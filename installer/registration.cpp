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
  if (platform::queryValue(key, name, bytes, &count) != platform::RESULT_SUCCESS) {
    return false;
  }
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

// True when cmd.exe could put something else in place of part of text, even
// inside quotes: %NAME% takes a variable's value, and cmd.exe fills in
// variables that no environment holds (%CD%, %DATE%, %=C:%). % is never a trail byte.
bool holdsTwoPercentSigns(const char* text) {
  const char* first = std::strchr(text, '%');
  return first != nullptr && std::strchr(first + 1, '%') != nullptr;
}

// Every copy lands below installDir, so it must be a full path that ends in a
// backslash. A control character or a double quote would end the quoted
// destination early, and a backslash after a lone lead byte would become its trail byte.
bool makeInstallDir(char (&installDir)[LONG_VALUE_SIZE]) {
  const std::size_t length = std::strlen(installDir);
  if (!isFullPath(installDir) || holdsControlCharacterOrAnyOf(installDir, "\"") ||
      endsInLoneLeadByte(installDir)) {
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
  // A variable's value would send the copies elsewhere.
  if (holdsTwoPercentSigns(record->installDir)) {
    return stopRunNaming(PERCENT_SIGNS_MESSAGE, record->installDir);
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
