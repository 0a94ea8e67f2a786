// Message boxes and questions of the core, as modal Qt message boxes.
#pragma once

#include <QString>

#include "table/prompter.h"

class QWidget;

// The application's name: the executable's file name without folder and
// extension, the caption of every message box that names none of its own.
QString ApplicationName();

class QtPrompter : public Prompter {
 public:
  // Boxes are modal over `owner` (none for the start-up failure).
  explicit QtPrompter(QWidget* owner = nullptr) : m_owner(owner) {}
  void SetOwner(QWidget* owner) { m_owner = owner; }

  void ShowMessage(const std::string& text, MessageIcon icon = MessageIcon::None) override;
  bool AskOkCancel(const std::string& text, const std::string& caption) override;
  // Retry (the default, also for Escape) or "Close Anyway".
  bool AskRetry(const std::string& text) override;

 private:
  QWidget* m_owner;
};
