// A stand-in for the platform layer: one registry key, a screen of message
// boxes, an environment and a command runner, each scripted by the test and
// each logging the calls that the update makes.
#pragma once

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

struct FakeWindows {
  // The script.
  bool keyExists = true;
  long openReadError = 0;   // given instead of success when the key is opened for reading
  long openWriteError = 0;  // likewise for writing
  long setError = 0;
  std::map<std::string, std::string> values;  // value name to its raw data bytes
  std::vector<int> answers;                   // box results in turn; IDOK once they run out
  std::optional<std::string> compiler;        // QDXCOMP
  std::vector<int> commandResults;            // system() results in turn; 0 once they run out
  unsigned int codePage = 1252;  // or 932, whose lead bytes are 0x81-0x9F and 0xE0-0xFC

  // What the update did, in order: "open <path> <access>", "query <name> <size>",
  // "close <handle>", "box <type>", "getenv <name>", "system <line>",
  // "set <name> type=<type> size=<size>".
  std::vector<std::string> calls;
  std::vector<FakeBox> boxes;
  std::vector<std::string> commands;
  std::map<std::string, std::string> written;  // value name to the bytes set

  // Handles handed out, indexed from 1: the access each was opened with, and
  // whether it is still open.
  std::vector<unsigned long> handleAccess;
  std::vector<bool> handleOpen;
};

// The fake that the platform calls reach; reset by each test's fixture.
FakeWindows& fakeWindows();
void resetFakeWindows();

// Registers the three values as zero-terminated strings.
void registerProduct(const std::string& installDir, const std::string& installedNlv,
                     const std::string& serviceLevel);

// Names that the update queried, in order.
std::vector<std::string> queriedValues();

// True when the update ran a command or opened the key for writing.
bool touchedInstallation();
