// The error box and the question, with standard error beside them.
#include "installer/message_boxes.h"

#include "installer/messages.h"
#include "platform/platform.h"

// Since Vista, session 0 holds the services and no user sees it, whatever its
// window station says; before Vista, it was the console's session. The
// console's session tells which, where a compatibility shim hides the version.
Session currentSession() {
  const bool servicesOnly = platform::runsInSessionZero() && platform::consoleSession() != 0;
  return Session{platform::boxesCanBeSeen() && !servicesOnly};
}

void showError(const Session& session, const char* text) {
  platform::writeStandardError(text);
  if (session.boxesCanBeSeen) platform::messageBox(text, productCaption, platform::BOX_ERROR);
}

// A question that nobody can see is no consent.
RunOutcome askConfirmation(const Session& session, const char* text) {
  platform::writeStandardError(text);
  if (!session.boxesCanBeSeen) {
    platform::writeStandardError(UNANSWERED_NOTE);
    return stopRun(nullptr);
  }
  const int answer = platform::messageBox(text, productCaption, platform::BOX_CONFIRM);
  return answer == platform::ANSWER_OK ? GO_ON : stopRun(nullptr);
}
