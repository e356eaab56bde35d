// The platform layer on Windows: each call forwarded as it stands.
#include <windows.h>
// After windows.h, which they need.
#include <wincrypt.h>
#include <winioctl.h>
#include <winternl.h>

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/platform.h"

namespace platform {

static_assert(RESULT_SUCCESS == ERROR_SUCCESS);
static_assert(ACCESS_READ == KEY_READ);
static_assert(ACCESS_WRITE == KEY_WRITE);
static_assert(TYPE_STRING == REG_SZ);
static_assert(BOX_ERROR == MB_ICONERROR);
static_assert(BOX_CONFIRM == (MB_OKCANCEL | MB_ICONWARNING | MB_DEFBUTTON2));
static_assert(ANSWER_OK == IDOK);
static_assert(RESULT_FILE_NOT_FOUND == ERROR_FILE_NOT_FOUND);
static_assert(RESULT_NO_MORE_FILES == ERROR_NO_MORE_FILES);
static_assert(RESULT_PATH_NOT_FOUND == ERROR_PATH_NOT_FOUND);
static_assert(RESULT_ALREADY_EXISTS == ERROR_ALREADY_EXISTS);
static_assert(ATTRIBUTE_READONLY == FILE_ATTRIBUTE_READONLY);
static_assert(ATTRIBUTE_HIDDEN == FILE_ATTRIBUTE_HIDDEN);
static_assert(ATTRIBUTE_SYSTEM == FILE_ATTRIBUTE_SYSTEM);
static_assert(ATTRIBUTE_FOLDER == FILE_ATTRIBUTE_DIRECTORY);
static_assert(ATTRIBUTE_REPARSE_POINT == FILE_ATTRIBUTE_REPARSE_POINT);
static_assert(VOLUME_PERSISTENT_ACLS == FILE_PERSISTENT_ACLS);
static_assert(VOLUME_READ_ONLY == FILE_READ_ONLY_VOLUME);
static_assert(IsReparseTagNameSurrogate(REPARSE_TAG_NAME_SURROGATE));
static_assert(!IsReparseTagNameSurrogate(~REPARSE_TAG_NAME_SURROGATE));
static_assert(sizeof(unsigned long) == sizeof(DWORD));
static_assert(sizeof(FoundFile::name) == sizeof(WIN32_FIND_DATAA::cFileName));

namespace {

constexpr DWORD EVERY_SHARE_MODE = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

unsigned long long joined(DWORD high, DWORD low) {
  return (static_cast<unsigned long long>(high) << 32) | low;
}

FileFacts factsOf(DWORD attributes, DWORD sizeHigh, DWORD sizeLow, const FILETIME& written) {
  return FileFacts{attributes, joined(sizeHigh, sizeLow),
                   joined(written.dwHighDateTime, written.dwLowDateTime)};
}

void fill(const WIN32_FIND_DATAA& data, FoundFile* found) {
  std::memcpy(found->name, data.cFileName, sizeof found->name);
  found->facts =
      factsOf(data.dwFileAttributes, data.nFileSizeHigh, data.nFileSizeLow, data.ftLastWriteTime);
}

// A token fact of the process; false where the token or the class is unknown.
bool tokenFact(TOKEN_INFORMATION_CLASS kind, DWORD isTrue) {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
  DWORD value = 0, size = 0;
  const bool known = GetTokenInformation(token, kind, &value, sizeof value, &size) != FALSE;
  CloseHandle(token);
  return known && value == isTrue;
}

// The place that scripts/seal_release.py fills with the SHA-256 of the release's
// list: found by its marker, all zero until then. Never all zero, so never in
// .bss; read through volatile, so that no build folds an unsealed digest away.
struct SealPlace {
  char marker[32];
  unsigned char digest[32];
};
const volatile SealPlace RELEASE_SEAL = {"Mendrel2 release list SHA-256:", {}};

using NtQueryInformationFileCall = decltype(&NtQueryInformationFile);

// Found at run time, so that the imports stay as they are; ntdll has it on every Windows from XP.
NtQueryInformationFileCall queryInformationFile() {
  return reinterpret_cast<NtQueryInformationFileCall>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQueryInformationFile")));
}

// An entry of FileStreamInformation (FILE_STREAM_INFORMATION).
struct StreamEntry {
  ULONG next;
  ULONG nameBytes;
  LARGE_INTEGER size, allocated;
  WCHAR name[1];
};

// True when name (of count characters) is text, ASCII letters compared without case.
bool isStreamName(const WCHAR* name, ULONG count, const char* text) {
  for (ULONG i = 0; i < count; ++i) {
    const WCHAR upper = name[i] >= L'a' && name[i] <= L'z' ? name[i] - L'a' + L'A' : name[i];
    const char wanted = text[i] >= 'a' && text[i] <= 'z' ? text[i] - 'a' + 'A' : text[i];
    if (wanted == '\0' || upper != static_cast<WCHAR>(wanted)) return false;
  }
  return text[count] == '\0';
}

// What the file's data streams are: its own (which a file system may report
// without a name) and the mark of the zone it was downloaded from, or others too.
enum class Streams { OWN, OTHERS, UNKNOWN };

// A file system that keeps no streams (FAT, a CD) refuses the query; it has none.
bool keepsNoStreams(NTSTATUS result) {
  for (const ULONG refusal :
       {0xC0000002UL, 0xC0000003UL, 0xC000000DUL, 0xC0000010UL, 0xC00000BBUL}) {
    if (static_cast<ULONG>(result) == refusal) return true;  // not implemented, not supported
  }
  return false;
}

Streams streamsOf(HANDLE file) {
  const NtQueryInformationFileCall query = queryInformationFile();
  constexpr auto STREAM_INFORMATION = static_cast<FILE_INFORMATION_CLASS>(22);
  constexpr NTSTATUS BUFFER_OVERFLOW = static_cast<NTSTATUS>(0x80000005);
  alignas(8) BYTE entries[4096];
  IO_STATUS_BLOCK status{};
  const NTSTATUS result = query != nullptr
                              ? query(file, &status, entries, sizeof entries, STREAM_INFORMATION)
                              : static_cast<NTSTATUS>(0xC0000002);
  if (result == BUFFER_OVERFLOW) return Streams::OTHERS;  // more than fit 4 KiB
  if (result < 0) return keepsNoStreams(result) ? Streams::OWN : Streams::UNKNOWN;
  const ULONG filled = static_cast<ULONG>(std::min<ULONG_PTR>(status.Information, sizeof entries));
  for (ULONG at = 0; at + offsetof(StreamEntry, name) <= filled;) {
    const auto* entry = reinterpret_cast<const StreamEntry*>(entries + at);
    const ULONG count = entry->nameBytes / sizeof(WCHAR);
    if (at + offsetof(StreamEntry, name) + entry->nameBytes > filled) return Streams::UNKNOWN;
    if (count != 0 && !isStreamName(entry->name, count, "::$DATA") &&
        !isStreamName(entry->name, count, ":Zone.Identifier:$DATA")) {
      return Streams::OTHERS;
    }
    if (entry->next == 0) break;
    at += entry->next;
  }
  return Streams::OWN;
}

// Ends hash, which took all the data when hashed: true with its 32 bytes in digest.
bool finishHash(HCRYPTHASH hash, bool hashed, BYTE* digest) {
  DWORD size = 32;
  hashed = hashed && CryptGetHashParam(hash, HP_HASHVAL, digest, &size, 0) && size == 32;
  CryptDestroyHash(hash);
  return hashed;
}

// The SHA-256 of the file's bytes, read from where it stands in blocks of 64 KiB.
bool hashFile(HANDLE file, HCRYPTPROV provider, BYTE* digest) {
  HCRYPTHASH hash = 0;
  if (!CryptCreateHash(provider, CALG_SHA_256, 0, 0, &hash)) return false;
  BYTE block[64 * 1024];
  DWORD read = 0;
  bool hashed = true;
  while (hashed && (hashed = ReadFile(file, block, sizeof block, &read, nullptr) != FALSE) &&
         read != 0) {
    hashed = CryptHashData(hash, block, read, 0) != FALSE;
  }
  return finishHash(hash, hashed, digest);
}

// On success Windows reports a descriptor's own length; never trust more than the buffer.
unsigned long descriptorLength(DWORD needed, unsigned long size) {
  return needed != 0 && needed <= size ? needed : size;
}

// The block in which the C library's system hands a program its standard
// handles: their count, a flag byte for each, then the handles, unaligned.
struct StandardHandles {
  BYTE bytes[sizeof(int) + 3 + 3 * sizeof(HANDLE)];
};

void describeStandardHandles(StandardHandles* block) {
  constexpr BYTE OPEN = 0x01, PIPE = 0x08, DEVICE = 0x40, TEXT = 0x80;
  const int count = 3;
  std::memcpy(block->bytes, &count, sizeof count);
  const DWORD kinds[] = {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE};
  for (int i = 0; i < count; ++i) {
    HANDLE handle = GetStdHandle(kinds[i]);
    const DWORD type = handle == nullptr || handle == INVALID_HANDLE_VALUE ? FILE_TYPE_UNKNOWN
                                                                           : GetFileType(handle);
    BYTE flags = type == FILE_TYPE_UNKNOWN ? 0 : OPEN | TEXT;
    if (type == FILE_TYPE_CHAR) flags |= DEVICE;
    if (type == FILE_TYPE_PIPE) flags |= PIPE;
    if (flags == 0) handle = INVALID_HANDLE_VALUE;
    block->bytes[sizeof count + i] = flags;
    std::memcpy(block->bytes + sizeof count + count + i * sizeof handle, &handle, sizeof handle);
  }
}

}  // namespace

void restrictLibrarySearch() {
  using SetDefaultDllDirectoriesCall = BOOL(WINAPI*)(DWORD);
  const FARPROC found =
      GetProcAddress(GetModuleHandleA("kernel32.dll"), "SetDefaultDllDirectories");
  const auto setDefault =
      reinterpret_cast<SetDefaultDllDirectoriesCall>(reinterpret_cast<void*>(found));
  if (setDefault == nullptr || !setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32)) SetDllDirectoryA("");
}

bool runsRestricted() {
  return tokenFact(TokenElevationType, TokenElevationTypeLimited) ||
         tokenFact(TokenVirtualizationEnabled, TRUE);
}

bool runsInSessionZero() {
  DWORD session = 0;
  return ProcessIdToSessionId(GetCurrentProcessId(), &session) && session == 0;
}

unsigned long consoleSession() { return WTSGetActiveConsoleSessionId(); }

long createProcessMutex(const char* name, bool inheritable) {
  SECURITY_ATTRIBUTES attributes{sizeof attributes, nullptr, inheritable ? TRUE : FALSE};
  if (CreateMutexA(&attributes, FALSE, name) == nullptr) return static_cast<long>(GetLastError());
  return GetLastError() == ERROR_ALREADY_EXISTS ? RESULT_ALREADY_EXISTS : RESULT_SUCCESS;
}

unsigned long endStartedProgramsWithProcess() {
  const HANDLE job = CreateJobObjectA(nullptr, nullptr);
  if (job == nullptr) return GetLastError();
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
  limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
  if (SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits) &&
      AssignProcessToJobObject(job, GetCurrentProcess())) {
    return ERROR_SUCCESS;
  }
  const DWORD error = GetLastError();
  CloseHandle(job);
  return error;
}

bool boxesCanBeSeen() {
  USEROBJECTFLAGS flags{};
  DWORD size = 0;
  if (!GetUserObjectInformationA(GetProcessWindowStation(), UOI_FLAGS, &flags, sizeof flags,
                                 &size)) {
    return true;
  }
  return (flags.dwFlags & WSF_VISIBLE) != 0;
}

void writeStandardError(const char* text) {
  const HANDLE output = GetStdHandle(STD_ERROR_HANDLE);
  if (output == nullptr || output == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  WriteFile(output, text, static_cast<DWORD>(std::strlen(text)), &written, nullptr);
  WriteFile(output, "\r\n", 2, &written, nullptr);
}

long openMachineKey(const char* path, unsigned long access, KeyHandle* key) {
  HKEY handle = nullptr;
  const LONG result = RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, access, &handle);
  *key = reinterpret_cast<KeyHandle>(handle);
  return result;
}

long queryValue(KeyHandle key, const char* name, unsigned char* data, unsigned long* size) {
  return RegQueryValueExA(reinterpret_cast<HKEY>(key), name, nullptr, nullptr, data, size);
}

long setValue(KeyHandle key, const char* name, unsigned long type, const unsigned char* data,
              unsigned long size) {
  return RegSetValueExA(reinterpret_cast<HKEY>(key), name, 0, type, data, size);
}

void closeKey(KeyHandle key) { RegCloseKey(reinterpret_cast<HKEY>(key)); }

int messageBox(const char* text, const char* caption, unsigned int type) {
  return MessageBoxA(nullptr, text, caption, type);
}

const char* environmentValue(const char* name) { return std::getenv(name); }

void setEnvironmentValue(const char* name, const char* value) {
  SetEnvironmentVariableA(name, value);
}

bool systemDirectory(char* buffer, unsigned long size) {
  const UINT length = GetSystemDirectoryA(buffer, size);
  return length != 0 && length < size;
}

bool isLeadByte(char byte) { return IsDBCSLeadByte(static_cast<BYTE>(byte)) != FALSE; }

void upperCase(char* text, unsigned long length) { CharUpperBuffA(text, length); }

bool programPath(char* buffer, unsigned long size) {
  const DWORD length = GetModuleFileNameA(nullptr, buffer, size);
  return length != 0 && length < size;
}

bool releaseSeal(unsigned char* digest) {
  unsigned char any = 0;
  for (std::size_t i = 0; i < sizeof RELEASE_SEAL.digest; ++i) {
    digest[i] = RELEASE_SEAL.digest[i];
    any |= digest[i];
  }
  return any != 0;
}

bool processUser(unsigned char* sid, unsigned long size) {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
  union {
    TOKEN_USER user;
    BYTE bytes[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
  } information;
  DWORD length = 0;
  const bool read =
      GetTokenInformation(token, TokenUser, &information, sizeof information, &length) != FALSE;
  CloseHandle(token);
  return read && CopySid(size, sid, information.user.User.Sid) != FALSE;
}

bool volumeFlags(const char* path, unsigned long* flags) {
  char root[MAX_PATH];
  DWORD found = 0;
  if (!GetVolumePathNameA(path, root, sizeof root) ||
      !GetVolumeInformationA(root, nullptr, 0, nullptr, nullptr, &found, nullptr, 0)) {
    return false;
  }
  *flags = found;
  return true;
}

bool fileSecurity(const char* path, unsigned char* descriptor, unsigned long size,
                  unsigned long* length) {
  DWORD needed = 0;
  if (!GetFileSecurityA(path, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, descriptor,
                        size, &needed)) {
    return false;
  }
  *length = descriptorLength(needed, size);
  return true;
}

FileRead readFile(const char* path, FileReading* reading) {
  const DWORD access = FILE_READ_ATTRIBUTES | (reading->descriptor != nullptr ? READ_CONTROL : 0) |
                       (reading->digester != nullptr ? FILE_READ_DATA : 0);
  // A deduplicated or compressed file's bytes are its filter's: the reparse
  // point itself holds a stub.
  const DWORD flags =
      FILE_FLAG_SEQUENTIAL_SCAN | (reading->throughFilter ? 0 : FILE_FLAG_OPEN_REPARSE_POINT);
  const HANDLE file =
      CreateFileA(path, access, FILE_SHARE_READ, nullptr, OPEN_EXISTING, flags, nullptr);
  if (file == INVALID_HANDLE_VALUE) return FileRead::NOT_OPENED;
  FileRead result = FileRead::READ;
  DWORD needed = 0;
  if (reading->descriptor != nullptr &&
      !GetKernelObjectSecurity(file, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                               reading->descriptor, reading->size, &needed)) {
    result = FileRead::SECURITY_UNREADABLE;
  }
  reading->length = descriptorLength(needed, reading->size);
  if (result == FileRead::READ && reading->digester != nullptr) {
    const Streams streams = reading->streams ? streamsOf(file) : Streams::OWN;
    reading->otherStream = streams == Streams::OTHERS;
    if (streams == Streams::UNKNOWN ||
        !hashFile(file, reinterpret_cast<HCRYPTPROV>(reading->digester), reading->digest)) {
      result = FileRead::DATA_UNREADABLE;
    }
  }
  CloseHandle(file);
  return result;
}

bool readWholeFile(const char* path, unsigned char* buffer, unsigned long size,
                   unsigned long* length) {
  const HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  *length = 0;
  DWORD read = 0;
  bool whole = true;
  while (*length < size &&
         (whole = ReadFile(file, buffer + *length, size - *length, &read, nullptr) != FALSE) &&
         read != 0) {
    *length += read;
  }
  CloseHandle(file);
  return whole;
}

bool openDigester(DigesterHandle* digester) {
  // XP SP3 names the same provider as a prototype.
  const char* const names[] = {MS_ENH_RSA_AES_PROV_A,
                               "Microsoft Enhanced RSA and AES Cryptographic Provider (Prototype)"};
  for (const char* name : names) {
    HCRYPTPROV provider = 0;
    if (!CryptAcquireContextA(&provider, nullptr, name, PROV_RSA_AES, CRYPT_VERIFYCONTEXT)) {
      continue;
    }
    HCRYPTHASH hash = 0;
    if (CryptCreateHash(provider, CALG_SHA_256, 0, 0, &hash)) {
      CryptDestroyHash(hash);
      *digester = reinterpret_cast<DigesterHandle>(provider);
      return true;
    }
    CryptReleaseContext(provider, 0);
  }
  return false;
}

void closeDigester(DigesterHandle digester) {
  CryptReleaseContext(reinterpret_cast<HCRYPTPROV>(digester), 0);
}

bool digestOf(DigesterHandle digester, const unsigned char* data, unsigned long length,
              unsigned char* digest) {
  HCRYPTHASH hash = 0;
  if (!CryptCreateHash(reinterpret_cast<HCRYPTPROV>(digester), CALG_SHA_256, 0, 0, &hash)) {
    return false;
  }
  return finishHash(hash, CryptHashData(hash, data, length, 0) != FALSE, digest);
}

bool currentDirectory(char* buffer, unsigned long size) {
  const DWORD length = GetCurrentDirectoryA(size, buffer);
  return length != 0 && length < size;
}

bool fileFacts(const char* path, FileFacts* facts) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExA(path, GetFileExInfoStandard, &data)) return false;
  *facts =
      factsOf(data.dwFileAttributes, data.nFileSizeHigh, data.nFileSizeLow, data.ftLastWriteTime);
  return true;
}

long findFirstFile(const char* pattern, SearchHandle* search, FoundFile* found) {
  WIN32_FIND_DATAA data;
  const HANDLE handle = FindFirstFileA(pattern, &data);
  *search = static_cast<SearchHandle>(handle);
  if (handle == INVALID_HANDLE_VALUE) return static_cast<long>(GetLastError());
  fill(data, found);
  return RESULT_SUCCESS;
}

long findNextFile(SearchHandle search, FoundFile* found) {
  WIN32_FIND_DATAA data;
  if (!FindNextFileA(search, &data)) return static_cast<long>(GetLastError());
  fill(data, found);
  return RESULT_SUCCESS;
}

void findClose(SearchHandle search) { FindClose(search); }

bool canOpenForWriting(const char* path, unsigned long* names) {
  // Opening it for writing is the check that the file can be replaced.
  const HANDLE file = CreateFileA(path, GENERIC_WRITE | FILE_READ_ATTRIBUTES, EVERY_SHARE_MODE,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  // The standard information holds the link count alone, and under Wine costs far less
  // than GetFileInformationByHandle.
  const NtQueryInformationFileCall query = queryInformationFile();
  IO_STATUS_BLOCK status;
  FILE_STANDARD_INFORMATION information;
  *names = query != nullptr && query(file, &status, &information, sizeof information,
                                     FileStandardInformation) >= 0
               ? information.NumberOfLinks
               : 0;
  CloseHandle(file);
  return true;
}

bool reparseTag(const char* path, unsigned long* tag) {
  const HANDLE file =
      CreateFileA(path, 0, EVERY_SHARE_MODE, nullptr, OPEN_EXISTING,
                  FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  // Every reparse point's data begins with its tag; the rest may be up to 16 KiB.
  static_assert(MAXIMUM_REPARSE_DATA_BUFFER_SIZE == 16 * 1024);
  DWORD data[MAXIMUM_REPARSE_DATA_BUFFER_SIZE / sizeof(DWORD)];
  DWORD size = 0;
  const bool read = DeviceIoControl(file, FSCTL_GET_REPARSE_POINT, nullptr, 0, data, sizeof data,
                                    &size, nullptr) &&
                    size >= sizeof data[0];
  CloseHandle(file);
  if (read) *tag = data[0];
  return read;
}

bool volumeSpace(const char* directory, unsigned long long* freeBytes,
                 unsigned long long* clusterBytes) {
  ULARGE_INTEGER available;
  char root[MAX_PATH];
  DWORD sectorsPerCluster = 0, bytesPerSector = 0, freeClusters = 0, clusters = 0;
  if (!GetDiskFreeSpaceExA(directory, &available, nullptr, nullptr) ||
      !GetVolumePathNameA(directory, root, sizeof root) ||
      !GetDiskFreeSpaceA(root, &sectorsPerCluster, &bytesPerSector, &freeClusters, &clusters)) {
    return false;
  }
  *freeBytes = available.QuadPart;
  *clusterBytes = static_cast<unsigned long long>(sectorsPerCluster) * bytesPerSector;
  return true;
}

int runProgram(const char* application, const char* commandLine) {
  char line[1024];  // CreateProcessA may write into the command line
  if (std::snprintf(line, sizeof line, "%s", commandLine) >= static_cast<int>(sizeof line)) {
    return -1;
  }
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  StandardHandles inherited;
  describeStandardHandles(&inherited);
  startup.cbReserved2 = sizeof inherited.bytes;
  startup.lpReserved2 = inherited.bytes;
  PROCESS_INFORMATION process{};
  // As the C library's system starts its interpreter: handles inherited, the
  // standard ones described for the child's C library, and no flags, so that a
  // program without a console gives it a console of its own.
  if (!CreateProcessA(application, line, nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                      &process)) {
    return -1;
  }
  CloseHandle(process.hThread);
  DWORD status = static_cast<DWORD>(-1);
  if (WaitForSingleObject(process.hProcess, INFINITE) != WAIT_OBJECT_0 ||
      !GetExitCodeProcess(process.hProcess, &status)) {
    status = static_cast<DWORD>(-1);
  }
  CloseHandle(process.hProcess);
  return static_cast<int>(status);
}

}  // namespace platform
