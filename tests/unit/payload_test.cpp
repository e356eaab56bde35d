// Deploying the payload: the command lines byte for byte, the checks made before
// the first copy, and what the copies' results mean for the level and the status.
#include <functional>
#include <string>
#include <vector>

#include "installer/access_rules.h"
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
      {"a path", "..\\MS60", expected::BAD_COMPILER},
      {"the current folder", ".", expected::BAD_COMPILER},
      {"a drive", "C:MS60", expected::BAD_COMPILER},
      {"a wildcard", "MS?0", expected::BAD_COMPILER},
      {"0x01", "MS\x01", expected::BAD_COMPILER},
      {"0x1F", "MS\x1f", expected::BAD_COMPILER},
      {"932: a bar", "MS|60", expected::BAD_COMPILER, 932},
      {"932: ending in a lone lead byte", "MS60\x83", expected::BAD_COMPILER, 932},
      {"second command of 521 characters", string(250, 'c'), expected::BAD_COMPILER},
  };
  for (const char special : string("\"&|<>^%")) {
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

  // An empty compiler tree: its folder's path of 247 characters is the longest
  // Windows makes, and the longest command that can run is 503 characters.
  for (const std::size_t length : {241, 242}) {
    prepare(installDir, "EN", string(length, 'c'));
    fake.files.erase("C:\\DIST\\" + string(length, 'C') + "\\COMPILER.DAT");
    EXPECT_EQ(runUpdate(), length == 241 ? 0 : 1);
    ASSERT_EQ(fake.commands.size(), length == 241 ? 3u : 0u);
    if (length == 241) {
      EXPECT_EQ(fake.commands[1].size(), 503u);
    }
  }
  EXPECT_EQ(fake.boxes.at(0).text, expected::tooLong(installDir + string(242, 'c')));
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
  } rows[] = {{"key no longer opens for writing after the copies", 5, 0},
              {"value cannot be set", 0, 5}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    prepare("C:\\Lumeric\\", "EN", "MSVC");
    fake.afterCopies = [error = row.openWriteError](FakeWindows& f) { f.openWriteError = error; };
    fake.setError = row.setError;
    EXPECT_EQ(runUpdate(), 2);
    EXPECT_EQ(fake.commands.size(), 3u);
    ASSERT_EQ(fake.boxes.size(), 1u);
    EXPECT_EQ(fake.boxes[0].text, expected::RECORD_FAILED);
  }
}

// The sample tree: C:\Lumeric\ with Common\common.dat (100 bytes), MS60\compiler.dat
// (200) and EN\language.dat (300) in C:\dist; write times 11, 22 and 33.
using Change = std::function<void(FakeWindows&)>;
const Change NOTHING = [](FakeWindows&) {};
constexpr unsigned long long SECOND = 10000000;

Change both(Change a, Change b) {
  return [=](FakeWindows& f) { a(f), b(f); };
}

struct TreeRow {
  string name;
  Change before, afterCopies;
  int status;
  string message;
};

void runTreeRows(const std::vector<TreeRow>& rows) {
  for (const TreeRow& row : rows) {
    SCOPED_TRACE(row.name);
    resetFakeWindows();
    FakeWindows& fake = fakeWindows();
    registerProduct("C:\\Lumeric", "EN", "GA");
    fake.compiler = "MSVC";
    row.before(fake);
    fake.afterCopies = row.afterCopies;
    EXPECT_EQ(runUpdate(), row.status);
    // Where a console session is, nobody sees session 0.
    const bool seen = fake.boxesVisible && !(fake.sessionZero && fake.consoleSession != 0);
    const bool shown = !row.message.empty() && seen;
    EXPECT_EQ(fake.boxes.size(), shown ? 1u : 0u);
    if (shown && !fake.boxes.empty()) {
      EXPECT_EQ(fake.boxes[0].text, row.message);
    }
    const string unanswered =
        row.message == expected::SAME_LEVEL && !seen ? expected::UNANSWERED + "\r\n" : "";
    EXPECT_EQ(fake.standardError, row.message.empty() ? "" : row.message + "\r\n" + unanswered);
    const bool unchanged = row.status == 1 || row.status == 1618;
    EXPECT_EQ(fake.commands.size(), unchanged ? 0u : 3u);
    EXPECT_EQ(fake.written.count("ServiceLevel"), row.status == 0 ? 1u : 0u);
    EXPECT_EQ(touchedInstallation(), !unchanged);
    EXPECT_EQ(fake.digestersOpen, 0);
  }
}

TEST(PayloadChecks, WhatWouldStopTheUpdateHalfwayIsRefusedBeforeTheFirstCopy) {
  const string dir = "C:\\Lumeric\\";
  const auto lock = [](const string& path) {
    return [path](FakeWindows&) { addFile(path).locked = true; };
  };
  const auto add = [](const string& path, unsigned long attributes = 0, bool locked = false) {
    return [=](FakeWindows&) {
      FakeFile& file = addFile(path);
      file.attributes = attributes;
      file.locked = locked;
    };
  };
  const Change restricted = [](FakeWindows& f) { f.restricted = true; };
  const Change unlisted = [](FakeWindows&) { findFile("C:\\Lumeric\\MS60")->unreadable = true; };
  const Change keyReadOnly = [](FakeWindows& f) {
    f.openWriteError = 5, f.currentDirectory = "\\\\s\\d";
  };
  const string cfg = dir + "common.dat", lib = dir + "MS60\\compiler.dat", n243(243, 'n');
  const string n239 = "MS60\\" + n243.substr(4), c240 = "Common\\" + n243.substr(3);
  const Change os = [](FakeWindows& f) { f.environment["OS"] = "Windows_NT"; };
  const Change ps1 = [](FakeWindows& f) { f.environment["PATHEXT"] = ".COM;.ps1"; };
  const Change atRoot = [](FakeWindows& f) { f.currentDirectory = "C:\\"; };
  const auto dirValue = [](string path) {
    return [=](FakeWindows& f) { f.values["InstallDir"] = path; };
  };
  const auto mutex = [](long result) { return [=](FakeWindows& f) { f.mutexResult = result; }; };
  const string deep = "C:\\" + string(245, 'd');  // and \\Common: 255 characters
  const Change deepDist = [=](FakeWindows& f) {
    f.currentDirectory = deep;
    addInstallation(dir, "MS60", "EN");
  };
  const Change outOfMemoryLater = [](FakeWindows& f) { f.memoryRunsOutAtDestinations = true; };
  const Change exeOnly = [](FakeWindows& f) { f.environment["PATHEXT"] = ".EXE"; };
  const Change noSystemFolder = [](FakeWindows& f) { f.systemDirectory = string(300, 's'); };
  const auto language = [](string s) {
    return [=](FakeWindows& f) { f.values["Installed NLV"] = s; };
  };
  const auto qdxcomp = [](string name) { return [=](FakeWindows& f) { f.compiler = name; }; };
  const string here = "C:\\dist\\", dirs = "Common\\docs\\",
               bat = expected::planted(here + "xcopy.bat");
  runTreeRows({
      {"another run holds the mutex", mutex(183), {}, 1618, expected::ANOTHER_RUN},
      {"a mutex this run may not open", mutex(5), {}, 1618, expected::ANOTHER_RUN},
      {"another kind of object holds the name", mutex(6), {}, 1618, expected::ANOTHER_RUN},
      {"a mutex that cannot be made", mutex(1450), {}, 1618, expected::ANOTHER_RUN},
      {"%OS% in InstallDir",
       both(os, dirValue("C:\\%OS%\\L")),
       {},
       1,
       expected::percentSigns("C:\\%OS%\\L\\")},
      {"%OS:~0,3%",
       both(os, dirValue("C:\\%OS:~0,3%")),
       {},
       1,
       expected::percentSigns("C:\\%OS:~0,3%\\")},
      {"%CD%, which no environment holds",
       dirValue("C:\\L%CD%x"),
       {},
       1,
       expected::percentSigns("C:\\L%CD%x\\")},
      {"%% side by side", dirValue("C:\\L%%x"), {}, 1, expected::percentSigns("C:\\L%%x\\")},
      {"no system folder", noSystemFolder, {}, 1, expected::NO_SYSTEM_FOLDER},
      {"no job can be joined: the copies run, and standard error says so",
       [](FakeWindows& f) { f.jobError = 5; },
       [](FakeWindows& f) {
         EXPECT_EQ(f.standardError, expected::noJob(5) + "\r\n");
         f.standardError.clear();
       },
       0, ""},
      {"planted xcopy.bat", add("xcopy.bat"), {}, 1, bat},
      {"XCOPY.ps1, which the copies' PATHEXT leaves out", both(ps1, add("XCOPY.ps1")), {}, 0, ""},
      {"xcopy.bat, which the user's PATHEXT leaves out",
       both(exeOnly, add("xcopy.bat")),
       {},
       1,
       bat},
      {"at a root", both(atRoot, add("C:\\xcopy.cmd")), {}, 1, expected::planted("C:\\xcopy.cmd")},
      {"an xcopy.txt runs nothing", add("xcopy.txt"), {}, 0, ""},
      {"a program of another name", both(add("setup.exe"), add("xcopz.bat")), {}, 0, ""},
      {"a folder named xcopy.cmd", add("xcopy.cmd\\"), {}, 0, ""},
      {"! in InstallDir is a character",
       dirValue("C:\\L!"),
       {},
       1,
       expected::noInstallDir("C:\\L!\\")},
      {"! in the language", language("E!N"), {}, 1, expected::noSource("E!N")},
      {"! in the compiler", qdxcomp("M!"), {}, 1, expected::noSource("M!")},
      {"file, folder", add("Common\\MS60"), {}, 1, expected::fileAndFolder(dir + "MS60")},
      {"folder, file",
       both(add(dirs), add("EN\\DOCS")),
       {},
       1,
       expected::fileAndFolder(dir + "DOCS")},
      {"a limited or virtualized token", restricted, {}, 1, expected::NO_RIGHTS},
      {"a read-only key, before a network path", keyReadOnly, {}, 1, expected::NO_RIGHTS},
      {"network path",
       [](FakeWindows& f) { f.currentDirectory = "\\\\server\\dist"; },
       {},
       1,
       expected::NETWORK_PATH},
      {"network path before a missing installation",
       [](FakeWindows& f) {
         f.currentDirectory = "\\\\server\\dist";
         f.files.erase("C:\\LUMERIC");
       },
       {},
       1,
       expected::NETWORK_PATH},
      {"no installation directory",
       [](FakeWindows& f) { f.files.erase("C:\\LUMERIC"); },
       {},
       1,
       expected::noInstallDir(dir)},
      {"a file for the installation directory",
       [](FakeWindows& f) {
         f.files.erase("C:\\LUMERIC");
         addFile("C:\\Lumeric");
       },
       {},
       1,
       expected::noInstallDir(dir)},
      {"no Common",
       [](FakeWindows&) { fakeWindows().currentDirectory = "C:\\elsewhere"; },
       {},
       1,
       expected::noSource("Common")},
      {"no compiler tree, then no language tree",
       [](FakeWindows& f) {
         f.files.erase("C:\\DIST\\MS60");
         f.files.erase("C:\\DIST\\EN");
       },
       {},
       1,
       expected::noSource("MS60")},
      {"a file for the language tree",
       [](FakeWindows& f) {
         f.files.erase("C:\\DIST\\EN");
         f.files.erase("C:\\DIST\\EN\\LANGUAGE.DAT");
         addFile("EN");
       },
       {},
       1,
       expected::noSource("EN")},
      {"an unreadable folder",
       [](FakeWindows&) { addFile("Common\\sub\\").unreadable = true; },
       {},
       1,
       expected::unreadable("Common\\sub")},
      {"memory runs out while listing",
       [](FakeWindows& f) { f.memoryExhausted = true; },
       {},
       1,
       expected::NO_MEMORY},
      {"a file path of 255", add(n239), {}, 1, expected::tooLong(dir + n239)},
      {"source path of 255", add(c240), {}, 1, expected::sourceTooLong("C:\\dist\\" + c240)},
      {"a tree's own path of 255", deepDist, {}, 1, expected::sourceTooLong(deep + "\\Common")},
      {"a folder path of 248",
       add("Common\\" + n243.substr(6) + "\\"),
       {},
       1,
       expected::tooLong(dir + n243.substr(6))},
      {"a read-only file", add(cfg, 0x1), {}, 1, expected::isProtected(cfg)},
      {"a hidden file", add(lib, 0x2), {}, 1, expected::isProtected(lib)},
      {"a locked system file", add(lib, 0x4, true), {}, 1, expected::isProtected(lib)},
      {"a hidden folder where the payload has one", add(dir + "MS60\\", 0x2), {}, 0, ""},
      {"a locked file", lock(dir + "common.dat"), {}, 1, expected::inUse(dir + "common.dat")},
      {"a locked file in the compiler's folder",
       lock(dir + "MS60\\compiler.dat"),
       {},
       1,
       expected::inUse(dir + "MS60\\compiler.dat")},
      {"locked, in an unlisted folder", both(lock(lib), unlisted), {}, 1, expected::inUse(lib)},
      {"a folder where the payload has a file",
       [&](FakeWindows&) { addFile(dir + "common.dat\\"); },
       {},
       1,
       expected::kindInTheWay(dir + "common.dat")},
      {"a file where the payload has the compiler's folder",
       [&](FakeWindows&) { addFile(dir + "MS60"); },
       {},
       1,
       expected::kindInTheWay(dir + "MS60")},
      {"no memory to read the destinations",
       both(lock(lib), outOfMemoryLater),
       {},
       1,
       expected::inUse(lib)},
      {"a found name fills its buffer",
       add("Common\\" + n243 + "1234567890123456"),
       {},
       1,
       expected::unreadable("Common")},
      {"a locked file on a full volume",
       [&](FakeWindows& f) {
         addFile(dir + "language.dat").locked = true;
         f.freeBytes = 0;
       },
       {},
       1,
       expected::inUse(dir + "language.dat")},
      {"one byte too little room",
       [](FakeWindows& f) { f.freeBytes = 3 * 4096 - 1; },
       {},
       1,
       expected::noSpace(dir)},
      {"just enough room", [](FakeWindows& f) { f.freeBytes = 3 * 4096; }, {}, 0, ""},
      {"a file path of 254", add("EN\\" + n243), {}, 0, ""},
      {"a folder path of 247", add("Common\\" + n243.substr(7) + "\\"), {}, 0, ""},
  });
}

TEST(PayloadChecks, SpaceCountsWhatEachFileAddsInWholeClusters) {
  const auto volume = [](unsigned long long freeBytes, unsigned long long cluster, Change more) {
    return [=](FakeWindows& f) {
      f.freeBytes = freeBytes;
      f.clusterBytes = cluster;
      more(f);
    };
  };
  const Change larger = [](FakeWindows&) { addFile("C:\\Lumeric\\common.dat", 5000); };
  const Change oneLess = [](FakeWindows&) { addFile("C:\\Lumeric\\language.dat", 299); };
  runTreeRows({
      {"no rounding: 600 bytes fit 600", volume(600, 1, NOTHING), {}, 0, ""},
      {"no rounding: 600 bytes do not fit 599",
       volume(599, 1, NOTHING),
       {},
       1,
       expected::noSpace("C:\\Lumeric\\")},
      {"a replaced larger file adds nothing", volume(500, 1, larger), {}, 0, ""},
      {"a replaced file one byte smaller adds one cluster",
       volume(2 * 512, 512, oneLess),
       {},
       1,
       expected::noSpace("C:\\Lumeric\\")},
      {"...and fits three", volume(3 * 512, 512, oneLess), {}, 0, ""},
      {"a volume that does not tell",
       volume(0, 1, [](FakeWindows& f) { f.volumeKnown = false; }),
       {},
       0,
       ""},
  });
}

TEST(PayloadChecks, ListingHoldsWhatXcopyCopies) {
  const Change hidden = [](FakeWindows&) { addFile("Common\\hidden.dat").attributes = 0x2; };
  runTreeRows({
      {"the later tree's file counts",
       [](FakeWindows&) {
         addFile("Common\\Shared.dat", 10);
         addFile("EN\\SHARED.DAT", 20);
       },
       {},
       0,
       ""},
      {"hidden and system files are left out",
       [&](FakeWindows& f) {
         hidden(f);
         addFile("MS60\\system.dat").attributes = 0x4;
         addFile("C:\\Lumeric\\hidden.dat").locked = true;
       },
       {},
       0,
       ""},
      {"the later tree's file counts among 20 items",
       [](FakeWindows&) {
         for (int i = 0; i < 18; ++i) addFile("Common\\f" + std::to_string(i) + ".dat");
         addFile("Common\\Shared.dat", 10);
         addFile("EN\\SHARED.DAT", 20);
       },
       {},
       0,
       ""},
      {"the last two destinations are one file",
       [](FakeWindows&) {
         addFile("Common\\MS60\\zz.dat", 10);
         addFile("MS60\\zz.dat", 20);
       },
       {},
       0,
       ""},
      {"an empty folder is listed", [](FakeWindows&) { addFile("Common\\empty\\"); },
       [](FakeWindows& f) { f.files.erase("C:\\LUMERIC\\EMPTY"); }, 2,
       expected::notCopied("C:\\Lumeric\\empty")},
  });
}

TEST(PayloadChecks, FirstItemNotInPlaceAfterTheCopiesIsNamed) {
  const string dir = "C:\\Lumeric\\";
  const auto setTime = [](unsigned long long time) {
    return [time](FakeWindows& f) { f.files.at("C:\\LUMERIC\\COMMON.DAT").writeTime = time; };
  };
  runTreeRows({
      {"a file missing", NOTHING, [](FakeWindows& f) { f.files.erase("C:\\LUMERIC\\COMMON.DAT"); },
       2, expected::notCopied(dir + "common.dat")},
      {"a file of another size", NOTHING,
       [](FakeWindows& f) { f.files.at("C:\\LUMERIC\\MS60\\COMPILER.DAT").size = 199; }, 2,
       expected::notCopied(dir + "MS60\\compiler.dat")},
      {"a file 2 seconds off", NOTHING, setTime(11 + 2 * SECOND), 0, ""},
      {"a file 2 seconds and a tick off", NOTHING, setTime(11 + 2 * SECOND + 1), 2,
       expected::notCopied(dir + "common.dat")},
      {"a folder for a file", NOTHING,
       [&](FakeWindows& f) {
         f.files.erase("C:\\LUMERIC\\LANGUAGE.DAT");
         addFile(dir + "language.dat\\");
       },
       2, expected::notCopied(dir + "language.dat")},
      {"a folder for a file of no bytes", [](FakeWindows&) { addFile("Common\\zero.dat", 0); },
       [&](FakeWindows&) { addFile(dir + "zero.dat\\"); }, 2,
       expected::notCopied(dir + "zero.dat")},
      {"a file for the compiler's folder", NOTHING,
       [&](FakeWindows& f) {
         f.files.erase("C:\\LUMERIC\\MS60\\COMPILER.DAT");
         addFile(dir + "MS60", 0, 0);
       },
       2, expected::notCopied(dir + "MS60")},
      {"the compiler's folder missing, then the language's file", NOTHING,
       [](FakeWindows& f) {
         f.files.erase("C:\\LUMERIC\\MS60");
         f.files.erase("C:\\LUMERIC\\MS60\\COMPILER.DAT");
         f.files.erase("C:\\LUMERIC\\LANGUAGE.DAT");
       },
       2, expected::notCopied(dir + "MS60")},
  });
}

// A link below the installation would send a copy outside it; the installation
// directory itself, and reparse points that are no links, are the administrator's.
TEST(PayloadChecks, NoCopyWritesThroughALink) {
  const string dir = "C:\\Lumeric\\", ms60 = dir + "MS60", folder = ms60 + "\\";
  const string dat = dir + "common.dat";
  constexpr unsigned long SYMLINK = 0xA000000C, MOUNT_POINT = 0xA0000003;
  const auto reparse = [](const string& path, std::optional<unsigned long> tag) {
    return [=](FakeWindows&) {
      FakeFile& file = findFile(path) != nullptr ? *findFile(path) : addFile(path);
      file.attributes |= 0x400;
      file.reparseTag = tag;
    };
  };
  const auto names = [](const string& path, unsigned long count) {
    return [=](FakeWindows&) { addFile(path).names = count; };
  };
  const Change deeper = [=](FakeWindows& f) {
    addFile("Common\\bin\\lib.dat");
    reparse(dir + "bin\\", MOUNT_POINT)(f);
  };
  runTreeRows({
      {"symbolic link at a folder", reparse(folder, SYMLINK), {}, 1, expected::link(ms60)},
      {"symbolic link, replaced file", reparse(dat, SYMLINK), {}, 1, expected::link(dat)},
      {"a mount point deeper in a tree", deeper, {}, 1, expected::link(dir + "bin")},
      {"a tag that cannot be read", reparse(folder, std::nullopt), {}, 1, expected::link(ms60)},
      {"a deduplicated file", reparse(dat, 0x80000013), {}, 0, ""},
      {"a cloud placeholder folder", reparse(folder, 0x9000001A), {}, 0, ""},
      {"a hard-linked file", names(dat, 2), {}, 1, expected::link(dat)},
      {"links that cannot be counted", names(dat, 0), {}, 1, expected::link(dat)},
      {"the installation directory itself", reparse(dir, SYMLINK), {}, 0, ""},
      {"a link made during the copies", NOTHING, reparse(folder, SYMLINK), 2,
       expected::notCopied(ms60)},
  });
}

// What the copies read must be no file that a user who is no administrator could
// have changed: the distribution's root, setup.exe, every item of the three trees.
TEST(PayloadChecks, OnlyWhatNoUserCouldChangeIsInstalled) {
  const string tool = "Common\\bin\\deep\\tool.exe", all = "S-1-1-0", users = "S-1-5-32-545";
  const string domain = "S-1-5-21-1-2-3-", language = "EN\\language.dat", admins = "S-1-5-32-544";
  const auto allow = [](const string& path, FakeEntry entry) {
    return [=](FakeWindows&) {
      (findFile(path) ? *findFile(path) : addFile(path)).dacl->push_back(entry);
    };
  };
  const auto on = [](const string& path, std::function<void(FakeFile&)> change) {
    return [=](FakeWindows&) { change(*findFile(path)); };
  };
  const auto volume = [](unsigned long flags, bool readable, string folder = "C:\\dist") {
    return [=](FakeWindows& f) {
      if (folder != f.currentDirectory) {
        f.currentDirectory = folder;
        addInstallation("C:\\Lumeric\\", "MS60", "EN");
      }
      f.volumeFlags = flags;
      for (auto& [key, file] : f.files) file.securityUnreadable = !readable;
    };
  };
  const auto open = [](const string& path, const string& reason) {
    return expected::openToUsers("C:\\dist\\" + path, reason);
  };
  const auto writes = [](const string& sid) { return "its permissions let " + sid + " change it"; };
  const string unreadable = "its permissions cannot be read";
  const string noPermissions = "its volume keeps no permissions";
  const Change hidden =
      both(allow(tool, {users, 0x100}), on(tool, [](FakeFile& f) { f.attributes = 0x2; }));
  const Change nullDacl = on("EN\\language.dat", [](FakeFile& f) { f.dacl.reset(); });
  const Change noDescriptor = on("Common", [](FakeFile& f) { f.securityUnreadable = true; });
  // A descriptor of length bytes whose owner of count sub-authorities is at offset.
  const auto ownerAt = [=](std::size_t length, std::size_t offset, char count) {
    string bytes(length, '\0');
    bytes[0] = 1, bytes[3] = '\x80';
    for (int i = 0; i < 4; ++i) bytes[4 + i] = static_cast<char>(offset >> 8 * i);
    if (offset + 1 < length) bytes[offset] = 1, bytes[offset + 1] = count;
    return on("EN\\language.dat", [=](FakeFile& f) { f.descriptor = bytes; });
  };
  const auto owner = [=](string sid) {
    return on("C:\\dist", [=](FakeFile& f) { f.owner = sid; });
  };
  // What a new folder under %ProgramFiles% and its files inherit.
  const Change programFiles = [=](FakeWindows& f) {
    for (auto& [key, file] : f.files) {
      file.dacl = {
          {"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464", 0x1F01FF, 0, 0x10},
          {"S-1-5-18", 0x1301BF, 0, 0x10},
          {admins, 0x1301BF, 0, 0x10},
          {"S-1-3-0", 0x10000000, 0, 0x1B},
          {users, 0x1200A9, 0, 0x10},
          {"S-1-15-2-1", 0x1200A9, 0, 0x10}};
    }
  };
  const string fifteen = domain + "4-5-6-7-8-9-10-11-12-13-1002", deep = "C:\\" + string(245, 'd');
  // A row where an entry for sid of mask on the item at path refuses it, naming sid.
  const auto writer = [&](const char* name, const string& path, const string& sid,
                          unsigned long mask) {
    const string item =
        path.empty() || path.back() != '\\' ? path : path.substr(0, path.size() - 1);
    return TreeRow{name, allow(path, {sid, mask}), {}, 1, open(item, writes(sid))};
  };
  const Change longEntry = both(allow(tool, {admins, 0x1F01FF, 9, 0, 292}), allow(tool, {all, 2}));
  runTreeRows({
      writer("Everyone may write a file deep in Common", tool, all, 0x1301FF),
      writer("Authenticated Users may modify the root", "", "S-1-5-11", 0x1301BF),
      writer("Users may add files to a folder", "MS60\\", users, 0x2),
      {"...inherited only by what is made in it", allow("MS60\\", {users, 0x6, 0, 0xB}), {}, 0, ""},
      {"Everyone may read and run", allow(tool, {all, 0x1200A9}), {}, 0, ""},
      {"Everyone may not write", allow(tool, {all, 0x2, 1}), {}, 0, ""},
      writer("a user's own account may do anything", tool, domain + "1002", 0x1F01FF),
      writer("a domain group may modify", "EN\\", domain + "1105", 0x1301BF),
      writer("IIS_IUSRS may write", language, "S-1-5-32-568", 0x2),
      writer("an Entra ID group may write", language, "S-1-12-1-1-2-3-4", 0x40000000),
      writer("an account of 15 numbers may write", tool, fifteen, 0x2),
      writer("a SID of another shape ending in 512", tool, "S-1-5-21-1-2-512", 0x2),
      writer("setup.exe itself", "setup.exe", "S-1-5-4", 0x10000),
      {"%ProgramFiles%'s inherited entries", programFiles, {}, 0, ""},
      {"CREATOR OWNER may do anything", allow(tool, {"S-1-3-0", 0x1F01FF}), {}, 0, ""},
      {"OWNER RIGHTS may write", allow(tool, {"S-1-3-4", 0x2}), {}, 0, ""},
      {"an entry of 300 bytes before one that refuses", longEntry, {}, 1, open(tool, writes(all))},
      {"a hidden file", hidden, {}, 1, open(tool, writes(users))},
      {"a NULL DACL", nullDacl, {}, 1, open(language, writes(all))},
      {"a descriptor that cannot be read", noDescriptor, {}, 1, open("Common", unreadable)},
      {"an object entry", allow(tool, {admins, 0x1F01FF, 5}), {}, 1, open(tool, unreadable)},
      {"owned by a user",
       owner(domain + "1002"),
       {},
       1,
       open("", "its owner is " + domain + "1002")},
      {"owned by the account running setup.exe", owner(domain + "1001"), {}, 0, ""},
      {"owned by the domain's Administrator", owner(domain + "500"), {}, 0, ""},
      {"owned by Domain Admins", owner(domain + "512"), {}, 0, ""},
      {"Enterprise Admins may write", allow(tool, {domain + "519", 0x2}), {}, 0, ""},
      {"another compiler's folder is not read", allow("BCC\\", {all, 0x1F01FF}), {}, 0, ""},
      {"no owner", ownerAt(40, 0, 0), {}, 1, open(language, unreadable)},
      {"an owner past the descriptor's end", ownerAt(40, 36, 0), {}, 1, open(language, unreadable)},
      {"an owner that ends the descriptor",
       ownerAt(40, 32, 0),
       {},
       1,
       open(language, "its owner is S-1-0")},
      {"an owner's numbers past its end", ownerAt(40, 24, 3), {}, 1, open(language, unreadable)},
      {"a volume without permissions", volume(0x2, true), {}, 1, open("", noPermissions)},
      {"a read-only volume tells nothing", volume(0x80000, false), {}, 0, ""},
      {"...but a source too long to read is still refused",
       volume(0x80000, false, deep),
       {},
       1,
       expected::sourceTooLong(deep + "\\Common")},
  });
}

// A sealed setup.exe installs only the bytes that its list of released files names.
TEST(PayloadChecks, SealedReleaseInstallsOnlyTheReleasedBytes) {
  const string dat = "Common\\common.dat", list = "Mendrel2.sha256";
  const auto sealed = [](Change change) {
    return [=](FakeWindows& f) {
      addFile("BCC\\compiler.dat");  // another compiler's, which the copies do not read
      sealDistribution();
      change(f);
    };
  };
  const auto on = [&](const string& path, std::function<void(FakeFile&)> change) {
    return sealed([=](FakeWindows&) { change(*findFile(path)); });
  };
  const auto gone = [&](const string& key) {
    return sealed([=](FakeWindows& f) { f.files.erase("C:\\DIST\\" + key); });
  };
  const auto seal = [](const string& kind, const string& path) {
    return expected::seal(kind, "C:\\dist\\" + path);
  };
  const auto changed = [](FakeFile& f) { f.content = "changed"; };
  const auto lineFeeds = [](FakeFile& f) {
    f.content.erase(std::remove(f.content.begin(), f.content.end(), '\r'), f.content.end());
  };
  const Change readOnly = both(on(dat, changed), [](FakeWindows& f) { f.volumeFlags = 0x80000; });
  // The list with the character at offset replaced, sealed so.
  const auto relisted = [&](std::size_t offset, char replaced) {
    return sealed([=](FakeWindows& f) {
      string& content = findFile("Mendrel2.sha256")->content;
      content[offset] = replaced;
      f.seal = fakeDigest(content);
    });
  };
  const Change link = sealed([](FakeWindows&) {
    FakeFile& folder = addFile("EN\\help\\");
    folder.attributes = 0x400, folder.reparseTag = 0xA000000C;
  });
  const Change installedOther = [](FakeWindows&) {
    findFile("C:\\Lumeric\\common.dat")->content = "x";
  };
  const Change upper = on(dat, [](FakeFile& f) { f.path = "C:\\dist\\Common\\COMMON.DAT"; });
  const Change hidden = on(dat, [](FakeFile& f) { f.attributes = 2; });
  const Change extra = on("MS60", [](FakeFile&) { addFile("MS60\\x.dll"); });
  const Change stream = on(dat, [](FakeFile& f) { f.otherStream = true; });
  const Change held = on(dat, [](FakeFile& f) { f.dataLocked = true; });
  const Change deduplicated =
      on(dat, [](FakeFile& f) { f.attributes = 0x400, f.reparseTag = 0x80000013; });
  const Change longer = on(list, [](FakeFile& f) { f.content += "0"; });
  const Change emptyTree = sealed([](FakeWindows& f) {
    f.files.erase("C:\\DIST\\EN\\LANGUAGE.DAT");
    sealDistribution();
  });
  runTreeRows({
      {"the released files", sealed(NOTHING), {}, 0, ""},
      {"a list whose line ends became LF", on(list, lineFeeds), {}, 0, ""},
      {"a name that differs in case", upper, {}, 0, ""},
      {"another compiler's file changed", on("BCC\\compiler.dat", changed), {}, 0, ""},
      {"a tree with no file, released so", emptyTree, {}, 0, ""},
      {"a deduplicated file, read through its filter", deduplicated, {}, 0, ""},
      {"a changed file", on(dat, changed), {}, 1, seal("changed", dat)},
      {"...on a read-only volume", readOnly, {}, 1, seal("changed", dat)},
      {"a missing file", gone("EN\\LANGUAGE.DAT"), {}, 1, seal("missing", "EN\\language.dat")},
      {"a listed file that is hidden", hidden, {}, 1, seal("missing", dat)},
      {"an extra file", extra, {}, 1, seal("extra", "MS60\\x.dll")},
      {"a stream beside a file's bytes", stream, {}, 1, seal("extra", dat)},
      {"a file held without read sharing", held, {}, 1, seal("unreadable", dat)},
      {"a link in a tree", link, {}, 1, seal("link", "EN\\help")},
      {"a list whose digest differs", longer, {}, 1, seal("list", list)},
      {"a digit that is no lower-case hex", relisted(0, 'A'), {}, 1, seal("list", list)},
      {"a name that Windows refuses", relisted(66 + 6, ':'), {}, 1, seal("list", list)},
      {"no list", gone("MENDREL2.SHA256"), {}, 1, seal("list", list)},
      {"no SHA-256", sealed([](FakeWindows& f) { f.sha256 = false; }), {}, 1, expected::NO_SHA256},
      {"a difference after the copies", sealed(NOTHING), installedOther, 2,
       expected::seal("installed", "C:\\Lumeric\\common.dat")},
  });
}

// A service's session: nothing may wait for an answer that nobody can give.
TEST(PayloadChecks, SessionWithoutAScreenAsksNothingAndSaysAllOnStandardError) {
  const auto session = [](std::optional<string> copySwitches, bool replaces = true,
                          const char* level = "GA", bool noCompiler = false) {
    return [=](FakeWindows& f) {
      f.boxesVisible = false;
      f.copySwitches = copySwitches;
      f.values["ServiceLevel"] = string(level) + '\0';
      if (replaces) addFile("C:\\Lumeric\\common.dat");
      if (noCompiler) f.compiler.reset();
    };
  };
  const auto sessionZero = [](unsigned long console) {
    return [=](FakeWindows& f) {
      f.sessionZero = true, f.consoleSession = console;
      f.values["ServiceLevel"] = string("2") + '\0';
    };
  };
  const auto twoTreesGive = [&](const string& path) {
    return [=](FakeWindows& f) {
      addFile("Common\\" + path), addFile("EN\\" + path);
      session(std::nullopt, false)(f);
    };
  };
  runTreeRows({
      {"session 0 since Vista: no box, Cancel", sessionZero(1), {}, 1, expected::SAME_LEVEL},
      {"session 0, no console attached", sessionZero(0xFFFFFFFF), {}, 1, expected::SAME_LEVEL},
      {"session 0 on XP, the console's: asked, OK", sessionZero(0), {}, 0, expected::SAME_LEVEL},
      {"two trees give a file", twoTreesGive("shared.dat"), {}, 1, expected::UNANSWERABLE},
      {"two trees give a folder", twoTreesGive("shared\\"), {}, 0, ""},
      {"the level-2 question is Cancel", session("/Y", true, "2"), {}, 1, expected::SAME_LEVEL},
      {"an error", session(std::nullopt, false, "GA", true), {}, 1, expected::NO_COMPILER},
      {"nothing replaced, COPYCMD unset", session(std::nullopt, false), {}, 0, ""},
      {"a file replaced, COPYCMD unset", session(std::nullopt), {}, 1, expected::UNANSWERABLE},
      {"/Y", session("/Y"), {}, 0, ""},
      {"/y", session("/y"), {}, 0, ""},
      {"/-Y", session("/-Y"), {}, 1, expected::UNANSWERABLE},
      {"/S /Y", session("/S /Y"), {}, 0, ""},
      {"/Y /-Y", session("/Y /-Y"), {}, 1, expected::UNANSWERABLE},
      {"/Y /-, which is no /-Y", session("/Y /-"), {}, 0, ""},
      {"/YES", session("/YES"), {}, 1, expected::UNANSWERABLE},
      {"/Z", session("/Z"), {}, 1, expected::UNANSWERABLE},
      {"/-Z", session("/-Z"), {}, 1, expected::UNANSWERABLE},
      {"/", session("/"), {}, 1, expected::UNANSWERABLE},
  });
}

// A path too long to name in full is shortened from its start, never inside a
// double-byte character; one that just fits is named in full.
TEST(PayloadChecks, LongPathIsNamedByItsEnd) {
  // The message naming a locked file of folder and name characters of two bytes.
  const auto lockedPathMessage = [](int folderCharacters, int nameCharacters) {
    resetFakeWindows();
    fakeWindows().codePage = 932;
    fakeWindows().compiler = "MSVC";
    registerProduct("C:\\Lumeric", "EN", "GA");
    string folder, name;
    for (int i = 0; i < folderCharacters; ++i) folder += "\x88\x9f";
    for (int i = 0; i < nameCharacters; ++i) name += "\x88\x9f";
    const string path = "C:\\Lumeric\\" + folder + "\\" + name + ".dat";
    addFile("Common\\" + folder + "\\" + name + ".dat");
    addFile(path).locked = true;
    EXPECT_EQ(runUpdate(), 1);
    return std::make_pair(path, fakeWindows().boxes.at(0).text);
  };
  const auto [fits, whole] = lockedPathMessage(100, 57);  // a message of 519 bytes
  EXPECT_EQ(whole, expected::inUse(fits));
  const auto [path, text] = lockedPathMessage(120, 60);  // 196 characters
  const string full = expected::inUse(path);
  const string head = "The file \"...", tail = full.substr(full.find("\" cannot"));
  ASSERT_LE(text.size(), 519u);
  ASSERT_EQ(text.rfind(head, 0), 0u);
  ASSERT_GE(text.size(), head.size() + tail.size());
  EXPECT_EQ(text.substr(text.size() - tail.size()), tail);
  const string named = text.substr(head.size(), text.size() - head.size() - tail.size());
  EXPECT_EQ(path.substr(path.size() - named.size()), named) << "the end of the path";
  EXPECT_EQ((path.size() - named.size() - 11) % 2, 0u) << "cut on a character boundary";
  EXPECT_GT(named.size(), 300u) << "as much as fits";

  // A source path past 519 bytes, found by the check of who may change the distribution
  // or, on a read-only volume, by the listing; with 140 folder characters the relative
  // path alone passes 519 bytes.
  string name;
  for (int i = 0; i < 120; ++i) name += "\x88\x9f";
  for (const auto& [volume, folderCharacters] :
       {std::pair{0x8UL, 130}, std::pair{0x80000UL, 130}, std::pair{0x80000UL, 140}}) {
    SCOPED_TRACE(folderCharacters);
    resetFakeWindows();
    fakeWindows().codePage = 932, fakeWindows().compiler = "MSVC",
    fakeWindows().volumeFlags = volume;
    registerProduct("C:\\Lumeric", "EN", "GA");
    string folder;
    for (int i = 0; i < folderCharacters; ++i) folder += i == 100 ? "\\\x88\x9f" : "\x88\x9f";
    addFile("Common\\" + folder + "\\" + name + ".dat");
    EXPECT_EQ(runUpdate(), 1);
    EXPECT_NE(fakeWindows().boxes.at(0).text.find(name + ".dat\" in the Mendrel2 distribution is"),
              string::npos);
  }
}

}  // namespace
