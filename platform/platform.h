// The thin layer between the update and Windows. Each function forwards to the
// Win32 or C library call that its comment names; the unit tests link a fake.
#pragma once

namespace platform {

// Handles of their own types, so that one cannot be passed where the other belongs.
struct OpenKey;
struct OpenSearch;
struct OpenDigester;
using KeyHandle = OpenKey*;            // HKEY
using SearchHandle = OpenSearch*;      // the HANDLE of FindFirstFileA
using DigesterHandle = OpenDigester*;  // an HCRYPTPROV

// Values of the Windows constants that the update passes or compares, kept
// here so that the update's logic compiles without <windows.h>.
inline constexpr long RESULT_SUCCESS = 0;               // ERROR_SUCCESS
inline constexpr unsigned long ACCESS_READ = 0x20019;   // KEY_READ
inline constexpr unsigned long ACCESS_WRITE = 0x20006;  // KEY_WRITE
inline constexpr unsigned long TYPE_STRING = 1;         // REG_SZ
inline constexpr unsigned int BOX_ERROR = 0x10;         // MB_ICONERROR
inline constexpr unsigned int BOX_CONFIRM = 0x131;  // MB_OKCANCEL | MB_ICONWARNING | MB_DEFBUTTON2
inline constexpr int ANSWER_OK = 1;                 // IDOK
inline constexpr long RESULT_FILE_NOT_FOUND = 2;    // ERROR_FILE_NOT_FOUND
inline constexpr long RESULT_PATH_NOT_FOUND = 3;    // ERROR_PATH_NOT_FOUND
inline constexpr long RESULT_NO_MORE_FILES = 18;    // ERROR_NO_MORE_FILES
inline constexpr long RESULT_ALREADY_EXISTS = 183;  // ERROR_ALREADY_EXISTS
inline constexpr unsigned long ATTRIBUTE_READONLY = 0x1;         // FILE_ATTRIBUTE_READONLY
inline constexpr unsigned long ATTRIBUTE_HIDDEN = 0x2;           // FILE_ATTRIBUTE_HIDDEN
inline constexpr unsigned long ATTRIBUTE_SYSTEM = 0x4;           // FILE_ATTRIBUTE_SYSTEM
inline constexpr unsigned long ATTRIBUTE_FOLDER = 0x10;          // FILE_ATTRIBUTE_DIRECTORY
inline constexpr unsigned long ATTRIBUTE_REPARSE_POINT = 0x400;  // FILE_ATTRIBUTE_REPARSE_POINT
inline constexpr unsigned long VOLUME_PERSISTENT_ACLS = 0x8;     // FILE_PERSISTENT_ACLS
inline constexpr unsigned long VOLUME_READ_ONLY = 0x80000;       // FILE_READ_ONLY_VOLUME
// The bit that IsReparseTagNameSurrogate tests: symbolic links, junctions, mount points.
inline constexpr unsigned long REPARSE_TAG_NAME_SURROGATE = 0x20000000;

// What the file system tells of a file or a folder.
struct FileFacts {
  unsigned long attributes;
  unsigned long long size;       // in bytes
  unsigned long long writeTime;  // last write, in 100-ns ticks since 1601
};

// True when facts are a folder's.
inline bool describesFolder(const FileFacts& facts) {
  return (facts.attributes & ATTRIBUTE_FOLDER) != 0;
}

// A name found in a folder, with its facts.
struct FoundFile {
  char name[260];
  FileFacts facts;
};

// SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32) where Windows has it, else
// SetDllDirectoryA(""): no DLL is looked for in the current folder or, with the
// first, in the program's own.
void restrictLibrarySearch();

// GetTokenInformation(TokenElevationType, TokenVirtualizationEnabled): true when the
// process runs with a limited (filtered) token or with UAC virtualization; false
// where Windows cannot tell.
[[nodiscard]] bool runsRestricted();

// ProcessIdToSessionId(GetCurrentProcessId()): true in session 0, where services
// run; false where Windows cannot tell.
[[nodiscard]] bool runsInSessionZero();

// WTSGetActiveConsoleSessionId(): the session attached to the physical console;
// 0xFFFFFFFF while none is.
[[nodiscard]] unsigned long consoleSession();

// CreateMutexA(handle inherited by programs started with inherited handles, or
// not, FALSE, name), the handle kept until the process ends: 0,
// RESULT_ALREADY_EXISTS when the mutex existed, or the error code.
[[nodiscard]] long createProcessMutex(const char* name, bool inheritable);

// CreateJobObjectA(null, null) limited to JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE and
// AssignProcessToJobObject(GetCurrentProcess()), its handle kept until the process
// ends: 0 when every program this process starts from now on ends with it; the
// error code, with the job closed, where Windows refused a step.
[[nodiscard]] unsigned long endStartedProgramsWithProcess();

// GetUserObjectInformationA(GetProcessWindowStation(), UOI_FLAGS): false when the
// window station lacks WSF_VISIBLE (a service's), so that no box would be seen;
// true where Windows cannot tell.
[[nodiscard]] bool boxesCanBeSeen();

// WriteFile(GetStdHandle(STD_ERROR_HANDLE)) of text and CR LF; nothing when the
// process has no standard error.
void writeStandardError(const char* text);

// RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, access): 0 with *key set, or the error code.
[[nodiscard]] long openMachineKey(const char* path, unsigned long access, KeyHandle* key);

// RegQueryValueExA(key, name, null, null, data, size): *size holding the buffer's
// size on entry and the data's size on return; 0, or the error code.
[[nodiscard]] long queryValue(KeyHandle key, const char* name, unsigned char* data,
                              unsigned long* size);

// RegSetValueExA(key, name, 0, type, data, size): 0, or the error code.
[[nodiscard]] long setValue(KeyHandle key, const char* name, unsigned long type,
                            const unsigned char* data, unsigned long size);

// RegCloseKey(key). Nothing useful can be done when it fails.
void closeKey(KeyHandle key);

// MessageBoxA(null, text, caption, type): the button chosen, or a value that names no
// button (0, or -1 under Wine without a display) when no box could be shown.
int messageBox(const char* text, const char* caption, unsigned int type);

// getenv(name): the value, or null when the variable is not set.
[[nodiscard]] const char* environmentValue(const char* name);

// SetEnvironmentVariableA(name, value): the variable for every program this process
// starts; environmentValue, the C library's copy, does not see it.
void setEnvironmentValue(const char* name, const char* value);

// GetSystemDirectoryA(size, buffer): true when the whole path fit buffer.
[[nodiscard]] bool systemDirectory(char* buffer, unsigned long size);

// IsDBCSLeadByte(byte): true when byte begins a double-byte character in the
// ANSI code page, so that the byte after it is part of the same character.
[[nodiscard]] bool isLeadByte(char byte);

// CharUpperBuffA(text, length): text in upper case, as Windows compares file names.
void upperCase(char* text, unsigned long length);

// GetModuleFileNameA(null, buffer, size): true when the whole path of this program fit buffer.
[[nodiscard]] bool programPath(char* buffer, unsigned long size);

// The 32 bytes that scripts/seal_release.py wrote into this program's image, read
// from the image as loaded: true with digest set to them; false for a build that
// was never sealed (all zero).
[[nodiscard]] bool releaseSeal(unsigned char* digest);

// GetTokenInformation(TokenUser): true with the SID of the account that runs this
// process copied into sid, of size bytes.
[[nodiscard]] bool processUser(unsigned char* sid, unsigned long size);

// GetVolumePathNameA(path) and GetVolumeInformationA on that root: true with
// *flags set to its file system's flags (VOLUME_...).
[[nodiscard]] bool volumeFlags(const char* path, unsigned long* flags);

// GetFileSecurityA(path, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
// descriptor, size, length): true with the self-relative security descriptor of
// the file or folder in descriptor, of *length bytes; false when it cannot be
// read or is larger than size.
[[nodiscard]] bool fileSecurity(const char* path, unsigned char* descriptor, unsigned long size,
                                unsigned long* length);

// How readFile went.
enum class FileRead {
  READ,                 // all that was asked for
  NOT_OPENED,           // the file could not be opened with the access asked for
  SECURITY_UNREADABLE,  // its owner and DACL could not be read, or exceed size
  DATA_UNREADABLE,      // its streams or its bytes could not be read
};

// What readFile reads of a file, and what it found.
struct FileReading {
  unsigned char* descriptor = nullptr;  // for its owner and DACL; null: not read
  unsigned long size = 0;               // descriptor's size
  DigesterHandle digester = nullptr;    // for the SHA-256 of its bytes; null: not read
  bool streams = false;                 // whether it holds data streams beside its own
  bool throughFilter = false;  // its bytes as a deduplicated or compressed file's filter gives them
  unsigned long length = 0;    // the descriptor's own length
  unsigned char digest[32] = {};
  bool otherStream = false;  // a named data stream other than Zone.Identifier
};

// CreateFileA(path, FILE_READ_ATTRIBUTES, with READ_CONTROL where a descriptor and
// FILE_READ_DATA where a digester is given, FILE_SHARE_READ, OPEN_EXISTING,
// FILE_FLAG_SEQUENTIAL_SCAN, and FILE_FLAG_OPEN_REPARSE_POINT unless throughFilter),
// and on that one handle: GetKernelObjectSecurity(OWNER | DACL), ntdll's
// NtQueryInformationFile(FileStreamInformation) where streams are asked for, and
// CryptoAPI's SHA-256 of its bytes, read in blocks of 64 KiB.
[[nodiscard]] FileRead readFile(const char* path, FileReading* reading);

// CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING) and ReadFile to
// its end or size bytes: true with the *length bytes read in buffer.
[[nodiscard]] bool readWholeFile(const char* path, unsigned char* buffer, unsigned long size,
                                 unsigned long* length);

// CryptAcquireContextA(MS_ENH_RSA_AES_PROV, else XP SP3's prototype of it,
// PROV_RSA_AES, CRYPT_VERIFYCONTEXT), asked for by name since another vendor's
// provider may be the type's default: true with *digester set where it computes
// SHA-256 (CALG_SHA_256).
[[nodiscard]] bool openDigester(DigesterHandle* digester);

// CryptReleaseContext(digester).
void closeDigester(DigesterHandle digester);

// CryptCreateHash(CALG_SHA_256), CryptHashData(data, length) and
// CryptGetHashParam(HP_HASHVAL): true with the SHA-256 of data in digest (32 bytes).
[[nodiscard]] bool digestOf(DigesterHandle digester, const unsigned char* data,
                            unsigned long length, unsigned char* digest);

// GetCurrentDirectoryA(size, buffer): true when the whole path fit buffer.
[[nodiscard]] bool currentDirectory(char* buffer, unsigned long size);

// GetFileAttributesExA(path, GetFileExInfoStandard): true with *facts set, false
// when nothing can be read at path.
[[nodiscard]] bool fileFacts(const char* path, FileFacts* facts);

// FindFirstFileA(pattern): 0 with *search and *found set, or the error code.
[[nodiscard]] long findFirstFile(const char* pattern, SearchHandle* search, FoundFile* found);

// FindNextFileA(search): 0 with *found set, RESULT_NO_MORE_FILES after the last, or the error code.
[[nodiscard]] long findNextFile(SearchHandle search, FoundFile* found);

// FindClose(search).
void findClose(SearchHandle search);

// CreateFileA(path, GENERIC_WRITE | FILE_READ_ATTRIBUTES, every share mode,
// OPEN_EXISTING) and ntdll's NtQueryInformationFile(FileStandardInformation) on it,
// closed at once: true when the existing file can be opened for writing, with
// *names set to its number of links (0 where the query failed). Changes nothing.
[[nodiscard]] bool canOpenForWriting(const char* path, unsigned long* names);

// CreateFileA(path, 0, every share mode, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT |
// FILE_FLAG_BACKUP_SEMANTICS) and DeviceIoControl(FSCTL_GET_REPARSE_POINT): true
// with *tag set to the reparse tag of the file or folder at path itself.
[[nodiscard]] bool reparseTag(const char* path, unsigned long* tag);

// GetDiskFreeSpaceExA(directory) and GetDiskFreeSpaceA on its volume's root:
// true with the bytes free to the caller and the cluster size.
[[nodiscard]] bool volumeSpace(const char* directory, unsigned long long* freeBytes,
                               unsigned long long* clusterBytes);

// CreateProcessA(application, commandLine, handles inherited, no flags, this
// process's environment and folder), with the standard handles in lpReserved2
// as the C library's system passes them, waited for: its exit code, or -1 when
// it could not be started or commandLine is 1024 characters or longer.
[[nodiscard]] int runProgram(const char* application, const char* commandLine);

}  // namespace platform
