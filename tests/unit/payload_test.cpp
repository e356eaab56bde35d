// Deploying the payload: the command lines byte for byte, the checks made before
// the first copy, and what the copies' results mean for the level and the status.
#include <string>
#include <vector>

#include "installer/update_run.h"
#include "tests/unit/test_support.h"

namespace {

using std::string;
using Commands = std::vector<string>;

class PayloadTest : public FakeWindowsTest {
 protected:
  // A fresh fake with the product registered at GA and QDXCOMP as given.
  void prepare(const string& installDir, const string& installedNlv, std::optional<string> compiler,
               unsigned int codePage = 1252) {
    resetFakeWindows();
    fake.codePage = codePage;
    registerProduct(installDir, installedNlv, "GA");
    if (compiler && *compiler != "MSVC") addFile(*compiler + "\\compiler.dat");
    fake.compiler = std::move(compiler);
  }

  int runWith(const string& installDir, const string& installedNlv,
              std::optional<string> compiler) {
    prepare(installDir, installedNlv, std::move(compiler));
    return runUpdate();
  }
};

TEST_F(PayloadTest, CommandLinesQuoteOnlyTheDestinations) {
  const struct {
    const char* name;
    string installDir, installedNlv, compiler;
    Commands commands;
    unsigned int codePage = 1252;
  } rows[] = {
      {"MSVC ships as MS60",
       "C:\\Lumeric\\",
       "EN",
       "MSVC",
       {R"(xcopy /E /I Common "C:\Lumeric\")", R"(xcopy /E /I MS60 "C:\Lumeric\MS60")",
        R"(xcopy /E /I EN "C:\Lumeric\")"}},
      {"msvc is another name",
       "C:\\Lumeric\\",
       "EN",
       "msvc",
       {R"(xcopy /E /I Common "C:\Lumeric\")", R"(xcopy /E /I msvc "C:\Lumeric\msvc")",
        R"(xcopy /E /I EN "C:\Lumeric\")"}},
      {"MS60 as it stands",
       "D:\\Apps\\Lumeric",
       "FR",
       "MS60",
       {R"(xcopy /E /I Common "D:\Apps\Lumeric\")", R"(xcopy /E /I MS60 "D:\Apps\Lumeric\MS60")",
        R"(xcopy /E /I FR "D:\Apps\Lumeric\")"}},
      {"only the destination may hold a space",
       "C:\\Program Files\\L\\",
       "EN",
       "MS60",
       {R"(xcopy /E /I Common "C:\Program Files\L\")",
        R"(xcopy /E /I MS60 "C:\Program Files\L\MS60")",
        R"(xcopy /E /I EN "C:\Program Files\L\")"}},
      {"932: double-byte names whose trail bytes are 0x5C, 0x5E and 0x7C",
       "C:\\T2\\Lum\x95\\",
       "\x83|",
       "\x83^",
       {"xcopy /E /I Common \"C:\\T2\\Lum\x95\\\\\"",
        "xcopy /E /I \x83^ \"C:\\T2\\Lum\x95\\\\\x83^\"",
        "xcopy /E /I \x83| \"C:\\T2\\Lum\x95\\\\\""},
       932},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    prepare(row.installDir, row.installedNlv, row.compiler, row.codePage);
    EXPECT_EQ(runUpdate(), 0);
    EXPECT_EQ(fake.commands, row.commands);
    EXPECT_TRUE(fake.boxes.empty());
  }
}

TEST_F(PayloadTest, UnusableCompilerStopsBeforeAnyCopy) {
  // "C:\Lu\" leaves room for a compiler name of 249 characters: 15 + 2 * 249 + 6 = 519.
  const string installDir = "C:\\Lu\\";
  struct Row {
    string name;
    std::optional<string> compiler;
    string message;
    unsigned int codePage = 1252;
  };
  std::vector<Row> rows = {
      {"not set", std::nullopt, expected::NO_COMPILER},
      {"empty", "", expected::NO_COMPILER},
      {"control character", "MS\t60", expected::BAD_COMPILER},
      {"a space", "Visual C", expected::BAD_COMPILER},
      {"0x01", "MS\x01", expected::BAD_COMPILER},
      {"0x1F", "MS\x1f", expected::BAD_COMPILER},
      {"932: a bar", "MS|60", expected::BAD_COMPILER, 932},
      {"932: ending in a lone lead byte", "MS60\x83", expected::BAD_COMPILER, 932},
      {"second command of 521 characters", string(250, 'c'), expected::BAD_COMPILER},
  };
  for (const char special : string("\"&|<>^")) {
    rows.push_back(
        {string("contains ") + special, string("MS60") + special + "x", expected::BAD_COMPILER});
  }
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    prepare(installDir, "EN", row.compiler, row.codePage);
    EXPECT_EQ(runUpdate(), 1);
    ASSERT_EQ(fake.boxes.size(), 1u);
    EXPECT_EQ(fake.boxes[0].text, row.message);
    EXPECT_EQ(fake.boxes[0].type, 0x10u);
    EXPECT_FALSE(touchedInstallation());
  }

  // An empty compiler tree, whose folder's path of 255 characters is short enough.
  prepare(installDir, "EN", string(249, 'c'));
  fake.files.erase(string("C:\\DIST\\") + string(249, 'C') + "\\COMPILER.DAT");
  EXPECT_EQ(runUpdate(), 0);
  ASSERT_EQ(fake.commands.size(), 3u);
  EXPECT_EQ(fake.commands[1].size(), 519u);
}

TEST_F(PayloadTest, LevelIsRecordedOnlyWhenEveryCopySucceeded) {
  const struct {
    const char* name;
    std::vector<int> results;
    int status;
    string message;
  } rows[] = {
      {"all copied", {0, 0, 0}, 0, ""},
      {"nothing to copy is no failure", {1, 1, 1}, 0, ""},
      {"compiler payload missing", {0, 4, 0}, 2, expected::COPY_FAILED},
      {"first copy cancelled", {2, 0, 0}, 2, expected::COPY_FAILED},
      {"write error in the last", {0, 0, 5}, 2, expected::COPY_FAILED},
      {"no interpreter", {-1, -1, -1}, 2, expected::COPY_FAILED},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    prepare("C:\\Lumeric\\", "EN", "MSVC");
    fake.commandResults = row.results;
    EXPECT_EQ(runUpdate(), row.status);
    EXPECT_EQ(fake.commands.size(), 3u) << "every copy runs whatever the one before did";
    EXPECT_EQ(fake.written.count("ServiceLevel"), row.status == 0 ? 1u : 0u);
    if (row.message.empty()) {
      EXPECT_TRUE(fake.boxes.empty());
    } else {
      ASSERT_EQ(fake.boxes.size(), 1u);
      EXPECT_EQ(fake.boxes[0].text, row.message);
      EXPECT_EQ(fake.calls.back(), "box 0x10") << "reported after the third copy";
    }
  }
}

TEST_F(PayloadTest, LevelThatCannotBeRecordedIsReported) {
  const struct {
    const char* name;
    long openWriteError, setError;
  } rows[] = {{"key cannot be opened for writing", 5, 0}, {"value cannot be set", 0, 5}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    prepare("C:\\Lumeric\\", "EN", "MSVC");
    fake.openWriteError = row.openWriteError;
    fake.setError = row.setError;
    EXPECT_EQ(runUpdate(), 2);
    EXPECT_EQ(fake.commands.size(), 3u);
    ASSERT_EQ(fake.boxes.size(), 1u);
    EXPECT_EQ(fake.boxes[0].text, expected::RECORD_FAILED);
  }
}

}  // namespace
