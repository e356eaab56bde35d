#include "installer/payload.h"

#include <cstring>

#include "installer/copy_commands.h"
#include "installer/update_checks.h"
#include "platform/platform.h"

namespace {

constexpr char COMPILER_VARIABLE[] = "QDXCOMP";

constexpr char NO_COMPILER_MESSAGE[] =
    "The QDXCOMP environment variable, which names the compiler in use, is not set.\n\n"
    "Mendrel2 installation cannot continue.";
constexpr char BAD_COMPILER_MESSAGE[] =
    "The compiler name in the QDXCOMP environment variable cannot be used to copy files.\n\n"
    "Mendrel2 installation cannot continue.";
constexpr char COPY_FAILED_MESSAGE[] =
    "Failed to copy the Mendrel2 files into the installation directory.\n\n"
    "The Service Level has not been changed. Mendrel2 installation did not complete.";

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

// All three run, in order, whatever the one before achieved; true when every one succeeded.
bool runCopies(const PayloadTrees& trees, const char* installDir) {
  bool allCopied = true;
  for (const PayloadTree& tree : trees) {
    ComposedText command;
    const bool copied = composeCopyCommand(tree, installDir, command) && runCopy(command);
    allCopied = allCopied && copied;
  }
  return allCopied;
}

}  // namespace

RunOutcome deployPayload(const InstallRecord& record, const char* keyPath, const Session& session) {
  const char* compiler = platform::environmentValue(COMPILER_VARIABLE);
  if (compiler == nullptr || compiler[0] == '\0') return stopRun(NO_COMPILER_MESSAGE);
  const char* compilerDir = compilerDirFor(compiler);
  const PayloadTrees trees = {
      {"Common", ""}, {compilerDir, compilerDir}, {record.installedNlv, ""}};

  ComposedText command;
  if (!isPlainFolderName(compilerDir) ||
      !composeCopyCommand(trees[1], record.installDir, command)) {
    return stopRun(BAD_COMPILER_MESSAGE);
  }

  PayloadListing listing;
  RunOutcome outcome = checkUpdateCanComplete(keyPath, record.installDir, trees, session, &listing);
  if (outcome.stop) return outcome;

  const bool copied = runCopies(trees, record.installDir);
  outcome = checkEveryItemInPlace(listing);
  if (outcome.stop) return outcome;
  if (!copied) return stopRun(COPY_FAILED_MESSAGE, EXIT_INCOMPLETE);
  return GO_ON;
}
