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
};
