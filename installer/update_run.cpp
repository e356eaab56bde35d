// The run of the update: its stages in order.
#include "installer/update_run.h"

#include "installer/level_gate.h"
#include "installer/message_boxes.h"
#include "installer/messages.h"
#include "installer/payload.h"
#include "installer/registration.h"
#include "platform/platform.h"

namespace {

// One name in every session of the computer.
constexpr char RUN_MUTEX_NAME[] =
    "Global\\" PRODUCT_NAME_TEXT " " PRODUCT_VERSION_TEXT " " UPDATE_NAME_TEXT;

int endRun(const RunOutcome& outcome, const Session& session) {
  if (outcome.message[0] != '\0') showError(session, outcome.message);
  return outcome.exitStatus;
}

// A second run would ask its own question and copy over the first one's files.
// Only a mutex made now proves that no other run holds the name: one that this
// process may not open, or another kind of object under the name, may be another's.
// The copies inherit the name, so that a copy that outlives this process still holds it.
RunOutcome claimTheOnlyRun() {
  if (platform::createProcessMutex(RUN_MUTEX_NAME, true) != platform::RESULT_SUCCESS) {
    return stopRun(ANOTHER_RUN_MESSAGE, EXIT_RETRY);
  }
  return GO_ON;
}

// Under UAC a limited or virtualized process would pass the checks and then
// have its copies refused, or land in the user's VirtualStore; without the key
// open for writing the level could not be recorded after the copies.
RunOutcome checkRights(const char* keyPath) {
  if (platform::runsRestricted() || !keyOpensForWriting(keyPath)) return stopRun(NO_RIGHTS_MESSAGE);
  return GO_ON;
}

}  // namespace

// On a stop the read key is left to the end of the process.
int runUpdate() {
  const Session session = currentSession();
  RunOutcome outcome = claimTheOnlyRun();
  if (outcome.stop) return endRun(outcome, session);

  ComposedText keyPath;
  composeKeyPath(keyPath);

  platform::KeyHandle key = nullptr;
  outcome = openKeyForReading(keyPath, &key);
  if (outcome.stop) return endRun(outcome, session);

  InstallRecord record;
  outcome = readInstallRecord(key, &record);
  if (outcome.stop) return endRun(outcome, session);

  // Before the question, so that nobody is asked for an update that they may not make.
  outcome = checkRights(keyPath);
  if (outcome.stop) return endRun(outcome, session);

  outcome = passLevelGate(record.serviceLevel, session);
  if (outcome.stop) return endRun(outcome, session);

  platform::closeKey(key);
  const char* compilerDir = nullptr;
  outcome = findCompilerDir(record.installDir, &compilerDir);
  if (outcome.stop) return endRun(outcome, session);

  outcome = deployPayload(record, compilerDir, session);
  if (outcome.stop) return endRun(outcome, session);

  return endRun(recordUpdateLevel(keyPath), session);
}
