#include "installer/message_boxes.h"

#include "platform/platform.h"

void showError(const char* text) {
  platform::messageBox(text, productCaption, platform::BOX_ERROR);
}

RunOutcome askConfirmation(const char* text) {
  const int answer = platform::messageBox(text, productCaption, platform::BOX_CONFIRM);
  return answer == platform::ANSWER_OK ? GO_ON : stopRun(nullptr);
}
