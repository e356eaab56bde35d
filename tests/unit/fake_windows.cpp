#include "tests/unit/fake_windows.h"

#include <strings.h>

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "platform/platform.h"

namespace platform {
bool isLeadByte(char byte);
}

namespace {

using std::string;

constexpr long FILE_NOT_FOUND = 2;
constexpr long PATH_NOT_FOUND = 3;
constexpr long ACCESS_DENIED = 5;
constexpr long INVALID_HANDLE = 6;
constexpr long MORE_DATA = 234;
constexpr char COPY_SWITCH[] = " /c ";
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

// What Windows compares file names by: upper case, byte by byte, passing over
// the trail bytes of double-byte characters.
std::string upper(const std::string& text) {
  std::string result = text;
  for (std::size_t i = 0; i < result.size(); ++i) {
    if (platform::isLeadByte(result[i])) {
      ++i;
    } else if (result[i] >= 'a' && result[i] <= 'z') {
      result[i] = static_cast<char>(result[i] - 'a' + 'A');
    }
  }
  return result;
}

// Where the last backslash of path stands that is a character of its own, or npos.
std::size_t lastSeparator(const std::string& path) {
  std::size_t last = std::string::npos;
  for (std::size_t i = 0; i < path.size(); ++i) {
    if (path[i] == '\\') last = i;
    if (platform::isLeadByte(path[i])) ++i;
  }
  return last;
}

// One backslash for each run of them, as Windows reads a path; a UNC path keeps its two.
std::string withSingleSeparators(const std::string& path) {
  std::string result = path.rfind("\\\\", 0) == 0 ? "\\" : "";
  bool afterSeparator = false;
  for (std::size_t i = 0; i < path.size(); ++i) {
    const bool separator = path[i] == '\\';
    if (!separator || !afterSeparator) result += path[i];
    afterSeparator = separator;
    if (platform::isLeadByte(path[i]) && i + 1 < path.size()) result += path[++i];
  }
  return result;
}

// The full path without a trailing backslash, relative paths below the current directory.
std::string absolute(std::string path) {
  path = withSingleSeparators(path);
  const bool rooted = path.size() >= 2 && (path[1] == ':' || path.rfind("\\\\", 0) == 0);
  if (!rooted) path = fake.currentDirectory + "\\" + path;
  while (path.size() > 3 && lastSeparator(path) == path.size() - 1) path.pop_back();
  return path;
}

// The folder that holds path: "" for a drive's root, which keeps its backslash.
std::string parentOf(const std::string& path) {
  const std::size_t slash = lastSeparator(path);
  if (slash == std::string::npos || slash + 1 == path.size()) return "";
  return path.substr(0, slash == 2 && path[1] == ':' ? 3 : slash);
}

std::string nameOf(const std::string& path) { return path.substr(lastSeparator(path) + 1); }

std::vector<const FakeFile*> childrenOf(const std::string& folder) {
  std::vector<const FakeFile*> children;
  const std::string key = upper(folder);
  for (const auto& [path, file] : fake.files) {
    if (upper(parentOf(file.path)) == key) children.push_back(&file);
  }
  return children;
}

// Copies source's tree into destination as xcopy /E /I does; false where it
// stops, at a file in the way of a folder or a folder in the way of a file.
bool copyTree(const std::string& source, const std::string& destination) {
  const FakeFile* there = findFile(destination);
  if (there != nullptr && !there->isFolder) return false;
  addFile(destination + "\\");
  for (const FakeFile* child : childrenOf(source)) {
    const FakeFile file = *child;
    const std::string target = destination + "\\" + nameOf(file.path);
    if (file.isFolder) {
      if (!copyTree(file.path, target)) return false;
      continue;
    }
    const FakeFile* existing = findFile(target);
    if (existing != nullptr && existing->isFolder) return false;
    if ((file.attributes & 0x6) != 0 || (existing != nullptr && existing->locked)) continue;
    FakeFile& copy = addFile(target, file.size, file.writeTime);
    copy.attributes = file.attributes & ~0x400UL;  // a copy of a reparse point's data is plain
    copy.content = file.content;
  }
  return true;
}

int runXcopy(const std::string& command) {
  const std::string prefix = "xcopy /E /I ";
  const std::size_t quote = command.find(" \"");
  if (command.rfind(prefix, 0) != 0 || quote == std::string::npos) return 4;
  const std::string source = command.substr(prefix.size(), quote - prefix.size());
  const FakeFile* folder = findFile(source);
  if (folder == nullptr || !folder->isFolder) return 4;
  const std::string from = absolute(source);
  const std::string to = absolute(command.substr(quote + 2, command.size() - quote - 3));
  if (upper(to + "\\").rfind(upper(from + "\\"), 0) == 0) return 4;  // a cyclic copy
  return copyTree(from, to) ? 0 : 4;
}

std::vector<std::vector<platform::FoundFile>> searches;

// value as count bytes, the least significant first.
std::string bytesOf(unsigned long long value, int count) {
  std::string bytes;
  for (int i = 0; i < count; ++i) bytes += static_cast<char>(value >> 8 * i & 0xFF);
  return bytes;
}

// "S-1-5-32-544" as a SID's bytes, whose authority is the most significant first.
std::string sidBytes(const std::string& text) {
  std::vector<unsigned long long> numbers;
  for (std::size_t at = 2, used = 0; at < text.size(); at += used + 1) {
    numbers.push_back(std::stoull(text.substr(at), &used));
  }
  const std::string authority = bytesOf(numbers[1], 6);
  std::string bytes = bytesOf(numbers[0], 1) + bytesOf(numbers.size() - 2, 1) +
                      std::string(authority.rbegin(), authority.rend());
  for (std::size_t i = 2; i < numbers.size(); ++i) bytes += bytesOf(numbers[i], 4);
  return bytes;
}

// The self-relative descriptor (DACL present) of the file's owner and DACL.
std::string descriptorOf(const FakeFile& file) {
  const std::string owner = sidBytes(file.owner);
  std::string entries;
  for (const FakeEntry& entry : file.dacl.value_or(std::vector<FakeEntry>{})) {
    const std::string sid = sidBytes(entry.sid), data(entry.applicationData, '\0');
    entries += bytesOf(entry.type, 1) + bytesOf(entry.flags, 1) +
               bytesOf(8 + sid.size() + data.size(), 2) + bytesOf(entry.mask, 4) + sid + data;
  }
  const std::string header = bytesOf(1, 2) + bytesOf(0x8004, 2) + bytesOf(20, 4) + bytesOf(0, 8) +
                             bytesOf(file.dacl ? 20 + owner.size() : 0, 4) + owner;
  if (!file.dacl) return header;
  return header + bytesOf(2, 2) + bytesOf(8 + entries.size(), 2) + bytesOf(file.dacl->size(), 4) +
         entries;
}

platform::FileFacts factsOf(const FakeFile& file) {
  return platform::FileFacts{file.attributes | (file.isFolder ? 0x10UL : 0UL), file.size,
                             file.writeTime};
}

platform::FoundFile found(const std::string& name, const platform::FileFacts& facts) {
  platform::FoundFile result{};
  std::snprintf(result.name, sizeof result.name, "%s", name.c_str());
  result.facts = facts;
  return result;
}

}  // namespace

FakeFile& addFile(const std::string& path, unsigned long long size, unsigned long long time) {
  const bool isFolder = !path.empty() && lastSeparator(path) == path.size() - 1;
  const std::string full = absolute(path);
  const std::string parent = parentOf(full);
  if (parent.size() > 2 && findFile(parent) == nullptr) addFile(parent + "\\");
  FakeFile& file = fake.files[upper(full)];
  if (file.path.empty()) file.path = file.content = full;  // each file's bytes its own
  file.isFolder = isFolder;
  file.size = isFolder ? 0 : size;
  file.writeTime = time;
  return file;
}

FakeFile* findFile(const std::string& path) {
  const auto file = fake.files.find(upper(absolute(path)));
  return file == fake.files.end() ? nullptr : &file->second;
}

std::string fakeDigest(const std::string& data) {
  std::string digest;
  for (std::uint64_t seed = 1; seed <= 4; ++seed) {
    std::uint64_t hash = 14695981039346656037ULL ^ seed;
    for (const char c : data) hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ULL;
    digest += bytesOf(hash, 8);
  }
  return digest;
}

std::string releasedList() {
  const std::string root = upper(fake.currentDirectory) + "\\";
  std::map<std::string, std::string> lines;  // by the path in upper case, as the script sorts
  for (const auto& [key, file] : fake.files) {
    const std::string relative = key.substr(std::min(key.size(), root.size()));
    if (key.rfind(root, 0) != 0 || file.isFolder || relative.find('\\') == std::string::npos) {
      continue;
    }
    std::string hex;
    for (const char byte : fakeDigest(file.content)) {
      char pair[3];
      std::snprintf(pair, sizeof pair, "%02x", static_cast<unsigned char>(byte));
      hex += pair;
    }
    lines[relative] = hex + "  " + file.path.substr(root.size()) + "\r\n";
  }
  std::string list;
  for (const auto& [path, line] : lines) list += line;
  return list;
}

void sealDistribution() {
  const std::string list = releasedList();
  addFile("Mendrel2.sha256", list.size()).content = list;
  fake.seal = fakeDigest(list);
}

void addInstallation(const std::string& installDir, const std::string& compilerDir,
                     const std::string& installedNlv) {
  addFile(lastSeparator(installDir) == installDir.size() - 1 ? installDir : installDir + "\\");
  addFile("Common\\common.dat", 100, 11);
  addFile(compilerDir + "\\compiler.dat", 200, 22);
  addFile(installedNlv + "\\language.dat", 300, 33);
}

FakeWindows& fakeWindows() { return fake; }

extern "C" void* __real_realloc(void* block, std::size_t size);
extern "C" void* __wrap_realloc(void* block, std::size_t size) {
  return fake.memoryExhausted ? nullptr : __real_realloc(block, size);
}
extern "C" void* __real_calloc(std::size_t count, std::size_t size);
extern "C" void* __wrap_calloc(std::size_t count, std::size_t size) {
  return fake.memoryExhausted ? nullptr : __real_calloc(count, size);
}

void resetFakeWindows() {
  fake = FakeWindows{};
  searches.clear();
}

void registerProduct(const std::string& installDir, const std::string& installedNlv,
                     const std::string& serviceLevel) {
  fake.values["InstallDir"] = installDir + '\0';
  fake.values["Installed NLV"] = installedNlv + '\0';
  fake.values["ServiceLevel"] = serviceLevel + '\0';
  addInstallation(installDir, "MS60", installedNlv);
  addFile(fake.programPath);
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
    if (call.rfind("run ", 0) == 0 || call.rfind("set ", 0) == 0) return true;
  }
  return false;
}

namespace platform {

// The product's key answers as scripted; no other key exists.
long openMachineKey(const char* path, unsigned long access, KeyHandle* key) {
  fake.calls.push_back("open " + string(path) + " " + hex(access));
  *key = nullptr;
  if (std::strcmp(path, PRODUCT_KEY) != 0 || !fake.keyExists) return FILE_NOT_FOUND;
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
  fake.calls.push_back("query " + string(name) + " " + std::to_string(*size));
  std::memset(data, SCRIBBLE, *size);
  if (!allows(key, ACCESS_READ)) return INVALID_HANDLE;
  const auto value = fake.values.find(name);
  if (value == fake.values.end()) return FILE_NOT_FOUND;
  const string& bytes = value->second;
  const bool fits = bytes.size() <= *size;
  *size = static_cast<unsigned long>(bytes.size());
  if (!fits) return MORE_DATA;
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

// Windows matches variable names without regard to case. What the update sets
// is not seen here, as the C library's copy of the environment does not see it.
const char* environmentValue(const char* name) {
  fake.calls.push_back("getenv " + std::string(name));
  const std::optional<std::string>* value = nullptr;
  if (strcasecmp(name, "QDXCOMP") == 0) value = &fake.compiler;
  if (strcasecmp(name, "COPYCMD") == 0) value = &fake.copySwitches;
  if (value != nullptr) return *value ? (*value)->c_str() : nullptr;
  const auto other = fake.environment.find(upper(name));
  return other == fake.environment.end() ? nullptr : other->second.c_str();
}

void setEnvironmentValue(const char* name, const char* value) {
  fake.calls.push_back("putenv " + std::string(name) + "=" + value);
  fake.setForPrograms[upper(name)] = value;
}

bool systemDirectory(char* buffer, unsigned long size) {
  std::snprintf(buffer, size, "%s", fake.systemDirectory.c_str());
  return fake.systemDirectory.size() < size;
}

bool runsInSessionZero() { return fake.sessionZero; }

unsigned long consoleSession() { return fake.consoleSession; }

long createProcessMutex(const char* name, bool inheritable) {
  fake.mutexName = name;
  fake.mutexInheritable = inheritable;
  return fake.mutexResult;
}

unsigned long endStartedProgramsWithProcess() {
  fake.calls.push_back("job");
  return fake.jobError;
}

bool programPath(char* buffer, unsigned long size) {
  std::snprintf(buffer, size, "%s", fake.programPath.c_str());
  return fake.programPath.size() < size;
}

FileRead readFile(const char* path, FileReading* reading) {
  const FakeFile* file = findFile(path);
  if (file == nullptr || (reading->digester != nullptr && file->dataLocked)) {
    return FileRead::NOT_OPENED;
  }
  if (reading->descriptor != nullptr &&
      !fileSecurity(path, reading->descriptor, reading->size, &reading->length)) {
    return FileRead::SECURITY_UNREADABLE;
  }
  if (reading->digester != nullptr) {
    // A deduplicated file read as its reparse point gives a stub, not its bytes.
    const bool stub = (file->attributes & 0x400) != 0 && !reading->throughFilter;
    std::memcpy(reading->digest, fakeDigest(stub ? "stub" : file->content).data(), 32);
    reading->otherStream = reading->streams && file->otherStream;
  }
  return FileRead::READ;
}

bool readWholeFile(const char* path, unsigned char* buffer, unsigned long size,
                   unsigned long* length) {
  const FakeFile* file = findFile(path);
  if (file == nullptr || file->isFolder || file->dataLocked) return false;
  *length = static_cast<unsigned long>(std::min<std::size_t>(size, file->content.size()));
  std::memcpy(buffer, file->content.data(), *length);
  return true;
}

bool openDigester(DigesterHandle* digester) {
  *digester = reinterpret_cast<DigesterHandle>(&fake);
  fake.digestersOpen += fake.sha256 ? 1 : 0;
  return fake.sha256;
}

void closeDigester(DigesterHandle digester) {
  // Closing a handle that was never handed out leaves a debt that no row can miss.
  fake.digestersOpen -= digester == reinterpret_cast<DigesterHandle>(&fake) ? 1 : 1000;
}

bool digestOf(DigesterHandle, const unsigned char* data, unsigned long length,
              unsigned char* digest) {
  const std::string bytes(reinterpret_cast<const char*>(data), length);
  std::memcpy(digest, fakeDigest(bytes).data(), 32);
  return true;
}

bool releaseSeal(unsigned char* digest) {
  std::memcpy(digest, fake.seal.data(), std::min<std::size_t>(fake.seal.size(), 32));
  return !fake.seal.empty();
}

bool processUser(unsigned char* sid, unsigned long size) {
  const std::string bytes = sidBytes(fake.user);
  std::memcpy(sid, bytes.data(), std::min<std::size_t>(size, bytes.size()));
  return bytes.size() <= size;
}

bool volumeFlags(const char*, unsigned long* flags) {
  *flags = fake.volumeFlags;
  return true;
}

// The descriptor, with bytes after it scribbled over.
bool fileSecurity(const char* path, unsigned char* descriptor, unsigned long size,
                  unsigned long* length) {
  const FakeFile* file = findFile(path);
  if (file == nullptr || file->securityUnreadable) return false;
  const std::string bytes = file->descriptor.value_or(descriptorOf(*file)).substr(0, size);
  std::memcpy(descriptor, bytes.data(), bytes.size());
  *length = static_cast<unsigned long>(bytes.size());
  std::memset(descriptor + bytes.size(), SCRIBBLE, std::min<std::size_t>(size - bytes.size(), 256));
  return true;
}

void restrictLibrarySearch() {}

bool runsRestricted() { return fake.restricted; }

bool boxesCanBeSeen() { return fake.boxesVisible; }

void writeStandardError(const char* text) { fake.standardError += std::string(text) + "\r\n"; }

bool isLeadByte(char byte) {
  const auto value = static_cast<unsigned char>(byte);
  return fake.codePage == 932 &&
         ((value >= 0x81 && value <= 0x9F) || (value >= 0xE0 && value <= 0xFC));
}

// Any program runs what follows its line's first " /c ", as cmd.exe would.
int runProgram(const char* application, const char* commandLine) {
  fake.calls.push_back("run " + string(application) + " " + commandLine);
  const auto variable = [](const string& name) {
    const auto set = fake.setForPrograms.find(name);
    const auto inherited = fake.environment.find(name);
    return set != fake.setForPrograms.end()      ? set->second
           : inherited != fake.environment.end() ? inherited->second
                                                 : "";
  };
  fake.runs.push_back(FakeRun{application, commandLine, variable("PATH"), variable("PATHEXT")});
  const string line = commandLine;
  const std::size_t run = line.find(COPY_SWITCH);
  fake.commands.push_back(run == string::npos ? line : line.substr(run + sizeof COPY_SWITCH - 1));
  int result = runXcopy(fake.commands.back());
  if (!fake.commandResults.empty()) {
    result = fake.commandResults.front();
    fake.commandResults.erase(fake.commandResults.begin());
  }
  if (fake.commands.size() == 3 && fake.afterCopies) fake.afterCopies(fake);
  return result;
}

void upperCase(char* text, unsigned long length) {
  const std::string result = upper(std::string(text, length));
  std::memcpy(text, result.data(), length);
}

bool currentDirectory(char* buffer, unsigned long size) {
  if (fake.currentDirectory.size() >= size) return false;
  std::memcpy(buffer, fake.currentDirectory.c_str(), fake.currentDirectory.size() + 1);
  return true;
}

bool fileFacts(const char* path, FileFacts* facts) {
  fake.calls.push_back("facts " + std::string(path));
  const FakeFile* file = findFile(path);
  if (file == nullptr) return false;
  *facts = factsOf(*file);
  return true;
}

// Like FindFirstFileA on "folder\*": "." and ".." first, then the folder's entries.
long findFirstFile(const char* pattern, SearchHandle* search, FoundFile* first) {
  fake.calls.push_back("find " + std::string(pattern));
  std::string folder = pattern;
  if (folder.size() < 2 || folder.compare(folder.size() - 2, 2, "\\*") != 0) return FILE_NOT_FOUND;
  folder.pop_back();
  const FakeFile* file = findFile(folder);
  *search = nullptr;
  if (file == nullptr || !file->isFolder) return PATH_NOT_FOUND;
  if (file->unreadable) return ACCESS_DENIED;
  std::vector<FoundFile> entries = {found(".", factsOf(*file)), found("..", factsOf(*file))};
  for (const FakeFile* child : childrenOf(file->path)) {
    entries.push_back(found(nameOf(child->path), factsOf(*child)));
  }
  searches.push_back(entries);
  *search = reinterpret_cast<SearchHandle>(searches.size());
  return findNextFile(*search, first);
}

long findNextFile(SearchHandle search, FoundFile* next) {
  auto& entries = searches.at(reinterpret_cast<std::uintptr_t>(search) - 1);
  if (entries.empty()) return RESULT_NO_MORE_FILES;
  *next = entries.front();
  entries.erase(entries.begin());
  return RESULT_SUCCESS;
}

void findClose(SearchHandle search) {
  searches.at(reinterpret_cast<std::uintptr_t>(search) - 1).clear();
}

bool canOpenForWriting(const char* path, unsigned long* names) {
  const FakeFile* file = findFile(path);
  if (file == nullptr || file->isFolder || file->locked) return false;
  *names = file->names;
  return true;
}

bool reparseTag(const char* path, unsigned long* tag) {
  const FakeFile* file = findFile(path);
  if (file == nullptr || !file->reparseTag) return false;
  *tag = *file->reparseTag;
  return true;
}

bool volumeSpace(const char*, unsigned long long* freeBytes, unsigned long long* clusterBytes) {
  if (fake.memoryRunsOutAtDestinations) fake.memoryExhausted = true;
  *freeBytes = fake.freeBytes;
  *clusterBytes = fake.clusterBytes;
  return fake.volumeKnown;
}

}  // namespace platform
