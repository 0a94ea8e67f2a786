// The editing form as the core sees it: the fields the exchange moves between
// the window's controls and the editor's members, and the rule a number field
// must meet. The window implements FormView with its widgets; tests implement
// it with plain structs.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "table/program_table.h"

// The form's fields in the order the exchange reads them. The order matters:
// a refused number field stops the read, so the fields after it keep their
// members' old values.
enum class FormField { Port, Number, Name, Note, SendRate, OrderByNumber, Group };

// The number rule of a number field. At most the first 31 bytes are looked
// at; blanks and tabs before the number are skipped and a minus sign there
// fails; then an optional '+' and decimal digits, read as unsigned and
// saturating at 4294967295; a result of 0 counts only if the first character
// after the blanks is '0' (so an empty field, a lone '+' or letters fail);
// after the digits only blanks and tabs may follow. nullopt = refused.
std::optional<uint32_t> ParseFormNumber(const std::string& text);

// What the window implements. Called on the window thread only.
class FormView {
 public:
  virtual ~FormView() = default;
  // The edits: Port, Number, Name, Note, SendRate and Group.
  virtual std::string Text(FormField field) const = 0;
  virtual void SetText(FormField field, const std::string& text) = 0;
  // The OrderByNumber check box.
  virtual bool Checked(FormField field) const = 0;
  virtual void SetChecked(FormField field, bool checked) = 0;
  // After a refused number: focus the field and select its whole text.
  virtual void FocusAndSelectAll(FormField field) = 0;
  // The HD box has no member: it is read and set directly.
  virtual bool HdChecked() const = 0;
  virtual void SetHdChecked(bool checked) = 0;
  // The address control: blank when all four of its fields are empty. Its
  // value is in host order, first octet most significant (224.2.2.1 is
  // 0xE0020201), with blank fields read as 0.
  virtual bool AddressBlank() const = 0;
  virtual uint32_t Address() const = 0;
  virtual void SetAddress(uint32_t hostOrder) = 0;
  // The program list was rebuilt: show exactly these rows, in this order.
  virtual void ShowRows(const std::vector<RowTexts>& rows) = 0;
};
