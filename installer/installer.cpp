// The run's outcomes: stops and the messages they carry.
#include "installer/installer.h"

#include <cstdio>
#include <cstring>

#include "installer/ansi_text.h"

RunOutcome stopRun(const char* message, int exitStatus) {
  RunOutcome outcome{true, exitStatus, {}};
  if (message != nullptr)
    (void)std::snprintf(outcome.message, sizeof outcome.message, "%s", message);
  return outcome;
}

RunOutcome stopRunNaming(const char* format, const char* name, int exitStatus, const char* detail) {
  RunOutcome outcome = stopRun(nullptr, exitStatus);
  ComposedText& message = outcome.message;
  constexpr char ELLIPSIS[] = "...";
  const int fixed = std::snprintf(nullptr, 0, format, "", detail);
  const std::size_t room = sizeof message - 1 - static_cast<std::size_t>(fixed);
  const char* tail = name;
  while (std::strlen(tail) > room) tail = nextCharacter(tail);
  if (tail == name) {
    (void)std::snprintf(message, sizeof message, format, name, detail);
    return outcome;
  }
  while (std::strlen(tail) + sizeof ELLIPSIS - 1 > room) tail = nextCharacter(tail);
  ComposedText shortened;
  (void)std::snprintf(shortened, sizeof shortened, "%s%s", ELLIPSIS, tail);
  (void)std::snprintf(message, sizeof message, format, shortened, detail);
  return outcome;
}
