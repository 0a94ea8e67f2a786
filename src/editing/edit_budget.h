// Whether an edit still fits into the play list, asked before the operator
// clicks: the same rule Add and Modify apply, with the budget's figures.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "broadcast/play_list_budget.h"
#include "table/program_table.h"

// The rule of Add and Modify: the table with the change applied (`changed`,
// in list order before the refresh sorts it) may leave no more programs off
// the air than the current one does. A list that already does not fit (a
// loaded file) may still be edited as long as nothing more is left out.
bool ChangeFits(const std::vector<ProgramEntry>& changed, const ProgramEntry* current, int currentCount,
                bool orderByNumber);

enum class EditFit {
  Fits,
  Full,         // the play list would leave out more programs
  TableFull,    // Add: the table already holds 300 programs
  NameTooLong,  // more than 127 bytes: refused whatever the room
  NoRowChosen,  // Modify: no row was clicked yet
};

struct EditPreview {
  PlayListBudget now;     // the table as it is on the air
  PlayListBudget add;     // with the form's program added
  PlayListBudget modify;  // with the chosen row replaced (the table as it is when none)
  EditFit addFit = EditFit::Fits;
  EditFit modifyFit = EditFit::NoRowChosen;
};

// The form's program (its name and number are all that decide its room and
// place) added to, or put in row `selRow` of, programs 0..count-1.
EditPreview PreviewEdits(const ProgramEntry* programs, int count, const std::string& name, uint32_t number,
                         std::optional<int> selRow, bool orderByNumber);
