// Every message box and question goes through this one interface: the window
// shows modal boxes, the headless runner prints to standard error, tests
// record.
#pragma once

#include <string>

enum class MessageIcon { None, Exclamation, Question };

class Prompter {
 public:
  virtual ~Prompter() = default;
  // A modal box with an OK button and the application's name as caption.
  virtual void ShowMessage(const std::string& text, MessageIcon icon = MessageIcon::None) = 0;
  // A box with `caption`, OK and Cancel, the question icon and Cancel as the
  // default button. True only when the operator answers OK.
  virtual bool AskOkCancel(const std::string& text, const std::string& caption) = 0;
  // A failed operation the operator may try again or give up: true for
  // Retry. Without a box of its own, the OK/Cancel question stands in.
  virtual bool AskRetry(const std::string& text) { return AskOkCancel(text, "Retry"); }
};
