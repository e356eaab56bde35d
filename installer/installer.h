// Types and identity shared by every stage of the update.
#pragma once

#include <cstddef>

// Product identity, fixed in the program; the names as literals too, so that
// every text is composed from one spelling of them.
#define PRODUCT_NAME_TEXT "Lumeric Server"
#define PRODUCT_VERSION_TEXT "4.5"
#define UPDATE_NAME_TEXT "Mendrel2"
inline constexpr char PRODUCT_NAME[] = PRODUCT_NAME_TEXT;
inline constexpr char PRODUCT_VERSION[] = PRODUCT_VERSION_TEXT;
inline constexpr int UPDATE_LEVEL = 2;
inline constexpr char productCaption[] =
    PRODUCT_NAME_TEXT " " PRODUCT_VERSION_TEXT " " UPDATE_NAME_TEXT;

// Buffer sizes, each counting the terminating zero byte.
inline constexpr std::size_t LONG_VALUE_SIZE = 260;
inline constexpr std::size_t LEVEL_SIZE = 4;
inline constexpr std::size_t COMPOSED_SIZE = 520;

using ComposedText = char[COMPOSED_SIZE];

struct InstallRecord {
  char installDir[LONG_VALUE_SIZE];  // ends in a backslash once read
  char installedNlv[LONG_VALUE_SIZE];
  char serviceLevel[LEVEL_SIZE];
};

// Where the run speaks to the user, learned once at its start.
struct Session {
  bool boxesCanBeSeen;  // false without a screen, as in a service's session
};

// Exit statuses of the run.
inline constexpr int EXIT_UPDATED = 0;
inline constexpr int EXIT_UNCHANGED = 1;  // nothing was copied or written
inline constexpr int EXIT_INCOMPLETE =
    2;  // the installation was touched, the update is not complete
// Windows Installer's "another installation is in progress", which deployment
// tools retry; nothing was copied or written.
inline constexpr int EXIT_RETRY = 1618;

// What a stage gives the run: go on, or stop with the exit status and the
// text for the error box (empty: stop without a message).
struct RunOutcome {
  bool stop;
  int exitStatus;
  ComposedText message;
};

inline constexpr RunOutcome GO_ON{false, EXIT_UPDATED, {}};

// A stop with message (null: none), which fits the buffer.
[[nodiscard]] RunOutcome stopRun(const char* message, int exitStatus = EXIT_UNCHANGED);

// A stop whose message is format with its first %s filled by name and its
// second, if any, by detail. A name too long for the buffer is shortened from
// its start, on a character boundary, behind "...".
[[nodiscard]] RunOutcome stopRunNaming(const char* format, const char* name,
                                       int exitStatus = EXIT_UNCHANGED, const char* detail = "");

// The folder of one payload tree in the distribution, and the subfolder of the
// installation directory that it lands in (empty: the directory itself).
struct PayloadTree {
  const char* source;
  const char* subfolder;
};

// The three trees in the order of their copies: Common, the compiler's, the language's.
using PayloadTrees = PayloadTree[3];
