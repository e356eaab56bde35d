#include "installer/update_run.h"

#include "installer/level_gate.h"
#include "installer/payload.h"
#include "installer/registration.h"
#include "platform/platform.h"

namespace {

int endRun(const RunOutcome& outcome) {
  if (outcome.message != nullptr) showError(outcome.message);
  return outcome.exitStatus;
}

}  // namespace

void showError(const char* text) {
  platform::messageBox(text, productCaption, platform::BOX_ERROR);
}

RunOutcome askConfirmation(const char* text) {
  const int answer = platform::messageBox(text, productCaption, platform::BOX_CONFIRM);
  return answer == platform::ANSWER_OK ? GO_ON : stopRun(nullptr);
}

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
  return endRun(deployPayload(record, keyPath));
}
