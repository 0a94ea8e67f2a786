// Helpers shared by the window tests.
#pragma once

#include <functional>
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
  // Retry or give up: `onRetry` answers (and may fix the cause first); give
  // up when it is not set.
  bool AskRetry(const std::string& text) override {
    retries.push_back(text);
    return onRetry ? onRetry() : false;
  }
  std::vector<Message> messages;
  std::vector<std::pair<std::string, std::string>> questions;
  std::vector<std::string> retries;
  std::function<bool()> onRetry;
  bool answer = true;
};
