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
//   A save that is still owed when the window closes is tried again then;
//   if it fails again the operator may retry or close without it.
// - A load that did not take the whole file (it could not be read, stopped
//   at a bad line, left lines out or cut a text) never lets a later save
//   destroy what was not loaded: before the first save after it, what is on
//   disk at the path is kept beside it ("config.txt.bad-YYYYMMDD-HHMMSS")
//   and the operator is told once where. A complete load ends that rule.
// - A load never publishes its list under a version receivers hold with a
//   different list (AirVersions); the last version on the air and its list's
//   digest are kept in an AirRecordStore so that this holds across restarts.
// - A send period of all ones from the file is pointed out when it is
//   loaded: the air is silent between changes then.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "editing/air_versions.h"
#include "editing/form.h"
#include "storage/air_record.h"
#include "storage/config_file.h"
#include "table/program_table.h"
#include "table/prompter.h"

// What the operator is told after a load whose send period is all ones.
std::string SilentAirNotice(const std::string& configPath);
// ... and after a load of more programs than six sections hold.
std::string NotBroadcastNotice(int leftOut, int count);

// A program as Add takes it from the form, or from a row of an imported
// file.
struct AddCandidate {
  uint32_t number = 0;
  std::string name;
  std::string note;
  std::optional<uint32_t> address;  // host order, as the address control gives it; nullopt = blank
  uint32_t port = 0;
  uint32_t group = 0;
  bool hd = false;
};

// What a load does with a file it could not take whole.
enum class LoadPolicy {
  PublishWhatWasRead,   // the window: the list shows what could be read, as it always did
  PublishOnlyComplete,  // the headless runner: the list on the air stays as it is
};

struct LoadOutcome {
  int count = 0;           // programs read (published or not)
  bool published = false;  // the table now holds them
  bool complete = false;   // LoadedConfig::Complete()
  std::string problem;     // a missing or unreadable file: "<path>: <reason>"
};

class ProgramEditor {
 public:
  ProgramEditor(FormView& form, Prompter& prompter, std::string configPath);

  // Where the version on the air is kept across restarts (may stay unset).
  // Set before LoadAtStartup; must outlive the editor.
  void SetAirRecordStore(AirRecordStore* store) { m_air.SetStore(store); }
  // Called on this thread after every change that the broadcast must pick
  // up (every refresh and Force Update): the loop's wake for a send period
  // without time-out.
  void SetChangeHook(std::function<void()> hook) { m_onChange = std::move(hook); }

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
  // Returns the number of programs loaded. First takes the record of the
  // version last on the air, from which this run goes on. With holdNotice,
  // the notice that some programs do not fit into the play list waits for
  // ShowHeldNotice(), so that a window can start the broadcast before a box
  // waits for an answer; the file's own messages are shown while it is read
  // either way.
  int LoadAtStartup(bool holdNotice = false);
  LoadOutcome LoadAtStartup(LoadPolicy policy, bool holdNotice = false);
  void ShowHeldNotice();
  // "Reload Config." with a policy; OnReloadConfig publishes what was read.
  LoadOutcome ReloadConfig(LoadPolicy policy);
  const LoadOutcome& LastLoad() const { return m_lastLoad; }

  // A save that failed and has not succeeded since is owed.
  bool SavePending() const { return m_savePending; }
  // Before the window closes: tries an owed save again; while it fails, asks
  // the operator (path and reason) whether to retry or to close without it.
  void SaveBeforeClose();

  // Closes a change of the table: sorts when ordering by number is on,
  // rebuilds the rows of entries 0..count-1 (count 0 = the current number of
  // rows), raises g_bListChanged, shows the rows, writes the form and, when
  // bSave, rewrites the config file from the rows.
  void RefreshList(int count, bool bSave);

  const std::string& ConfigPath() const { return m_configPath; }
  // Where the editor's messages and questions go.
  Prompter& MessagePrompter() const { return m_prompter; }

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

  // Add's tests that need no answer, in Add's order (number, address,
  // capacity, texts, the play list's room), for a program that would follow
  // the table's programs and then `pending`. The message of the first test
  // that fails, or nullopt.
  std::optional<std::string> AddRefusal(const AddCandidate& program, const std::vector<ProgramEntry>& pending) const;
  // The first program of the table, then of `pending`, that shares the
  // address and port with `program` (which must have an address), or null.
  const ProgramEntry* FirstSharing(const AddCandidate& program, const std::vector<ProgramEntry>& pending) const;
  // The table entry Add stores for `program`.
  static ProgramEntry EntryFor(const AddCandidate& program);
  // Appends `entries` as one edit: one refresh, one save, one new version.
  // The caller has made Add's tests of each.
  void AddPrograms(const std::vector<ProgramEntry>& entries);

 private:
  LoadOutcome LoadAndPublish(LoadPolicy policy, bool holdNotice = false);
  // Takes the table's part of a refresh; g_TableGuard must be held. Returns
  // the version the loop's next cycle encodes the table with.
  uint8_t RefreshLocked(int count);
  // After the guard is released: records what goes on the air under which
  // version, keeps that record and wakes the loop.
  void Announce(uint8_t current, uint8_t preStep, uint64_t digest);
  void AnnounceEdit(uint8_t preStep);
  // What follows the table's part of a refresh, after the guard is released.
  void FinishRefresh(bool bSave);
  // Writes the rows to the file, keeping an incompletely loaded file first.
  SaveResult Save();
  // Refuses a name or remark that the table or the file cannot hold; shows
  // the reason and returns false.
  bool TextsAcceptable();
  // Refuses a change that would leave more programs off the air; `changed`
  // is the table's programs with the change applied.
  bool StillFits(const std::vector<ProgramEntry>& changed, int currentCount);
  std::optional<std::string> FitRefusal(const std::vector<ProgramEntry>& changed, int currentCount) const;
  ProgramEntry EntryFromForm(const std::string& addressText) const;

  FormView& m_form;
  Prompter& m_prompter;
  std::string m_configPath;
  SaveFailureReporter m_saveReporter;
  std::vector<RowTexts> m_rows;
  bool m_inExchange = false;
  std::string m_heldNotice;
  AirVersions m_air;
  std::function<void()> m_onChange;
  LoadOutcome m_lastLoad;
  bool m_keepBeforeSave = false;  // the last load did not take the whole file
  bool m_savePending = false;
};
