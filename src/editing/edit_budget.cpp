#include "editing/edit_budget.h"

namespace {

constexpr size_t kMaxNameBytes = sizeof(ProgramEntry::szName) - 1;

PlayListBudget Measure(std::vector<ProgramEntry> programs, bool orderByNumber) {
  const int count = static_cast<int>(programs.size());
  // The refresh sorts before the list goes on the air, and the order decides
  // where the sections break.
  if (orderByNumber) SortByNumber(programs.data(), count);
  return MeasurePlayList(programs.data(), count);
}

}  // namespace

bool ChangeFits(const std::vector<ProgramEntry>& changed, const ProgramEntry* current, int currentCount,
                bool orderByNumber) {
  std::vector<ProgramEntry> after = changed;
  const int count = static_cast<int>(after.size());
  if (orderByNumber) SortByNumber(after.data(), count);
  int leftAfter = 0;
  if (PlayListFits(after.data(), count, &leftAfter)) return true;
  int leftBefore = 0;
  PlayListFits(current, currentCount, &leftBefore);
  return leftAfter <= leftBefore;
}

EditPreview PreviewEdits(const ProgramEntry* programs, int count, const std::string& name, uint32_t number,
                         std::optional<int> selRow, bool orderByNumber) {
  EditPreview p;
  const std::vector<ProgramEntry> table(programs, programs + count);
  p.now = MeasurePlayList(programs, count);
  ProgramEntry entry{};
  CopyField(entry.szName, name);
  entry.nNumber = static_cast<int32_t>(number);
  const bool nameTooLong = name.size() > kMaxNameBytes;

  std::vector<ProgramEntry> added = table;
  added.push_back(entry);
  p.add = Measure(added, orderByNumber);
  if (count >= MAX_PROGRAMS)
    p.addFit = EditFit::TableFull;
  else if (nameTooLong)
    p.addFit = EditFit::NameTooLong;
  else if (!ChangeFits(added, programs, count, orderByNumber))
    p.addFit = EditFit::Full;

  p.modify = p.now;
  if (!selRow || *selRow < 0 || *selRow >= MAX_PROGRAMS) return p;
  // A row past the end changes a slot the list does not show (as Modify does).
  std::vector<ProgramEntry> modified = table;
  if (*selRow < count) {
    modified[static_cast<size_t>(*selRow)] = entry;
  }
  p.modify = Measure(modified, orderByNumber);
  if (nameTooLong)
    p.modifyFit = EditFit::NameTooLong;
  else if (!ChangeFits(modified, programs, count, orderByNumber))
    p.modifyFit = EditFit::Full;
  else
    p.modifyFit = EditFit::Fits;
  return p;
}
