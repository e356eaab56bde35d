#include "installer/update_run.h"

#include "installer/level_gate.h"
#include "installer/message_boxes.h"
#include "installer/payload.h"
#include "installer/registration.h"
#include "platform/platform.h"

namespace {

int endRun(const RunOutcome& outcome, const Session& session) {
  if (outcome.message[0] != '\0') showError(session, outcome.message);
  return outcome.exitStatus;
}

}  // namespace

// On a stop the read key is left to the end of the process.
int runUpdate() {
  const Session session{platform::boxesCanBeSeen()};
  ComposedText keyPath;
  composeKeyPath(keyPath);

  platform::KeyHandle key = nullptr;
  RunOutcome outcome = openKeyForReading(keyPath, &key);
  if (outcome.stop) return endRun(outcome, session);

  InstallRecord record;
  outcome = readInstallRecord(key, &record);
  if (outcome.stop) return endRun(outcome, session);

  outcome = passLevelGate(record.serviceLevel, session);
  if (outcome.stop) return endRun(outcome, session);

  closeReadKey(key);
  outcome = deployPayload(record, keyPath, session);
  if (outcome.stop) return endRun(outcome, session);

  return endRun(recordUpdateLevel(keyPath), session);
}
