// A stand-in for the platform layer: one registry key, a screen of message
// boxes, an environment and a command runner, each scripted by the test and
// each logging the calls that the update makes.
#pragma once

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

inline constexpr char PRODUCT_KEY[] = "Software\\Kestrade\\Lumeric Server\\4.5";

struct FakeBox {
  std::string text;
  std::string caption;
  unsigned int type;
};

// An entry of a file's DACL: the account's SID, the rights, the entry's type and flags.
struct FakeEntry {
  std::string sid;
  unsigned long mask;
  unsigned char type = 0;           // ACCESS_ALLOWED_ACE_TYPE
  unsigned char flags = 0;          // 0x8: inherit-only
  std::size_t applicationData = 0;  // zero bytes after the SID, as a callback entry may carry
};

// A file or folder of the fake's file system.
struct FakeFile {
  std::string path;  // as spelled when it was made
  bool isFolder = false;
  unsigned long long size = 0;
  unsigned long long writeTime = 0;
  unsigned long attributes = 0;             // hidden 0x2, system 0x4, reparse point 0x400
  bool locked = false;                      // read-only, or held open without write sharing
  bool unreadable = false;                  // a folder whose contents cannot be listed
  std::optional<unsigned long> reparseTag;  // unset: it cannot be read
  unsigned long names = 1;                  // hard links to a file; 0: they cannot be counted
  std::string owner = "S-1-5-32-544";       // Administrators
  // Full control for Administrators, read and execute for Users; unset: a NULL DACL.
  std::optional<std::vector<FakeEntry>> dacl =
      std::vector<FakeEntry>{{"S-1-5-32-544", 0x1F01FF}, {"S-1-5-32-545", 0x1200A9}};
  bool securityUnreadable = false;
  std::optional<std::string> descriptor;  // bytes handed over instead of owner and DACL
  std::string content;                    // a file's bytes, which give its digest; copied with it
  bool dataLocked = false;   // held open without read sharing, or blocked by an antivirus
  bool otherStream = false;  // a named data stream beside its own
};

// A program that the update started, with PATH and PATHEXT as it got them.
struct FakeRun {
  std::string application, commandLine, path, extensions;
};

struct FakeWindows {
  // The script.
  bool keyExists = true;
  long openReadError = 0;   // given instead of success when the key is opened for reading
  long openWriteError = 0;  // likewise for writing
  long setError = 0;
  std::map<std::string, std::string> values;  // value name to its raw data bytes
  std::vector<int> answers;                   // box results in turn; IDOK once they run out
  std::optional<std::string> compiler;        // QDXCOMP
  std::vector<int> commandResults;            // the copies' exit codes in turn; 0 once they run out
  unsigned int codePage = 1252;  // or 932, whose lead bytes are 0x81-0x9F and 0xE0-0xFC

  // The file system, keyed by the upper-cased full path. A program started with
  // "... /c xcopy /E /I S "D"" copies as Wine's xcopy does (passing over hidden
  // and system files and locked destinations) unless commandResults scripts it.
  std::map<std::string, FakeFile> files;
  std::string currentDirectory = "C:\\dist";
  unsigned long long freeBytes = 1ULL << 40;
  unsigned long long clusterBytes = 4096;
  bool volumeKnown = true;
  bool memoryExhausted = false;  // realloc and calloc give null (the tests link with --wrap)
  bool memoryRunsOutAtDestinations = false;        // exhausted from the volume's space on
  bool restricted = false;                         // a limited or virtualized token
  bool boxesVisible = true;                        // false on a window station without WSF_VISIBLE
  bool sessionZero = false;                        // the services' session
  unsigned long consoleSession = 1;                // 0 on XP and Server 2003
  long mutexResult = 0;                            // what creating the run's mutex gives
  std::string mutexName;                           // the name it was created with
  std::map<std::string, std::string> environment;  // other variables, by upper-case name
  std::map<std::string, std::string> setForPrograms;  // set by the update, for what it starts
  std::string systemDirectory = "C:\\Windows\\system32";
  std::string programPath = "C:\\dist\\setup.exe";  // made by registerProduct
  std::string user = "S-1-5-21-1-2-3-1001";         // the account that runs setup.exe
  unsigned long volumeFlags = 0x8;                  // FILE_PERSISTENT_ACLS
  std::string seal;            // the 32 bytes that a sealed build carries; empty: an unsealed build
  bool sha256 = true;          // false: Windows cannot compute SHA-256 (XP before SP3)
  int digestersOpen = 0;       // opened less closed
  unsigned long jobError = 0;  // what joining a job gives
  bool mutexInheritable = false;                  // how the run's mutex was made
  std::optional<std::string> copySwitches;        // COPYCMD
  std::string standardError;                      // what the update wrote there
  std::function<void(FakeWindows&)> afterCopies;  // runs after the third command

  // What the update did, in order: "open <path> <access>", "query <name> <size>",
  // "close <handle>", "box <type>", "getenv <name>", "putenv <name>=<value>",
  // "facts <path>", "find <pattern>", "run <application> <line>",
  // "set <name> type=<type> size=<size>".
  std::vector<std::string> calls;
  std::vector<FakeBox> boxes;
  std::vector<FakeRun> runs;
  std::vector<std::string> commands;           // what each run's line gives cmd.exe after /c
  std::map<std::string, std::string> written;  // value name to the bytes set

  // Handles handed out, indexed from 1: the access each was opened with, and
  // whether it is still open.
  std::vector<unsigned long> handleAccess;
  std::vector<bool> handleOpen;
};

// The fake that the platform calls reach; reset by each test's fixture.
FakeWindows& fakeWindows();
void resetFakeWindows();

// Registers the three values as zero-terminated strings, and makes the
// installation and a distribution for the compiler MSVC.
void registerProduct(const std::string& installDir, const std::string& installedNlv,
                     const std::string& serviceLevel);

// Adds a file (size, write time) or, for a path ending in a backslash, a folder,
// with every folder above it; a relative path is below currentDirectory.
FakeFile& addFile(const std::string& path, unsigned long long size = 1,
                  unsigned long long time = 1);

// The fake's SHA-256: 32 bytes that differ for different data.
std::string fakeDigest(const std::string& data);

// The list of released files that the release script would write for the
// distribution in the current directory: a line for every file below its folders.
std::string releasedList();

// Seals the distribution in the current directory as the release script does:
// writes Mendrel2.sha256 for every file below its folders, and gives setup.exe
// that list's digest to carry.
void sealDistribution();

// The entry at path, or null.
FakeFile* findFile(const std::string& path);

// Makes the folder installDir and, in the current directory, a distribution of
// one file in each tree: Common, compilerDir and installedNlv.
void addInstallation(const std::string& installDir, const std::string& compilerDir,
                     const std::string& installedNlv);

// Names that the update queried, in order.
std::vector<std::string> queriedValues();

// True when the update started a program or set a value.
bool touchedInstallation();
