// Deployment of the payload: the compiler's folder, the copies, and the checks around them.
#include "installer/payload.h"

#include <cstdio>
#include <cstring>

#include "installer/ansi_text.h"
#include "installer/copy_commands.h"
#include "installer/interpreter_settings.h"
#include "installer/messages.h"
#include "installer/update_checks.h"
#include "platform/platform.h"

namespace {

constexpr char COMPILER_VARIABLE[] = "QDXCOMP";
constexpr char INTERPRETER_VARIABLE[] = "COMSPEC";
constexpr char NO_CURRENT_FOLDER_SEARCH_VARIABLE[] = "NoDefaultCurrentDirectoryInExePath";

// The payload for the compiler named "MSVC" is shipped in the directory MS60.
const char* compilerDirFor(const char* compiler) {
  return std::strcmp(compiler, "MSVC") == 0 ? "MS60" : compiler;
}

// xcopy ends with 0 when it copied and 1 when it found nothing to copy; every
// other status, and -1 for an interpreter that did not start, is a failure.
bool runCopy(const char* command) {
  const int status = platform::runCommand(command);
  return status == 0 || status == 1;
}

// The C library's system starts COMSPEC; where that cannot start, it looks for
// cmd.exe in the current folder first.
bool isUsableInterpreter(const char* path) {
  platform::FileFacts facts;
  return path != nullptr && isFullPath(path) && platform::fileFacts(path, &facts) &&
         !platform::describesFolder(facts);
}

// Nothing from the distribution may run: cmd.exe looks for xcopy in the current
// folder before PATH unless the variable is defined (Vista and later), and the
// C library's system looks for cmd.exe there when COMSPEC cannot start. Setting
// either to nothing would remove it.
void keepCopiesToSystemPrograms() {
  platform::setEnvironmentValue(NO_CURRENT_FOLDER_SEARCH_VARIABLE, "1");
  char folder[LONG_VALUE_SIZE];  // GetSystemDirectory gives at most MAX_PATH
  ComposedText systemInterpreter;
  if (isUsableInterpreter(platform::environmentValue(INTERPRETER_VARIABLE)) ||
      !platform::systemDirectory(folder, sizeof folder)) {
    return;
  }
  (void)std::snprintf(systemInterpreter, sizeof systemInterpreter, "%s\\cmd.exe", folder);
  platform::setEnvironmentValue(INTERPRETER_VARIABLE, systemInterpreter);
}

// All three run, in order, whatever the one before achieved; true when every
// one succeeded. Every command fits: the names were checked before.
bool runCopies(const PayloadTrees& trees, const char* installDir) {
  bool allCopied = true;
  for (const PayloadTree& tree : trees) {
    ComposedText command;
    composeCopyCommand(tree, installDir, command);
    allCopied = runCopy(command) && allCopied;
  }
  return allCopied;
}

}  // namespace

RunOutcome findCompilerDir(const char* installDir, bool delayedExpansion,
                           const char** compilerDir) {
  const char* compiler = platform::environmentValue(COMPILER_VARIABLE);
  if (compiler == nullptr || compiler[0] == '\0') return stopRun(NO_COMPILER_MESSAGE);
  *compilerDir = compilerDirFor(compiler);
  if (!isPlainFolderName(*compilerDir) || expandsExclamationMark(*compilerDir, delayedExpansion) ||
      !commandFits(PayloadTree{*compilerDir, *compilerDir}, installDir)) {
    return stopRun(BAD_COMPILER_MESSAGE);
  }
  return GO_ON;
}

RunOutcome deployPayload(const InstallRecord& record, const char* compilerDir,
                         const Session& session) {
  const PayloadTrees trees = {
      {"Common", ""}, {compilerDir, compilerDir}, {record.installedNlv, ""}};
  PayloadListing listing;
  RunOutcome outcome = checkUpdateCanComplete(record.installDir, trees, session, &listing);
  if (outcome.stop) return outcome;

  keepCopiesToSystemPrograms();
  const bool copied = runCopies(trees, record.installDir);
  outcome = checkEveryItemInPlace(listing);
  if (outcome.stop) return outcome;
  if (!copied) return stopRun(COPY_FAILED_MESSAGE, EXIT_INCOMPLETE);
  return GO_ON;
}
