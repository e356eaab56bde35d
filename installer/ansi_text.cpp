// Text as the characters of the ANSI code page.
#include "installer/ansi_text.h"

#include <cstring>

#include "platform/platform.h"

// No double-byte code page has a trail byte below 0x40: such a byte after a lead
// byte (a quote, %, a space, a control character) is a character of its own.
constexpr unsigned char LOWEST_TRAIL_BYTE = 0x40;

const char* nextCharacter(const char* c) {
  if (platform::isLeadByte(*c) && static_cast<unsigned char>(c[1]) >= LOWEST_TRAIL_BYTE) {
    return c + 2;
  }
  return c + 1;
}

std::size_t characterCount(const char* text) {
  std::size_t count = 0;
  for (const char* c = text; *c != '\0'; c = nextCharacter(c)) ++count;
  return count;
}

namespace {

// The start of the last character of text, or null when text is empty.
const char* lastCharacter(const char* text) {
  const char* last = nullptr;
  for (const char* c = text; *c != '\0'; c = nextCharacter(c)) last = c;
  return last;
}

// The bytes 0x01 to 0x1F.
bool isControlCharacter(char c) {
  const auto byte = static_cast<unsigned char>(c);
  return byte >= 0x01 && byte <= 0x1F;
}

}  // namespace

bool endsInLoneLeadByte(const char* text) {
  const char* last = lastCharacter(text);
  return last != nullptr && last[1] == '\0' && platform::isLeadByte(*last);
}

bool endsInBackslash(const char* text) {
  const char* last = lastCharacter(text);
  return last != nullptr && last[0] == '\\' && last[1] == '\0';
}

std::size_t lastSeparator(const char* text) {
  std::size_t at = 0;
  for (const char* c = text; *c != '\0'; c = nextCharacter(c)) {
    if (*c == '\\') at = static_cast<std::size_t>(c - text);
  }
  return at;
}

bool holdsControlCharacterOrAnyOf(const char* text, const char* refused) {
  for (const char* c = text; *c != '\0'; c = nextCharacter(c)) {
    const bool singleByte = nextCharacter(c) == c + 1;
    if (singleByte && (isControlCharacter(*c) || std::strchr(refused, *c) != nullptr)) return true;
  }
  return false;
}

bool isFullPath(const char* path) {
  const bool driveLetter = (path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z');
  const bool onDrive = driveLetter && path[1] == ':' && (path[2] == '\\' || path[2] == '/');
  return onDrive || (path[0] == '\\' && path[1] == '\\');
}
