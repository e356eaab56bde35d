// The level gate: which installed levels ask which question, and which answers let
// the update go on.
#include "installer/level_gate.h"

#include <climits>
#include <string>

#include "installer/update_run.h"
#include "tests/unit/test_support.h"

namespace {

using std::string;

class LevelGateTest : public FakeWindowsTest {};

TEST(LevelNumber, ConvertsLikeAtoiInTheCLocale) {
  const struct {
    const char* text;
    int number;
  } rows[] = {
      {"2", 2},
      {"02", 2},
      {" 2", 2},
      {"\t\n\v\f\r2", 2},
      {"+2", 2},
      {"2abc", 2},
      {"-1", -1},
      {"", 0},
      {"GA", 0},
      {"x2", 0},
      {"+-2", 0},
      {"- 2", 0},
      {"\x02", 0},
      {"999", 999},
      {"2147483647", INT_MAX},
      {"99999999999", INT_MAX},
      {"-2147483648", INT_MIN},
      {"-99999999999", INT_MIN},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(levelNumber(row.text), row.number) << '"' << row.text << '"';
  }
}

TEST_F(LevelGateTest, AsksOnlyWhenTheLevelIsAlreadyThereOrHigher) {
  const string none;
  const struct {
    const char* level;
    string question;
  } rows[] = {
      {"GA", none},
      {"ga", none},
      {"Ga", none},
      {"0", none},
      {"1", none},
      {"-1", none},
      {"", none},
      {"abc", none},
      {"\x02", none},
      {"-3", none},
      {"2", expected::SAME_LEVEL},
      {"02", expected::SAME_LEVEL},
      {" 2", expected::SAME_LEVEL},
      {"+2", expected::SAME_LEVEL},
      {"2x", expected::SAME_LEVEL},
      {"3", expected::HIGHER_LEVEL},
      {"10", expected::HIGHER_LEVEL},
      {"999", expected::HIGHER_LEVEL},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(string("level \"") + row.level + '"');
    resetFakeWindows();
    EXPECT_FALSE(passLevelGate(row.level, Session{true}).stop);
    if (row.question.empty()) {
      EXPECT_TRUE(fake.boxes.empty());
      continue;
    }
    ASSERT_EQ(fake.boxes.size(), 1u);
    EXPECT_EQ(fake.boxes[0].text, row.question);
    EXPECT_EQ(fake.boxes[0].caption, expected::CAPTION);
    EXPECT_EQ(fake.boxes[0].type, 0x131u);
  }
}

// Only an explicit OK may let the update overwrite an installation of the same
// or a newer level; a box that failed to appear is no consent.
TEST_F(LevelGateTest, OnlyOkGoesOn) {
  const struct {
    const char* name;
    int answer;
    int status;
  } rows[] = {
      {"OK", 1, 0},    {"Cancel", 2, 1}, {"box not shown", 0, 1}, {"Wine without a display", -1, 1},
      {"Abort", 3, 1}, {"No", 7, 1},
  };
  for (const char* level : {"2", "3"}) {
    for (const auto& row : rows) {
      SCOPED_TRACE(string(row.name) + " at level " + level);
      resetFakeWindows();
      registerProduct("C:\\Lumeric\\", "EN", level);
      fake.compiler = "MSVC";
      fake.answers = {row.answer};
      EXPECT_EQ(runUpdate(), row.status);
      EXPECT_EQ(fake.boxes.size(), 1u) << "no message follows the question";
      EXPECT_EQ(touchedInstallation(), row.status == 0);
    }
  }
}

}  // namespace
