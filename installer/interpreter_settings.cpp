// The command interpreter's own settings that reach the copies.
#include "installer/interpreter_settings.h"

#include <cstring>

#include "installer/messages.h"
#include "platform/platform.h"

namespace {

// In the program's own registry view, which is that of the cmd.exe it starts.
#define PROCESSOR_KEY_TEXT "Software\\Microsoft\\Command Processor"
constexpr char PROCESSOR_KEY[] = PROCESSOR_KEY_TEXT;

// A value of the Command Processor key, as far as it could be read.
struct ProcessorValue {
  long result = platform::RESULT_FILE_NOT_FOUND;  // of the query; a missing key counts as missing
  unsigned long type = 0;
  unsigned long size = 0;
  unsigned char data[COMPOSED_SIZE] = {};
};

ProcessorValue readProcessorValue(platform::Root root, const char* name) {
  ProcessorValue value;
  platform::KeyHandle key = nullptr;
  if (platform::openKey(root, PROCESSOR_KEY, platform::ACCESS_READ, &key) !=
      platform::RESULT_SUCCESS) {
    return value;
  }
  value.size = sizeof value.data;
  value.result = platform::queryValue(key, name, &value.type, value.data, &value.size);
  platform::closeKey(key);
  return value;
}

bool isText(const ProcessorValue& value) {
  return value.type == platform::TYPE_STRING || value.type == platform::TYPE_EXPANDABLE;
}

// The bytes up to the first zero, or to the end of the data, are spaces.
bool holdsOnlySpaces(const ProcessorValue& value) {
  for (unsigned long i = 0; i < value.size && value.data[i] != '\0'; ++i) {
    if (value.data[i] != ' ') return false;
  }
  return true;
}

// A command that cmd.exe would run; one too long to read may be anything.
bool runsACommand(const ProcessorValue& value) {
  if (!isText(value)) return false;
  if (value.result == platform::RESULT_MORE_DATA) return true;
  return value.result == platform::RESULT_SUCCESS && !holdsOnlySpaces(value);
}

// Whether root's DelayedExpansion is there as a number, and on.
bool readDelayedExpansion(platform::Root root, bool* isOn) {
  const ProcessorValue value = readProcessorValue(root, "DelayedExpansion");
  if (value.result != platform::RESULT_SUCCESS || value.type != platform::TYPE_NUMBER) return false;
  *isOn = false;
  for (unsigned long i = 0; i < value.size; ++i) *isOn = *isOn || value.data[i] != 0;
  return true;
}

}  // namespace

bool delayedExpansionIsOn() {
  bool isOn = false;
  if (!readDelayedExpansion(platform::Root::user, &isOn)) {
    (void)readDelayedExpansion(platform::Root::machine, &isOn);
  }
  return isOn;
}

// ! is never a trail byte, so the bytes can be searched as they stand.
bool expandsExclamationMark(const char* text, bool delayedExpansion) {
  return delayedExpansion && std::strchr(text, '!') != nullptr;
}

RunOutcome checkNoAutoRun() {
  const struct {
    platform::Root root;
    const char* name;
  } places[] = {
      {platform::Root::machine, "HKEY_LOCAL_MACHINE\\" PROCESSOR_KEY_TEXT "\\AutoRun"},
      {platform::Root::user, "HKEY_CURRENT_USER\\" PROCESSOR_KEY_TEXT "\\AutoRun"},
  };
  for (const auto& place : places) {
    if (runsACommand(readProcessorValue(place.root, "AutoRun"))) {
      return stopRunNaming(AUTORUN_MESSAGE, place.name);
    }
  }
  return GO_ON;
}
