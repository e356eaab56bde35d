#include "installer/update_run.h"

#include "installer/level_gate.h"
#include "installer/message_boxes.h"
#include "installer/payload.h"
#include "installer/registration.h"

namespace {

int endRun(const RunOutcome& outcome) {
  if (outcome.message[0] != '\0') showError(outcome.message);
  return outcome.exitStatus;
}

}  // namespace

// On a stop the read key is left to the end of the process.
int runUpdate() {
  ComposedText keyPath;
  composeKeyPath(keyPath);

  platform::KeyHandle key = nullptr;
  RunOutcome outcome = openKeyForReading(keyPath, &key);
  if (outcome.stop) return endRun(outcome);

  InstallRecord record;
  outcome = readInstallRecord(key, &record);
  if (outcome.stop) return endRun(outcome);

  outcome = passLevelGate(record.serviceLevel);
  if (outcome.stop) return endRun(outcome);

  closeReadKey(key);
  outcome = deployPayload(record);
  if (outcome.stop) return endRun(outcome);

  return endRun(recordUpdateLevel(keyPath));
}
