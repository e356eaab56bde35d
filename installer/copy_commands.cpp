#include "installer/copy_commands.h"

#include <cstdio>
#include <cstring>

#include "installer/ansi_text.h"

namespace {

// Characters that make cmd.exe do something other than pass one word to xcopy;
// it expands %NAME% even in the line it is given.
constexpr char SHELL_SPECIAL[] = " \"&|<>^%";

// A command fits when snprintf had room for all of it and its terminator.
bool fitsCommand(int length) {
  return length >= 0 && static_cast<std::size_t>(length) < COMPOSED_SIZE;
}

// A lead byte at the end would take the space or quote after the word for its trail byte.
bool isSafeUnquotedWord(const char* word) {
  return !holdsAnyOf(word, SHELL_SPECIAL) && !endsInLoneLeadByte(word);
}

}  // namespace

bool isPlainFolderName(const char* name) {
  const bool onlyDots = std::strspn(name, ".") == std::strlen(name);
  return isSafeUnquotedWord(name) && !holdsAnyOf(name, "\\/:*?") && !onlyDots;
}

bool composeCopyCommand(const PayloadTree& tree, const char* installDir, ComposedText& command) {
  return fitsCommand(std::snprintf(command, sizeof command, "xcopy /E /I %s \"%s%s\"", tree.source,
                                   installDir, tree.subfolder));
}
