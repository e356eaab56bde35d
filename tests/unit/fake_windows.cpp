#include "tests/unit/fake_windows.h"

#include <strings.h>

#include <cstdint>
#include <cstring>

#include "platform/platform.h"

namespace {

constexpr long FILE_NOT_FOUND = 2;
constexpr long ACCESS_DENIED = 5;
constexpr long INVALID_HANDLE = 6;
constexpr unsigned char SCRIBBLE = 0xCC;

FakeWindows fake;

std::string hex(unsigned long number) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%lx", number);
  return text;
}

// The index of an open handle, or 0.
std::size_t openIndex(platform::KeyHandle key) {
  const auto index = reinterpret_cast<std::uintptr_t>(key);
  if (index == 0 || index > fake.handleOpen.size() || !fake.handleOpen[index - 1]) return 0;
  return index;
}

bool allows(platform::KeyHandle key, unsigned long access) {
  const std::size_t index = openIndex(key);
  return index != 0 && fake.handleAccess[index - 1] == access;
}

}  // namespace

FakeWindows& fakeWindows() { return fake; }

void resetFakeWindows() { fake = FakeWindows{}; }

void registerProduct(const std::string& installDir, const std::string& installedNlv,
                     const std::string& serviceLevel) {
  fake.values["InstallDir"] = installDir + '\0';
  fake.values["Installed NLV"] = installedNlv + '\0';
  fake.values["ServiceLevel"] = serviceLevel + '\0';
}

std::vector<std::string> queriedValues() {
  std::vector<std::string> names;
  for (const std::string& call : fake.calls) {
    if (call.rfind("query ", 0) == 0) names.push_back(call.substr(6, call.rfind(' ') - 6));
  }
  return names;
}

bool touchedInstallation() {
  for (const std::string& call : fake.calls) {
    if (call.rfind("system ", 0) == 0 || call.rfind("set ", 0) == 0) return true;
    if (call.rfind("open ", 0) == 0 && call.find(" 0x20006") != std::string::npos) return true;
  }
  return false;
}

namespace platform {

long openMachineKey(const char* path, unsigned long access, KeyHandle* key) {
  fake.calls.push_back("open " + std::string(path) + " " + hex(access));
  *key = nullptr;
  if (!fake.keyExists || std::strcmp(path, PRODUCT_KEY) != 0) return FILE_NOT_FOUND;
  const long error = access == ACCESS_WRITE ? fake.openWriteError : fake.openReadError;
  if (error != 0) return error;
  fake.handleAccess.push_back(access);
  fake.handleOpen.push_back(true);
  *key = reinterpret_cast<KeyHandle>(static_cast<std::uintptr_t>(fake.handleOpen.size()));
  return RESULT_SUCCESS;
}

// Like the registry: never writes more than *size bytes, leaves what follows
// the data as it was (here: scribbled), and says how large the data is.
long queryValue(KeyHandle key, const char* name, unsigned char* data, unsigned long* size) {
  fake.calls.push_back("query " + std::string(name) + " " + std::to_string(*size));
  std::memset(data, SCRIBBLE, *size);
  if (!allows(key, ACCESS_READ)) return INVALID_HANDLE;
  const auto value = fake.values.find(name);
  if (value == fake.values.end()) return FILE_NOT_FOUND;
  const std::string& bytes = value->second;
  const bool fits = bytes.size() <= *size;
  *size = static_cast<unsigned long>(bytes.size());
  if (!fits) return RESULT_MORE_DATA;
  std::memcpy(data, bytes.data(), bytes.size());
  return RESULT_SUCCESS;
}

long setValue(KeyHandle key, const char* name, unsigned long type, const unsigned char* data,
              unsigned long size) {
  fake.calls.push_back("set " + std::string(name) + " type=" + std::to_string(type) +
                       " size=" + std::to_string(size));
  if (!allows(key, ACCESS_WRITE)) return ACCESS_DENIED;
  if (fake.setError != 0) return fake.setError;
  fake.written[name] = std::string(reinterpret_cast<const char*>(data), size);
  return RESULT_SUCCESS;
}

void closeKey(KeyHandle key) {
  const std::size_t index = openIndex(key);
  fake.calls.push_back("close " + std::to_string(index));
  if (index != 0) fake.handleOpen[index - 1] = false;
}

int messageBox(const char* text, const char* caption, unsigned int type) {
  fake.calls.push_back("box " + hex(type));
  fake.boxes.push_back(FakeBox{text, caption, type});
  if (fake.answers.empty()) return ANSWER_OK;
  const int answer = fake.answers.front();
  fake.answers.erase(fake.answers.begin());
  return answer;
}

// Windows matches variable names without regard to case.
const char* environmentValue(const char* name) {
  fake.calls.push_back("getenv " + std::string(name));
  if (strcasecmp(name, "QDXCOMP") != 0 || !fake.compiler) return nullptr;
  return fake.compiler->c_str();
}

bool isLeadByte(char byte) {
  const auto value = static_cast<unsigned char>(byte);
  return fake.codePage == 932 &&
         ((value >= 0x81 && value <= 0x9F) || (value >= 0xE0 && value <= 0xFC));
}

int runCommand(const char* commandLine) {
  fake.calls.push_back("system " + std::string(commandLine));
  fake.commands.push_back(commandLine);
  if (fake.commandResults.empty()) return 0;
  const int result = fake.commandResults.front();
  fake.commandResults.erase(fake.commandResults.begin());
  return result;
}

}  // namespace platform
