// The copy command lines, and the rule for a name that stands unquoted in one.
#include "installer/copy_commands.h"

#include <cstdio>
#include <cstring>

#include "installer/ansi_text.h"

namespace {

// Characters that make cmd.exe do something other than pass one word to xcopy;
// it expands %NAME% even in the line it is given.
constexpr char SHELL_SPECIAL[] = " \"&|<>^%";

constexpr char COPY_FORMAT[] = "xcopy /E /I %s \"%s%s\"";
// The characters of the format less its three %s.
constexpr std::size_t COPY_FORMAT_FIXED = sizeof COPY_FORMAT - sizeof "%s%s%s";
static_assert(COPY_FORMAT_FIXED == 15);

// A lead byte at the end would take the space or quote after the word for its trail byte.
bool isSafeUnquotedWord(const char* word) {
  return !holdsControlCharacterOrAnyOf(word, SHELL_SPECIAL) && !endsInLoneLeadByte(word);
}

}  // namespace

bool isPlainFolderName(const char* name) {
  const bool onlyDots = std::strspn(name, ".") == std::strlen(name);
  return isSafeUnquotedWord(name) && !holdsControlCharacterOrAnyOf(name, "\\/:*?") && !onlyDots;
}

bool commandFits(const PayloadTree& tree, const char* installDir) {
  const std::size_t length = COPY_FORMAT_FIXED + std::strlen(tree.source) +
                             std::strlen(installDir) + std::strlen(tree.subfolder);
  return length < COMPOSED_SIZE;
}

void composeCopyCommand(const PayloadTree& tree, const char* installDir, ComposedText& command) {
  (void)std::snprintf(command, sizeof command, COPY_FORMAT, tree.source, installDir,
                      tree.subfolder);
}
