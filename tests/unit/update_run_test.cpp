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

// The rights are checked before the question; the read key is closed before the
// first copy and the level is written through a handle of its own after the
// last; the copies find cmd.exe through COMSPEC, set to the system's where it is
// not a full path to a file. Each destination folder is read once before the
// copies, unless it does not exist yet, and once after.
TEST_F(UpdateRunTest, CompleteRunCallsThePlatformInOrder) {
  const string processor = " Software\\Microsoft\\Command Processor 0x20019";
  const std::vector<string> readAndGate = {
      "open Software\\Kestrade\\Lumeric Server\\4.5 0x20019",
      "open HKEY_CURRENT_USER\\" + processor.substr(1),
      "open" + processor,
      "query InstallDir 260",
      "query Installed NLV 260",
      "query ServiceLevel 4",
      "open Software\\Kestrade\\Lumeric Server\\4.5 0x20006",
      "close 2",
  };
  const std::vector<string> closeAndDeploy = {
      "close 1",
      "getenv QDXCOMP",
      "getenv PATHEXT",
      "find C:\\dist\\*",
      "open" + processor,
      "open HKEY_CURRENT_USER\\" + processor.substr(1),
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
  const string systemCmd = "putenv COMSPEC=C:\\Windows\\system32\\cmd.exe";
  const struct {
    const char* level;
    bool asks;
    std::optional<string> comspec;
    std::vector<string> interpreterCalls;
  } rows[] = {
      {"GA", false, std::nullopt, {systemCmd}},
      {"2", true, "D:\\tcc\\tcc.exe", {"facts D:\\tcc\\tcc.exe"}},
      {"GA", false, "", {systemCmd}},
      {"GA", false, "cmd.exe", {systemCmd}},
      {"GA", false, "D:\\gone.exe", {"facts D:\\gone.exe", systemCmd}},
      {"GA", false, "D:\\tcc", {"facts D:\\tcc", systemCmd}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.comspec.value_or(row.level));
    resetFakeWindows();
    registerProduct("C:\\Lumeric", "EN", row.level);
    addFile("D:\\tcc\\tcc.exe");
    fake.compiler = "MSVC";
    if (row.comspec) fake.environment["COMSPEC"] = *row.comspec;
    std::vector<string> calls = readAndGate;
    if (row.asks) calls.push_back("box 0x131");
    calls.insert(calls.end(), closeAndDeploy.begin(), closeAndDeploy.end());
    calls.insert(std::find(calls.begin(), calls.end(), "getenv COMSPEC") + 1,
                 row.interpreterCalls.begin(), row.interpreterCalls.end());
    EXPECT_EQ(runUpdate(), 0);
    EXPECT_EQ(fake.calls, calls);
    EXPECT_EQ(fake.written["ServiceLevel"], expected::LEVEL_BYTES);
    EXPECT_EQ(fake.mutexName, "Global\\Lumeric Server 4.5 Mendrel2");
  }
}

}  // namespace
