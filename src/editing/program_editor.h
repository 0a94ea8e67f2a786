// The operator's editing commands and the refresh that closes every change
// of the program table, behind the form and prompter interfaces so that they
// run and are tested without a window.
//
// Threads: every member function runs on the window thread (or the headless
// runner's main thread), which is the only writer of g_Programs. Each command
// validates and asks its questions without g_TableGuard, then takes the guard
// for one edit: from the first change of the table until the rows are
// rebuilt. No message, question or file I/O happens while the guard is held.
// The broadcast thread reads m_nSendRate, nothing else of this object.
//
// Decisions where the behaviour was ours to choose:
// - Modify before any row was clicked tells the operator "Select a program in
//   the list first" and changes nothing. A remembered row past the last row
//   (after deletes or a reload) still takes the values, in a table slot the
//   list does not show, so list and file keep their programs; the row is
//   always below MAX_PROGRAMS, since only a click on an existing row sets it.
// - Add and Modify refuse a name or remark longer than 127 bytes (the field's
//   room) with a message naming the field and the limit, rather than cutting
//   it silently.
// - Add and Modify refuse a name or remark holding ':' or a line break: the
//   config file has no escaping, so the program would come back broken (or
//   end the load) at the next load.
// - Add and Modify refuse a change after which the play list would leave out
//   more programs than it does now (six sections of 1024 bytes). A loaded
//   file that does not fit is accepted, and the operator is told how many
//   programs are not broadcast.
// - A failed save is reported once per run of failures (SaveFailureReporter).
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "storage/config_file.h"
#include "editing/form.h"
#include "table/program_table.h"
#include "table/prompter.h"

class ProgramEditor {
 public:
  ProgramEditor(FormView& form, Prompter& prompter, std::string configPath);

  // The form's members, public like the dialog's. UpdateData moves them to
  // and from the form's fields.
  uint32_t m_nPort = 0;
  uint32_t m_nNumber = 0;
  uint32_t m_nGroup = 0;
  std::string m_strName;
  std::string m_strNote;
  std::atomic<uint32_t> m_nSendRate{0};  // the broadcast loop reads it every cycle
  int32_t m_bOrderByNumber = 0;
  std::optional<int> m_nSelRow;  // the row last clicked; nullopt before the first click, never adjusted

  // save = true reads the form in field order; a refused number shows the
  // prompt, focuses its field and stops the read (the later members keep
  // their values) and returns false. save = false writes the members into
  // the form. The address control and the HD box take no part.
  bool UpdateData(bool save);
  // True while UpdateData runs: the window ignores its controls' change
  // notifications then, so writing the form never starts a command.
  bool InExchange() const { return m_inExchange; }

  // The initialisation's values: port 10001, number 0, name "Name", send
  // rate 10, order by number on. The window sets the address 224.2.2.1.
  void SetDefaults();

  // Loads the config file and publishes it as one edit, without saving.
  // Returns the number of programs loaded. With holdNotice, the notice that
  // some programs do not fit into the play list waits for ShowHeldNotice(),
  // so that a window can start the broadcast before a box waits for an
  // answer; the file's own messages are shown while it is read either way.
  int LoadAtStartup(bool holdNotice = false);
  void ShowHeldNotice();

  // Closes a change of the table: sorts when ordering by number is on,
  // rebuilds the rows of entries 0..count-1 (count 0 = the current number of
  // rows), raises g_bListChanged, shows the rows, writes the form and, when
  // bSave, rewrites the config file from the rows.
  void RefreshList(int count, bool bSave);

  // The program list's rows; Rows().size() is the number of programs.
  const std::vector<RowTexts>& Rows() const { return m_rows; }

  // A click on the program list; row is -1 when no row got selected.
  void OnClickProgramList(int row);
  void OnAdd();
  void OnModify();
  void OnDelete();
  // A click on "Order by Number" or any change of the send-rate text.
  void OnOrderOrRateChange();
  void OnReloadConfig();
  void OnForceUpdate();

 private:
  int LoadAndPublish(bool holdNotice);
  // What follows the table's part of a refresh, after the guard is released.
  void FinishRefresh(bool bSave);
  // Refuses a name or remark that the table or the file cannot hold; shows
  // the reason and returns false.
  bool TextsAcceptable();
  // Refuses a change that would leave more programs off the air; `changed`
  // is the table's programs with the change applied.
  bool StillFits(const std::vector<ProgramEntry>& changed, int currentCount);
  ProgramEntry EntryFromForm(const std::string& addressText) const;

  FormView& m_form;
  Prompter& m_prompter;
  std::string m_configPath;
  SaveFailureReporter m_saveReporter;
  std::vector<RowTexts> m_rows;
  bool m_inExchange = false;
  std::string m_heldNotice;
};
