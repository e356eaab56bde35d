// The run as a whole: the order of every call into the platform.
#include "installer/update_run.h"

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "tests/unit/test_support.h"

namespace {

using std::string;

class UpdateRunTest : public FakeWindowsTest {};

// The read key is closed before the first copy and the level is written through
// a handle of its own after the last; the copies find cmd.exe through COMSPEC,
// set to the system's where it is unset or empty. Each destination folder is
// read once before the copies, unless it does not exist yet, and once after.
TEST_F(UpdateRunTest, CompleteRunCallsThePlatformInOrder) {
  const std::vector<string> readAndGate = {
      "open Software\\Kestrade\\Lumeric Server\\4.5 0x20019",
      "query InstallDir 260",
      "query Installed NLV 260",
      "query ServiceLevel 4",
  };
  const std::vector<string> closeAndDeploy = {
      "close 1",
      "getenv QDXCOMP",
      "open Software\\Kestrade\\Lumeric Server\\4.5 0x20006",
      "close 2",
      "getenv PATHEXT",
      "find C:\\dist\\*",
      "facts C:\\Lumeric\\",
      "facts Common",
      "facts MS60",
      "facts EN",
      "find Common\\*",
      "find MS60\\*",
      "find EN\\*",
      "find C:\\Lumeric\\*",
      "putenv NoDefaultCurrentDirectoryInExePath=1",
      "getenv COMSPEC",
      R"(system xcopy /E /I Common "C:\Lumeric\")",
      R"(system xcopy /E /I MS60 "C:\Lumeric\MS60")",
      R"(system xcopy /E /I EN "C:\Lumeric\")",
      "find C:\\Lumeric\\*",
      "find C:\\Lumeric\\MS60\\*",
      "open Software\\Kestrade\\Lumeric Server\\4.5 0x20006",
      "set ServiceLevel type=1 size=4",
      "close 3",
  };
  const struct {
    const char* level;
    bool asks;
    std::optional<string> comspec;
  } rows[] = {{"GA", false, std::nullopt}, {"2", true, "D:\\tcc\\tcc.exe"}, {"GA", false, ""}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.level);
    resetFakeWindows();
    registerProduct("C:\\Lumeric", "EN", row.level);
    fake.compiler = "MSVC";
    if (row.comspec) fake.environment["COMSPEC"] = *row.comspec;
    std::vector<string> calls = readAndGate;
    if (row.asks) calls.push_back("box 0x131");
    calls.insert(calls.end(), closeAndDeploy.begin(), closeAndDeploy.end());
    if (row.comspec.value_or("").empty()) {
      calls.insert(std::find(calls.begin(), calls.end(), "getenv COMSPEC") + 1,
                   "putenv COMSPEC=C:\\Windows\\system32\\cmd.exe");
    }
    EXPECT_EQ(runUpdate(), 0);
    EXPECT_EQ(fake.calls, calls);
    EXPECT_EQ(fake.written["ServiceLevel"], expected::LEVEL_BYTES);
    EXPECT_EQ(fake.mutexName, "Global\\Lumeric Server 4.5 Mendrel2");
  }
}

}  // namespace
