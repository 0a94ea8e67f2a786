// Helpers shared by the window tests.
#pragma once

#include <QString>
#include <QStringList>
#include <functional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "table/prompter.h"

// Failure messages show Qt's strings as text.
inline void PrintTo(const QString& text, std::ostream* os) { *os << '"' << text.toStdString() << '"'; }
inline void PrintTo(const QStringList& texts, std::ostream* os) {
  *os << '"' << texts.join(QStringLiteral("\", \"")).toStdString() << '"';
}

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

// Hands every message to a function, at the moment a box would open.
class CallbackPrompter : public Prompter {
 public:
  explicit CallbackPrompter(std::function<void(const std::string&)> onMessage) : m_onMessage(std::move(onMessage)) {}
  void ShowMessage(const std::string& text, MessageIcon) override { m_onMessage(text); }
  bool AskOkCancel(const std::string& text, const std::string&) override {
    m_onMessage(text);
    return false;
  }

 private:
  std::function<void(const std::string&)> m_onMessage;
};
