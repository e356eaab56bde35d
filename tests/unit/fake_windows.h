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

#include <gtest/gtest.h>

// Every test of the update starts from an empty fake.
class FakeWindowsTest : public ::testing::Test {
 protected:
  void SetUp() override { resetFakeWindows(); }
  FakeWindows& fake = fakeWindows();
};

// The texts that the user must see, written out independently of the program.
namespace expected {
inline const std::string NOT_INSTALLED =
    "You have not installed Lumeric Server 4.5.\n\nMendrel2 installation cannot continue.";
inline const std::string INSTALL_DIR =
    "Failed to retrieve Install Directory information from Registry.\n\nMendrel2 "
    "installation cannot continue.";
inline const std::string LANGUAGE =
    "Failed to retrieve National Language information from Registry.\n\nMendrel2 "
    "installation cannot continue.";
inline const std::string LEVEL =
    "Failed to retrieve Service Level information from Registry.\n\nMendrel2 installation "
    "cannot continue.";
inline const std::string SAME_LEVEL =
    "The existing Lumeric Server installation level is already Mendrel2.\n\nClick cancel to "
    "exit or OK to continue.";
inline const std::string HIGHER_LEVEL =
    "The existing Lumeric Server installation level is higher than Mendrel2.\n\nIf you are "
    "intending to backlevel to Mendrel2 of version 4.5, please do so by uninstalling "
    "Lumeric Server 4.5 and reinstalling 4.5 + Mendrel2.\n\nIf you continue with this "
    "installation, your product may become unstable due to mismatched levels of code.\n\n"
    "Click cancel to exit or OK to continue.";
inline const std::string NO_COMPILER =
    "The QDXCOMP environment variable, which names the compiler in use, is not set.\n\n"
    "Mendrel2 installation cannot continue.";
inline const std::string BAD_COMPILER =
    "The compiler name in the QDXCOMP environment variable cannot be used to copy files.\n\n"
    "Mendrel2 installation cannot continue.";
inline const std::string COPY_FAILED =
    "Failed to copy the Mendrel2 files into the installation directory.\n\nThe Service Level "
    "has not been changed. Mendrel2 installation did not complete.";
inline const std::string RECORD_FAILED =
    "Failed to record the new Service Level in Registry.\n\nMendrel2 installation did not "
    "complete.";
inline const std::string CAPTION = "Lumeric Server 4.5 Mendrel2";
inline const std::string LEVEL_BYTES("2\0\0\0", 4);
}  // namespace expected
