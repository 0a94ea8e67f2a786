// A form without a window: the fields are plain values, so the editor's
// commands run from a script (iptv-list) or a test exactly as they run
// behind the window's controls.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "editing/form.h"

class ValueForm : public FormView {
 public:
  // The window's address control starts at 224.2.2.1.
  static constexpr uint32_t kStartAddress = 0xE0020201u;

  std::string Text(FormField field) const override { return m_texts[Index(field)]; }
  void SetText(FormField field, const std::string& text) override { m_texts[Index(field)] = text; }
  bool Checked(FormField) const override { return m_order; }
  void SetChecked(FormField, bool checked) override { m_order = checked; }
  void FocusAndSelectAll(FormField) override {}
  bool HdChecked() const override { return m_hd; }
  void SetHdChecked(bool checked) override { m_hd = checked; }
  bool AddressBlank() const override { return !m_address.has_value(); }
  uint32_t Address() const override { return m_address.value_or(0); }
  void SetAddress(uint32_t hostOrder) override { m_address = hostOrder; }
  void ShowRows(const std::vector<RowTexts>& rows) override { m_rows = rows; }

  // nullopt blanks the address control.
  void SetAddressOrBlank(std::optional<uint32_t> hostOrder) { m_address = hostOrder; }
  const std::vector<RowTexts>& ShownRows() const { return m_rows; }

 private:
  static size_t Index(FormField field) { return static_cast<size_t>(field); }
  std::array<std::string, 7> m_texts{};
  bool m_order = false;
  bool m_hd = false;
  std::optional<uint32_t> m_address = kStartAddress;
  std::vector<RowTexts> m_rows;
};
