// Helpers shared by the window tests.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "table/prompter.h"

// Records every message and question instead of showing a box; questions
// get the answer set in `answer`.
class RecordingPrompter : public Prompter {
 public:
  struct Message {
    std::string text;
    MessageIcon icon;
  };
  void ShowMessage(const std::string& text, MessageIcon icon) override { messages.push_back({text, icon}); }
  bool AskOkCancel(const std::string& text, const std::string& caption) override {
    questions.emplace_back(text, caption);
    return answer;
  }
  std::vector<Message> messages;
  std::vector<std::pair<std::string, std::string>> questions;
  bool answer = true;
};
