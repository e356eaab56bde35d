// The run as a whole: the order of every call into the platform.
#include "installer/update_run.h"

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "tests/unit/test_support.h"

namespace {

using std::string;

class UpdateRunTest : public FakeWindowsTest {};

// The rights are checked before the question; the read key is closed before the
// first copy and the level is written through a handle of its own after the
// last. The copies start the system folder's cmd.exe by its full path, whatever
// COMSPEC, PATH or PATHEXT say, and find only the system's programs. Each
// destination folder is read once before the copies, unless it does not exist
// yet, and once after. The copies are started in a job that ends them with the run.
TEST_F(UpdateRunTest, CompleteRunCallsThePlatformInOrder) {
  const std::vector<string> readAndGate = {
      "open Software\\Kestrade\\Lumeric Server\\4.5 0x20019",
      "query InstallDir 260",
      "query Installed NLV 260",
      "query ServiceLevel 4",
      "open Software\\Kestrade\\Lumeric Server\\4.5 0x20006",
      "close 2",
  };
  const auto closeAndDeploy = [](const string& system) {
    const string run = "run " + system + "\\cmd.exe \"" + system + "\\cmd.exe\" /d /v:off /c ";
    return std::vector<string>{
        "close 1",
        "getenv QDXCOMP",
        "putenv PATH=" + system,
        "putenv PATHEXT=.COM;.EXE;.BAT;.CMD",
        "putenv NoDefaultCurrentDirectoryInExePath=1",
        "find C:\\dist\\*",
        "facts Common",
        "facts MS60",
        "facts EN",
        "find Common\\*",  // one walk of the trees, judged before the installation
        "find MS60\\*",
        "find EN\\*",
        "facts C:\\Lumeric\\",
        "find C:\\Lumeric\\*",
        "job",
        run + R"(xcopy /E /I Common "C:\Lumeric\")",
        run + R"(xcopy /E /I MS60 "C:\Lumeric\MS60")",
        run + R"(xcopy /E /I EN "C:\Lumeric\")",
        "find C:\\Lumeric\\*",
        "find C:\\Lumeric\\MS60\\*",
        "open Software\\Kestrade\\Lumeric Server\\4.5 0x20006",
        "set ServiceLevel type=1 size=4",
        "close 3",
    };
  };
  const string windows = "C:\\Windows\\system32";
  const struct {
    const char* name;
    const char* level;
    std::map<string, string> environment;
    string systemDirectory;
  } rows[] = {
      {"GA", "GA", {}, windows},
      {"a re-apply asks first", "2", {}, windows},
      {"a COMSPEC of the user's", "GA", {{"COMSPEC", "D:\\tcc\\tcc.exe"}}, windows},
      {"the 64-bit cmd.exe", "GA", {{"COMSPEC", "C:\\Windows\\Sysnative\\cmd.exe"}}, windows},
      {"a folder on PATH before the system's",
       "GA",
       {{"PATH", "C:\\Tools;C:\\Windows\\system32"}, {"PATHEXT", ".PS1;.EXE"}},
       windows},
      {"Windows 2000's system folder", "GA", {}, "D:\\WINNT\\system32"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    resetFakeWindows();
    registerProduct("C:\\Lumeric", "EN", row.level);
    fake.compiler = "MSVC";
    fake.environment = row.environment;
    fake.systemDirectory = row.systemDirectory;
    std::vector<string> calls = readAndGate;
    if (string(row.level) == "2") calls.push_back("box 0x131");
    const std::vector<string> deploy = closeAndDeploy(row.systemDirectory);
    calls.insert(calls.end(), deploy.begin(), deploy.end());
    EXPECT_EQ(runUpdate(), 0);
    EXPECT_EQ(fake.calls, calls);
    ASSERT_EQ(fake.runs.size(), 3u);
    for (const FakeRun& run : fake.runs) {
      EXPECT_EQ(run.application, row.systemDirectory + "\\cmd.exe");
      EXPECT_EQ(run.path, row.systemDirectory);
      EXPECT_EQ(run.extensions, ".COM;.EXE;.BAT;.CMD");
    }
    EXPECT_EQ(fake.written["ServiceLevel"], expected::LEVEL_BYTES);
    EXPECT_EQ(fake.mutexName, "Global\\Lumeric Server 4.5 Mendrel2");
    EXPECT_TRUE(fake.mutexInheritable) << "a copy that outlives the run keeps its name";
  }
}

}  // namespace
