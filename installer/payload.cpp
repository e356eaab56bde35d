#include "installer/payload.h"

#include <cstdio>
#include <cstring>

#include "installer/ansi_text.h"
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
constexpr char NOT_COPIED_MESSAGE[] =
    "The Mendrel2 file \"%s\" was not copied into the installation.\n\n"
    "The Service Level has not been changed. Mendrel2 installation did not complete.";
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
bool runCopies(const char* destination, const char* compilerDir, const char* installedNlv) {
  ComposedText command;
  const bool commonCopied = composeCommonCommand(destination, command) && runCopy(command);
  const bool compilerCopied =
      composeCompilerCommand(compilerDir, destination, command) && runCopy(command);
  const bool languageCopied =
      composeLanguageCommand(installedNlv, destination, command) && runCopy(command);
  return commonCopied && compilerCopied && languageCopied;
}

}  // namespace

RunOutcome deployPayload(const InstallRecord& record) {
  const char* compiler = platform::environmentValue(COMPILER_VARIABLE);
  if (compiler == nullptr || compiler[0] == '\0') return stopRun(NO_COMPILER_MESSAGE);
  const char* compilerDir = compilerDirFor(compiler);

  ComposedText destination;
  static_assert(sizeof destination >= sizeof record.installDir);
  std::memcpy(destination, record.installDir, sizeof record.installDir);
  ComposedText command;
  if (!isPlainFolderName(compilerDir) ||
      !composeCompilerCommand(compilerDir, destination, command)) {
    return stopRun(BAD_COMPILER_MESSAGE);
  }

  const PayloadTree trees[3] = {
      {"Common", ""}, {compilerDir, compilerDir}, {record.installedNlv, ""}};
  PayloadListing listing;
  const RunOutcome outcome = checkUpdateCanComplete(destination, trees, &listing);
  if (outcome.stop) return outcome;

  const bool copied = runCopies(destination, compilerDir, record.installedNlv);
  if (const PayloadItem* missing = firstItemNotInPlace(listing)) {
    return stopRunNaming(NOT_COPIED_MESSAGE, listing.destinationOf(*missing), EXIT_INCOMPLETE);
  }
  if (!copied) return stopRun(COPY_FAILED_MESSAGE, EXIT_INCOMPLETE);
  return GO_ON;
}
