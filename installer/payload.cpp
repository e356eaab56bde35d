// Deployment of the payload: the compiler's folder, the copies, and the checks around them.
#include "installer/payload.h"

#include <cstdio>
#include <cstring>

#include "installer/copy_commands.h"
#include "installer/messages.h"
#include "installer/release_seal.h"
#include "installer/update_checks.h"
#include "platform/platform.h"

namespace {

constexpr char COMPILER_VARIABLE[] = "QDXCOMP";
constexpr char NO_CURRENT_FOLDER_SEARCH_VARIABLE[] = "NoDefaultCurrentDirectoryInExePath";
// Windows' own cmd.exe, with the AutoRun commands of the registry skipped (/d)
// and !NAME! left as it stands (/v:off), whatever the registry says.
constexpr char INTERPRETER_LINE[] = "\"%s\\cmd.exe\" /d /v:off /c %s";

// The payload for the compiler named "MSVC" is shipped in the directory MS60.
const char* compilerDirFor(const char* compiler) {
  return std::strcmp(compiler, "MSVC") == 0 ? "MS60" : compiler;
}

// The system folder, where only administrators can write.
using SystemFolder = char[LONG_VALUE_SIZE];  // GetSystemDirectory gives at most MAX_PATH

// xcopy ends with 0 when it copied and 1 when it found nothing to copy; every
// other status, and -1 for an interpreter that did not start, is a failure.
// Started by its full path, the interpreter is looked for nowhere else, and
// COMSPEC, which a user's registry sets even for an administrator, is not read.
bool runCopy(const SystemFolder& systemFolder, const char* command) {
  ComposedText interpreter;
  char line[LONG_VALUE_SIZE + COMPOSED_SIZE + sizeof INTERPRETER_LINE];  // each part fits
  (void)std::snprintf(interpreter, sizeof interpreter, "%s\\cmd.exe", systemFolder);
  (void)std::snprintf(line, sizeof line, INTERPRETER_LINE, systemFolder, command);
  const int status = platform::runProgram(interpreter, line);
  return status == 0 || status == 1;
}

// The copies find only the system's programs: a folder on PATH that users can
// write to could hold an xcopy of its own, and cmd.exe looks in the current
// folder first unless told not to (Vista and later). The Windows folder is left
// out, since a program that is not Terminal-Server-aware may get a per-user one.
bool keepCopiesToSystemPrograms(SystemFolder& systemFolder) {
  if (!platform::systemDirectory(systemFolder, sizeof systemFolder)) return false;
  platform::setEnvironmentValue("PATH", systemFolder);
  platform::setEnvironmentValue("PATHEXT", COPY_EXTENSIONS);
  platform::setEnvironmentValue(NO_CURRENT_FOLDER_SEARCH_VARIABLE, "1");
  return true;
}

// All three run, in order, whatever the one before achieved; true when every
// one succeeded. Every command fits: the names were checked before.
bool runCopies(const PayloadTrees& trees, const char* installDir,
               const SystemFolder& systemFolder) {
  bool allCopied = true;
  for (const PayloadTree& tree : trees) {
    ComposedText command;
    composeCopyCommand(tree, installDir, command);
    allCopied = runCopy(systemFolder, command) && allCopied;
  }
  return allCopied;
}

}  // namespace

RunOutcome findCompilerDir(const char* installDir, const char** compilerDir) {
  const char* compiler = platform::environmentValue(COMPILER_VARIABLE);
  if (compiler == nullptr || compiler[0] == '\0') return stopRun(NO_COMPILER_MESSAGE);
  *compilerDir = compilerDirFor(compiler);
  if (!isPlainFolderName(*compilerDir) ||
      !commandFits(PayloadTree{*compilerDir, *compilerDir}, installDir)) {
    return stopRun(BAD_COMPILER_MESSAGE);
  }
  return GO_ON;
}

RunOutcome deployPayload(const InstallRecord& record, const char* compilerDir,
                         const Session& session) {
  const PayloadTrees trees = {
      {"Common", ""}, {compilerDir, compilerDir}, {record.installedNlv, ""}};
  SystemFolder systemFolder;
  if (!keepCopiesToSystemPrograms(systemFolder)) return stopRun(NO_SYSTEM_FOLDER_MESSAGE);
  ReleaseSeal seal;
  RunOutcome outcome = openSeal(&seal);
  if (outcome.stop) return outcome;
  PayloadListing listing;
  outcome = checkUpdateCanComplete(record.installDir, trees, session, seal, &listing);
  if (outcome.stop) return outcome;

  // A copy must not outlive the run, as it would when someone ends setup.exe in
  // Task Manager or with taskkill (deployment tools end only what they started:
  // install.cmd's cmd.exe). Where no job can be joined (Windows 7 and older,
  // inside another job), the copies run all the same, holding the run's name.
  const unsigned long jobError = platform::endStartedProgramsWithProcess();
  if (jobError != 0) {
    char notice[sizeof NO_JOB_NOTICE + 24];  // room for any number
    (void)std::snprintf(notice, sizeof notice, NO_JOB_NOTICE, jobError);
    platform::writeStandardError(notice);
  }
  const bool copied = runCopies(trees, record.installDir, systemFolder);
  outcome = checkEveryItemInPlace(listing, seal);
  if (outcome.stop) return outcome;
  if (!copied) return stopRun(COPY_FAILED_MESSAGE, EXIT_INCOMPLETE);
  return GO_ON;
}
