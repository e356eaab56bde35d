// The thin layer between the update and Windows. Each function forwards to the
// Win32 or C library call that its comment names; the unit tests link a fake.
#pragma once

namespace platform {

// Handles of their own types, so that one cannot be passed where the other belongs.
struct OpenKey;
struct OpenSearch;
using KeyHandle = OpenKey*;        // HKEY
using SearchHandle = OpenSearch*;  // the HANDLE of FindFirstFileA

// Values of the Windows constants that the update passes or compares, kept
// here so that the update's logic compiles without <windows.h>.
inline constexpr long RESULT_SUCCESS = 0;               // ERROR_SUCCESS
inline constexpr unsigned long ACCESS_READ = 0x20019;   // KEY_READ
inline constexpr unsigned long ACCESS_WRITE = 0x20006;  // KEY_WRITE
inline constexpr unsigned long TYPE_STRING = 1;         // REG_SZ
inline constexpr unsigned long TYPE_EXPANDABLE = 2;     // REG_EXPAND_SZ
inline constexpr unsigned long TYPE_NUMBER = 4;         // REG_DWORD
inline constexpr unsigned int BOX_ERROR = 0x10;         // MB_ICONERROR
inline constexpr unsigned int BOX_CONFIRM = 0x131;  // MB_OKCANCEL | MB_ICONWARNING | MB_DEFBUTTON2
inline constexpr int ANSWER_OK = 1;                 // IDOK
inline constexpr long RESULT_FILE_NOT_FOUND = 2;    // ERROR_FILE_NOT_FOUND
inline constexpr long RESULT_PATH_NOT_FOUND = 3;    // ERROR_PATH_NOT_FOUND
inline constexpr long RESULT_NO_MORE_FILES = 18;    // ERROR_NO_MORE_FILES
inline constexpr long RESULT_ALREADY_EXISTS = 183;  // ERROR_ALREADY_EXISTS
inline constexpr long RESULT_MORE_DATA = 234;       // ERROR_MORE_DATA
inline constexpr unsigned long ATTRIBUTE_READONLY = 0x1;  // FILE_ATTRIBUTE_READONLY
inline constexpr unsigned long ATTRIBUTE_HIDDEN = 0x2;    // FILE_ATTRIBUTE_HIDDEN
inline constexpr unsigned long ATTRIBUTE_SYSTEM = 0x4;    // FILE_ATTRIBUTE_SYSTEM
inline constexpr unsigned long ATTRIBUTE_FOLDER = 0x10;   // FILE_ATTRIBUTE_DIRECTORY

// The registry's roots that the update reads below.
enum class Root {
  machine,  // HKEY_LOCAL_MACHINE
  user,     // HKEY_CURRENT_USER
};

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

// CreateMutexA(null, FALSE, name), the handle kept until the process ends: 0,
// RESULT_ALREADY_EXISTS when the mutex existed, or the error code.
[[nodiscard]] long createProcessMutex(const char* name);

// GetUserObjectInformationA(GetProcessWindowStation(), UOI_FLAGS): false when the
// window station lacks WSF_VISIBLE (a service's), so that no box would be seen;
// true where Windows cannot tell.
[[nodiscard]] bool boxesCanBeSeen();

// WriteFile(GetStdHandle(STD_ERROR_HANDLE)) of text and CR LF; nothing when the
// process has no standard error.
void writeStandardError(const char* text);

// RegOpenKeyExA(root, path, 0, access): 0 with *key set, or the error code.
[[nodiscard]] long openKey(Root root, const char* path, unsigned long access, KeyHandle* key);

// RegQueryValueExA(key, name, null, type, data, size): *type (where type is not
// null) set to the value's type, *size holding the buffer's size on entry and
// the data's size on return; 0, or the error code.
[[nodiscard]] long queryValue(KeyHandle key, const char* name, unsigned long* type,
                              unsigned char* data, unsigned long* size);

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

// _putenv("name=value"): the variable for this process and every program it starts.
void setEnvironmentValue(const char* name, const char* value);

// GetSystemDirectoryA(size, buffer): true when the whole path fit buffer.
[[nodiscard]] bool systemDirectory(char* buffer, unsigned long size);

// IsDBCSLeadByte(byte): true when byte begins a double-byte character in the
// ANSI code page, so that the byte after it is part of the same character.
[[nodiscard]] bool isLeadByte(char byte);

// CharUpperBuffA(text, length): text in upper case, as Windows compares file names.
void upperCase(char* text, unsigned long length);

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

// CreateFileA(path, GENERIC_WRITE, every share mode, OPEN_EXISTING) closed at
// once: true when the existing file can be opened for writing. Changes nothing.
[[nodiscard]] bool canOpenForWriting(const char* path);

// GetDiskFreeSpaceExA(directory) and GetDiskFreeSpaceA on its volume's root:
// true with the bytes free to the caller and the cluster size.
[[nodiscard]] bool volumeSpace(const char* directory, unsigned long long* freeBytes,
                               unsigned long long* clusterBytes);

// system(commandLine): the command interpreter's exit status, -1 when none could be started.
[[nodiscard]] int runCommand(const char* commandLine);

}  // namespace platform
