// Reading the product's registration: what is accepted, what is refused with
// which message, and the level written back.
#include "installer/registration.h"

#include <string>
#include <vector>

#include "installer/update_run.h"
#include "tests/unit/test_support.h"

namespace {

using std::string;

const string NUL(1, '\0');

string repeat(char c, std::size_t count) { return string(count, c); }

struct Values {
  string installDir = "C:\\Lumeric\\" + NUL;
  string installedNlv = "EN" + NUL;
  string serviceLevel = "GA" + NUL;
};

void registerValues(FakeWindows& fake, const Values& values) {
  fake.values["InstallDir"] = values.installDir;
  fake.values["Installed NLV"] = values.installedNlv;
  fake.values["ServiceLevel"] = values.serviceLevel;
}

class RegistrationTest : public FakeWindowsTest {
 protected:
  InstallRecord readBack(const Values& values) {
    registerValues(fake, values);
    ComposedText keyPath;
    composeKeyPath(keyPath);
    platform::KeyHandle key = nullptr;
    InstallRecord record{};
    EXPECT_FALSE(openKeyForReading(keyPath, &key).stop);
    EXPECT_FALSE(readInstallRecord(key, &record).stop);
    return record;
  }
};

struct AcceptedRow {
  const char* name;
  Values values;
  string installDir, installedNlv, serviceLevel;
  unsigned int codePage = 1252;
};

TEST_F(RegistrationTest, UsableValuesAreReadAsText) {
  const string dir250 = "C:\\" + repeat('d', 247) + "\\";
  const AcceptedRow rows[] = {
      {"backslash appended", {"C:\\Lumeric" + NUL}, "C:\\Lumeric\\", "EN", "GA"},
      {"backslash not doubled", {"C:\\Lumeric\\" + NUL}, "C:\\Lumeric\\", "EN", "GA"},
      {"forward slash gains a backslash", {"C:/Lumeric/" + NUL}, "C:/Lumeric/\\", "EN", "GA"},
      {"a lone percent sign", {"C:\\100%\\L" + NUL}, "C:\\100%\\L\\", "EN", "GA"},
      {"lower-case drive", {"d:\\L" + NUL}, "d:\\L\\", "EN", "GA"},
      {"drive a:", {"a:\\L" + NUL}, "a:\\L\\", "EN", "GA"},
      {"drive z:", {"z:\\L" + NUL}, "z:\\L\\", "EN", "GA"},
      {"drive A:", {"A:\\L" + NUL}, "A:\\L\\", "EN", "GA"},
      {"drive Z:", {"Z:\\L" + NUL}, "Z:\\L\\", "EN", "GA"},
      {"UNC path", {"\\\\server\\share\\L" + NUL}, "\\\\server\\share\\L\\", "EN", "GA"},
      {"text ends at the first zero", {"C:\\A" + NUL + "junk" + NUL}, "C:\\A\\", "EN", "GA"},
      {"data without a zero is terminated", {"C:\\A"}, "C:\\A\\", "EN", "GA"},
      {"258 characters leave room for the backslash",
       {"C:\\" + repeat('a', 255) + NUL},
       "C:\\" + repeat('a', 255) + "\\",
       "EN",
       "GA"},
      {"259 characters that end in a backslash",
       {"C:\\" + repeat('a', 255) + "\\" + NUL},
       "C:\\" + repeat('a', 255) + "\\",
       "EN",
       "GA"},
      {"language whose copy command is 519 characters",
       {dir250 + NUL, repeat('n', 253) + NUL},
       dir250,
       repeat('n', 253),
       "GA"},
      {"three-digit level", {.serviceLevel = "999" + NUL}, "C:\\Lumeric\\", "EN", "999"},
      {"level without a zero", {.serviceLevel = "12"}, "C:\\Lumeric\\", "EN", "12"},
      {"level with no data bytes", {.serviceLevel = ""}, "C:\\Lumeric\\", "EN", ""},
      {"level stored as the number 2",
       {.serviceLevel = string("\x02\0\0\0", 4)},
       "C:\\Lumeric\\",
       "EN",
       "\x02"},
      // 0x95 0x5C is one character on code page 932, a letter and a backslash on 1252.
      {"1252: 0x5C after 0x95 is a backslash",
       {"C:\\Lum\x95\\" + NUL},
       "C:\\Lum\x95\\",
       "EN",
       "GA"},
      {"932: trail byte 0x5C is no backslash",
       {"C:\\Lum\x95\\" + NUL},
       "C:\\Lum\x95\\\\",
       "EN",
       "GA",
       932},
      {"932: backslash after a double-byte character",
       {"C:\\Lum\x95\\\\" + NUL},
       "C:\\Lum\x95\\\\",
       "EN",
       "GA",
       932},
      {"932: trail bytes 0x7C and 0x5E are no command characters",
       {.installedNlv = "\x83|\x83^" + NUL},
       "C:\\Lumeric\\",
       "\x83|\x83^",
       "GA",
       932},
  };
  for (const AcceptedRow& row : rows) {
    SCOPED_TRACE(row.name);
    resetFakeWindows();
    fake.codePage = row.codePage;
    const InstallRecord record = readBack(row.values);
    EXPECT_EQ(record.installDir, row.installDir);
    EXPECT_EQ(record.installedNlv, row.installedNlv);
    EXPECT_EQ(record.serviceLevel, row.serviceLevel);
  }
}

struct RefusedRow {
  const char* name;
  Values values;
  string message;
  std::vector<string> queried;
  unsigned int codePage = 1252;
};

TEST_F(RegistrationTest, UnusableValueStopsTheRunWithItsMessage) {
  const std::vector<string> dirOnly = {"InstallDir"};
  const std::vector<string> dirAndNlv = {"InstallDir", "Installed NLV"};
  const std::vector<string> all = {"InstallDir", "Installed NLV", "ServiceLevel"};
  const string dir250 = "C:\\" + repeat('d', 247) + "\\" + NUL;
  std::vector<RefusedRow> rows = {
      {"directory larger than its buffer",
       {repeat('a', 260) + NUL},
       expected::INSTALL_DIR,
       dirOnly},
      {"directory filling its buffer without a zero",
       {repeat('a', 260)},
       expected::INSTALL_DIR,
       dirOnly},
      {"empty directory", {NUL}, expected::INSTALL_DIR, dirOnly},
      {"directory with no data bytes", {""}, expected::INSTALL_DIR, dirOnly},
      {"259 characters without room for the backslash",
       {"C:\\" + repeat('a', 256) + NUL},
       expected::INSTALL_DIR,
       dirOnly},
      {"relative directory", {"EN" + NUL}, expected::INSTALL_DIR, dirOnly},
      {"directory on the current drive", {"\\Lumeric" + NUL}, expected::INSTALL_DIR, dirOnly},
      {"drive-relative directory", {"C:Lumeric" + NUL}, expected::INSTALL_DIR, dirOnly},
      {"directory that is a variable", {"%ProgramFiles%\\L" + NUL}, expected::INSTALL_DIR, dirOnly},
      {"a variable that is not set",
       {"C:\\%Name%\\L" + NUL},
       expected::percentSigns("C:\\%Name%\\L\\"),
       dirOnly},
      {"a digit for a drive", {"1:\\L" + NUL}, expected::INSTALL_DIR, dirOnly},
      {"directory with a double quote", {"C:\\a\" & del x" + NUL}, expected::INSTALL_DIR, dirOnly},
      {"directory with a line feed", {"C:\\a\nb" + NUL}, expected::INSTALL_DIR, dirOnly},
      {"directory with a tab", {"C:\\a\tb" + NUL}, expected::INSTALL_DIR, dirOnly},
      {"directory with 0x01", {"C:\\a\x01" + NUL}, expected::INSTALL_DIR, dirOnly},
      {"directory with 0x1F", {"C:\\a\x1f" + NUL}, expected::INSTALL_DIR, dirOnly},
      {"932: a quote after a lead byte is no trail byte",
       {"C:\\L\x95\" & x" + NUL},
       expected::INSTALL_DIR,
       dirOnly,
       932},
      {"932: directory ending in a lone lead byte",
       {"C:\\Lum\x95" + NUL},
       expected::INSTALL_DIR,
       dirOnly,
       932},
      {"empty language", {.installedNlv = NUL}, expected::LANGUAGE, dirAndNlv},
      {"language with a control character",
       {.installedNlv = "E\x1bN" + NUL},
       expected::LANGUAGE,
       dirAndNlv},
      {"language with a space",
       {.installedNlv = "Simplified Chinese" + NUL},
       expected::LANGUAGE,
       dirAndNlv},
      {"language that is a path", {.installedNlv = "EN\\x" + NUL}, expected::LANGUAGE, dirAndNlv},
      {"language that is the parent folder",
       {.installedNlv = ".." + NUL},
       expected::LANGUAGE,
       dirAndNlv},
      {"language with a wildcard", {.installedNlv = "E*" + NUL}, expected::LANGUAGE, dirAndNlv},
      {"language with 0x01", {.installedNlv = "E\x01N" + NUL}, expected::LANGUAGE, dirAndNlv},
      {"language with 0x1F", {.installedNlv = "E\x1fN" + NUL}, expected::LANGUAGE, dirAndNlv},
      {"932: language with a bar",
       {.installedNlv = "E|N" + NUL},
       expected::LANGUAGE,
       dirAndNlv,
       932},
      {"932: language with a quote after a double-byte character",
       {.installedNlv = "\x83|E\"N" + NUL},
       expected::LANGUAGE,
       dirAndNlv,
       932},
      {"932: language ending in a lone lead byte",
       {.installedNlv = "EN\x83" + NUL},
       expected::LANGUAGE,
       dirAndNlv,
       932},
      {"language filling its buffer without a zero",
       {.installedNlv = repeat('n', 260)},
       expected::LANGUAGE,
       dirAndNlv},
      {"language whose copy command would be 520 characters",
       {dir250, repeat('n', 254) + NUL},
       expected::LANGUAGE,
       dirAndNlv},
      {"level of four characters", {.serviceLevel = "1234" + NUL}, expected::LEVEL, all},
      {"level filling its buffer without a zero", {.serviceLevel = "1234"}, expected::LEVEL, all},
  };
  for (const char special : string("\"&|<>^%")) {
    rows.push_back({"language with a command character",
                    {.installedNlv = string("EN") + special + "x" + NUL},
                    expected::LANGUAGE,
                    dirAndNlv});
  }
  for (const char drive : string("@[`{")) {
    rows.push_back(
        {"not a drive letter", {drive + string(":\\L") + NUL}, expected::INSTALL_DIR, dirOnly});
  }
  for (const RefusedRow& row : rows) {
    SCOPED_TRACE(row.name + (": " + row.values.installedNlv));
    resetFakeWindows();
    fake.codePage = row.codePage;
    registerValues(fake, row.values);
    EXPECT_EQ(runUpdate(), 1);
    ASSERT_EQ(fake.boxes.size(), 1u);
    EXPECT_EQ(fake.boxes[0].text, row.message);
    EXPECT_EQ(fake.boxes[0].caption, expected::CAPTION);
    EXPECT_EQ(fake.boxes[0].type, 0x10u);
    EXPECT_EQ(queriedValues(), row.queried);
    EXPECT_FALSE(touchedInstallation());
  }
}

TEST_F(RegistrationTest, MissingValuesStopAtTheFirst) {
  struct Row {
    const char* name;
    std::vector<const char*> missing;
    string message;
    std::size_t queries;
  } rows[] = {
      {"directory and language missing", {"InstallDir", "Installed NLV"}, expected::INSTALL_DIR, 1},
      {"language missing", {"Installed NLV"}, expected::LANGUAGE, 2},
      {"level missing", {"ServiceLevel"}, expected::LEVEL, 3},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    resetFakeWindows();
    registerValues(fake, Values{});
    for (const char* name : row.missing) fake.values.erase(name);
    EXPECT_EQ(runUpdate(), 1);
    ASSERT_EQ(fake.boxes.size(), 1u);
    EXPECT_EQ(fake.boxes[0].text, row.message);
    EXPECT_EQ(queriedValues().size(), row.queries);
    EXPECT_FALSE(touchedInstallation());
  }
}

TEST_F(RegistrationTest, KeyThatCannotBeOpenedMeansNotInstalled) {
  struct Row {
    const char* name;
    bool keyExists;
    long openError;
  } rows[] = {{"no key", false, 0}, {"access denied", true, 5}, {"any other error", true, 1018}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    resetFakeWindows();
    registerValues(fake, Values{});
    fake.keyExists = row.keyExists;
    fake.openReadError = row.openError;
    EXPECT_EQ(runUpdate(), 1);
    EXPECT_EQ(fake.calls, (std::vector<string>{
                              "open Software\\Kestrade\\Lumeric Server\\4.5 0x20019", "box 0x10"}));
    EXPECT_EQ(fake.boxes[0].text, expected::NOT_INSTALLED);
  }
}

TEST_F(RegistrationTest, RecordingTheLevelWritesFourBytesThroughItsOwnHandle) {
  struct Row {
    const char* name;
    long openWriteError, setError;
    bool recorded;
    std::vector<string> calls;
  } rows[] = {
      {"recorded",
       0,
       0,
       true,
       {"open Software\\Kestrade\\Lumeric Server\\4.5 0x20006", "set ServiceLevel type=1 size=4",
        "close 1"}},
      {"key cannot be opened for writing",
       5,
       0,
       false,
       {"open Software\\Kestrade\\Lumeric Server\\4.5 0x20006"}},
      {"value cannot be set",
       0,
       5,
       false,
       {"open Software\\Kestrade\\Lumeric Server\\4.5 0x20006", "set ServiceLevel type=1 size=4",
        "close 1"}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    resetFakeWindows();
    fake.openWriteError = row.openWriteError;
    fake.setError = row.setError;
    ComposedText keyPath;
    composeKeyPath(keyPath);
    EXPECT_EQ(recordUpdateLevel(keyPath).stop, !row.recorded);
    EXPECT_EQ(fake.calls, row.calls);
    EXPECT_EQ(fake.written.count("ServiceLevel") == 1, row.recorded);
    if (row.recorded) {
      EXPECT_EQ(fake.written["ServiceLevel"], expected::LEVEL_BYTES);
    }
  }
}

}  // namespace
