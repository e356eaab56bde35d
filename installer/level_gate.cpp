// The level gate: the question before re-applying this update or back-levelling.
#include "installer/level_gate.h"

#include <climits>
#include <cstring>

#include "installer/message_boxes.h"
#include "installer/messages.h"

namespace {

bool isCSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

bool isDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

int levelNumber(const char* serviceLevel) {
  const char* c = serviceLevel;
  while (isCSpace(*c)) ++c;
  const bool negative = *c == '-';
  if (*c == '-' || *c == '+') ++c;
  long long magnitude = 0;
  for (; isDigit(*c); ++c) {
    if (magnitude <= INT_MAX) magnitude = magnitude * 10 + (*c - '0');
  }
  if (negative) return magnitude > INT_MAX ? INT_MIN : static_cast<int>(-magnitude);
  return magnitude > INT_MAX ? INT_MAX : static_cast<int>(magnitude);
}

RunOutcome passLevelGate(const char* serviceLevel, const Session& session) {
  if (std::strcmp(serviceLevel, "GA") == 0) return GO_ON;
  const int level = levelNumber(serviceLevel);
  if (level == UPDATE_LEVEL) return askConfirmation(session, SAME_LEVEL_QUESTION);
  if (level > UPDATE_LEVEL) return askConfirmation(session, HIGHER_LEVEL_QUESTION);
  return GO_ON;
}
