#include "editing/program_editor.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <utility>

#include "broadcast/section_encoder.h"
#include "editing/edit_budget.h"
#include "text/string_printf.h"

namespace {

// The framework's own prompt for a number field that does not parse.
constexpr const char* kNumberPrompt = "“请填入一个正整数。”";
constexpr size_t kMaxTextBytes = sizeof(ProgramEntry::szName) - 1;  // 127, szNote alike
static_assert(sizeof(ProgramEntry::szName) == sizeof(ProgramEntry::szNote));

// The standard dotted form of an address, as inet_ntoa gives it: no leading
// zeros, so a hand-edited "224.002.002.001" never equals it.
std::string AddressText(uint32_t hostOrder) {
  return StringPrintf("%u.%u.%u.%u", hostOrder >> 24, (hostOrder >> 16) & 0xFF, (hostOrder >> 8) & 0xFF,
                      hostOrder & 0xFF);
}

std::string StoredAddress(const ProgramEntry& e) {
  return std::string(e.szMulticast, strnlen(e.szMulticast, sizeof e.szMulticast));
}

// Two programs share an address when the stored address text equals the
// form's byte for byte and the ports are equal.
bool SharesAddress(const ProgramEntry& e, const std::string& addressText, uint32_t port) {
  return std::strncmp(e.szMulticast, addressText.c_str(), sizeof e.szMulticast) == 0 &&
         e.nPort == static_cast<int32_t>(port);
}

}  // namespace

std::string SilentAirNotice(const std::string& configPath) {
  return "The send period in " + configPath +
         " is 4294967295 ms (freq -1), which means no time-out: the play list goes on the air only once after each "
         "change (Reload Config., Force Update or an edit) and the air is silent in between";
}

std::string NotBroadcastNotice(int leftOut, int count) {
  return StringPrintf(
      "%d of the %d programs loaded do not fit into the play list (%d sections of %d bytes) and are not "
      "broadcast",
      leftOut, count, MAX_SECTIONS, SECTION_SIZE);
}

ProgramEditor::ProgramEditor(FormView& form, Prompter& prompter, std::string configPath)
    : m_form(form), m_prompter(prompter), m_configPath(std::move(configPath)), m_saveReporter(prompter) {}

bool ProgramEditor::UpdateData(bool save) {
  m_inExchange = true;
  struct Leave {
    bool& flag;
    ~Leave() { flag = false; }
  } leave{m_inExchange};

  if (!save) {
    m_form.SetText(FormField::Port, std::to_string(m_nPort));
    m_form.SetText(FormField::Number, std::to_string(m_nNumber));
    m_form.SetText(FormField::Name, m_strName);
    m_form.SetText(FormField::Note, m_strNote);
    m_form.SetText(FormField::SendRate, std::to_string(m_nSendRate.load()));
    // A check box knows 0, 1 and 2 (indeterminate); anything else is taken
    // as 0, and the member with it.
    if (m_bOrderByNumber < 0 || m_bOrderByNumber > 2) m_bOrderByNumber = 0;
    m_form.SetChecked(FormField::OrderByNumber, m_bOrderByNumber != 0);
    m_form.SetText(FormField::Group, std::to_string(m_nGroup));
    return true;
  }

  // Reads one number field; on refusal the member keeps its value and the
  // read stops here.
  auto number = [&](FormField field, auto&& store) {
    const std::optional<uint32_t> value = ParseFormNumber(m_form.Text(field));
    if (!value) {
      m_prompter.ShowMessage(kNumberPrompt, MessageIcon::Exclamation);
      m_form.FocusAndSelectAll(field);
      return false;
    }
    store(*value);
    return true;
  };
  if (!number(FormField::Port, [&](uint32_t v) { m_nPort = v; })) return false;
  if (!number(FormField::Number, [&](uint32_t v) { m_nNumber = v; })) return false;
  m_strName = m_form.Text(FormField::Name);
  m_strNote = m_form.Text(FormField::Note);
  if (!number(FormField::SendRate, [&](uint32_t v) { m_nSendRate.store(v); })) return false;
  m_bOrderByNumber = m_form.Checked(FormField::OrderByNumber) ? 1 : 0;
  if (!number(FormField::Group, [&](uint32_t v) { m_nGroup = v; })) return false;
  return true;
}

void ProgramEditor::SetDefaults() {
  m_nPort = 10001;
  m_nNumber = 0;
  m_strName = "Name";
  m_nSendRate.store(10);
  m_bOrderByNumber = 1;
}

int ProgramEditor::LoadAtStartup(bool holdNotice) {
  return LoadAtStartup(LoadPolicy::PublishWhatWasRead, holdNotice).count;
}

LoadOutcome ProgramEditor::LoadAtStartup(LoadPolicy policy, bool holdNotice) {
  // The air goes on from the version the last run left there.
  if (const std::optional<uint8_t> onAir = m_air.Restore()) {
    std::lock_guard lock(g_TableGuard);
    g_nVersion.store(*onAir);
  }
  return LoadAndPublish(policy, holdNotice);
}

void ProgramEditor::ShowHeldNotice() {
  if (!m_heldNotice.empty()) m_prompter.ShowMessage(std::exchange(m_heldNotice, {}));
}

void ProgramEditor::OnReloadConfig() { LoadAndPublish(LoadPolicy::PublishWhatWasRead); }

LoadOutcome ProgramEditor::ReloadConfig(LoadPolicy policy) { return LoadAndPublish(policy); }

LoadOutcome ProgramEditor::LoadAndPublish(LoadPolicy policy, bool holdNotice) {
  // The file is read (and its messages shown) while the broadcast keeps
  // sending the old list; only the publishing below is the edit.
  const LoadedConfig loaded = LoadConfig(m_configPath, m_prompter);
  LoadOutcome outcome;
  outcome.count = static_cast<int>(std::min<size_t>(loaded.programs.size(), MAX_PROGRAMS));
  outcome.complete = loaded.Complete();
  outcome.problem = loaded.problem;
  // Whatever happens to the list, the file on disk now holds something the
  // table does not: the next save must not simply replace it.
  m_keepBeforeSave = !outcome.complete;
  if (!outcome.complete && policy == LoadPolicy::PublishOnlyComplete) {
    m_lastLoad = outcome;
    return outcome;
  }

  const int count = outcome.count;
  uint8_t current = 0, preStep = 0;
  uint64_t digest = 0;
  {
    std::lock_guard lock(g_TableGuard);
    std::copy_n(loaded.programs.begin(), count, g_Programs);
    if (loaded.freq) m_nSendRate.store(*loaded.freq);
    if (loaded.orderByNumber) m_bOrderByNumber = *loaded.orderByNumber;
    // A count of 0 would mean "the current rows": an empty load empties
    // the list itself.
    if (count == 0) m_rows.clear();
    RefreshTableLocked(count, m_bOrderByNumber != 0, m_rows);
    // The version is chosen with the list as it goes on the air (sorted),
    // and while the loop cannot step it.
    digest = ProgramListDigest(g_Programs, count);
    current = g_nVersion.load();
    preStep = m_air.VersionForLoad(loaded.version, current, digest);
    g_nVersion.store(preStep);
  }
  Announce(current, preStep, digest);
  FinishRefresh(false);
  outcome.published = true;
  m_lastLoad = outcome;

  if (loaded.freq && *loaded.freq == 0xFFFFFFFFu) m_prompter.ShowMessage(SilentAirNotice(m_configPath));
  // Counted on the table as it goes on the air, sorted or not.
  int leftOut = 0;
  PlayListFits(g_Programs, count, &leftOut);
  m_heldNotice.clear();
  if (leftOut > 0) {
    m_heldNotice = NotBroadcastNotice(leftOut, count);
    if (!holdNotice) ShowHeldNotice();
  }
  return outcome;
}

uint8_t ProgramEditor::RefreshLocked(int count) {
  RefreshTableLocked(count, m_bOrderByNumber != 0, m_rows);
  return g_nVersion.load();
}

void ProgramEditor::Announce(uint8_t current, uint8_t preStep, uint64_t digest) {
  m_air.Published(current, preStep, digest);
  if (m_onChange) m_onChange();
  // A store that cannot be written costs only the record across a restart;
  // the runner that owns the store says so.
  m_air.Persist();
}

void ProgramEditor::AnnounceEdit(uint8_t preStep) {
  // This thread is the only writer of the table, so it reads it unguarded.
  Announce(preStep, preStep, ProgramListDigest(g_Programs, g_nProgramCount));
}

void ProgramEditor::RefreshList(int count, bool bSave) {
  uint8_t preStep;
  {
    std::lock_guard lock(g_TableGuard);
    preStep = RefreshLocked(count);
  }
  AnnounceEdit(preStep);
  FinishRefresh(bSave);
}

void ProgramEditor::FinishRefresh(bool bSave) {
  m_form.ShowRows(m_rows);
  UpdateData(false);
  if (bSave) {
    const SaveResult result = Save();
    m_savePending = !result.ok;
    m_saveReporter.Report(result);
  }
}

SaveResult ProgramEditor::Save() {
  if (m_keepBeforeSave) {
    const KeepResult kept = KeepBeside(m_configPath);
    if (!kept.ok) {
      return {false, kept.error + "; it was not loaded in full and is not replaced before a copy of it is kept"};
    }
    m_keepBeforeSave = false;
    if (!kept.keptAs.empty()) {
      m_prompter.ShowMessage("The program list was not loaded in full from " + m_configPath +
                                 ", so before it is saved over, the file as it was is kept as " + kept.keptAs,
                             MessageIcon::Exclamation);
    }
  }
  return SaveConfig(m_configPath, m_rows, m_nSendRate.load(), g_nVersion.load(), m_bOrderByNumber);
}

void ProgramEditor::SaveBeforeClose() {
  while (m_savePending) {
    const SaveResult result = Save();
    m_savePending = !result.ok;
    m_saveReporter.Report(result);
    if (result.ok) return;
    const std::string question = "The program list could not be saved (" + result.error +
                                 ").\nRetry, or close without the changes that are not in the file?";
    if (!m_prompter.AskRetry(question)) return;
  }
}

void ProgramEditor::OnClickProgramList(int row) {
  if (row < 0 || row >= static_cast<int>(m_rows.size())) return;
  m_nSelRow = row;
  const RowTexts& cells = m_rows[static_cast<size_t>(row)];
  // Numbers come back through atoi, as the list's texts are the programs'
  // values: a stored -2 reads back as 4294967294.
  m_nNumber = static_cast<uint32_t>(SaturatingAtoi(cells[1].c_str()));
  m_strName = cells[2];
  m_form.SetAddress(ntohl(inet_addr(cells[3].c_str())));
  m_nPort = static_cast<uint32_t>(SaturatingAtoi(cells[4].c_str()));
  m_strNote = cells[5];
  m_nGroup = static_cast<uint32_t>(SaturatingAtoi(cells[6].c_str()));
  m_form.SetHdChecked(SaturatingAtoi(cells[7].c_str()) > 0);
  UpdateData(false);
}

ProgramEntry ProgramEditor::EntryFromForm(const std::string& addressText) const {
  ProgramEntry e = EntryFor({m_nNumber, m_strName, m_strNote, std::nullopt, m_nPort, m_nGroup, m_form.HdChecked()});
  CopyField(e.szMulticast, addressText);
  return e;
}

namespace {

// A name or remark the table or the file cannot hold.
std::optional<std::string> TextsRefusal(const std::string& name, const std::string& note) {
  const std::pair<const char*, const std::string*> texts[] = {{"Name", &name}, {"Remark", &note}};
  for (const auto& [label, text] : texts) {
    if (text->find_first_of(":\r\n") != std::string::npos) {
      return StringPrintf("%s must not contain ':' or a line break", label);
    }
    if (text->size() > kMaxTextBytes) return StringPrintf("%s is too long: at most %zu bytes", label, kMaxTextBytes);
  }
  return std::nullopt;
}

}  // namespace

bool ProgramEditor::TextsAcceptable() {
  if (const auto refusal = TextsRefusal(m_strName, m_strNote)) {
    m_prompter.ShowMessage(*refusal);
    return false;
  }
  return true;
}

std::optional<std::string> ProgramEditor::FitRefusal(const std::vector<ProgramEntry>& changed, int currentCount) const {
  // The same rule the form's budget shows before the click.
  if (ChangeFits(changed, g_Programs, currentCount, m_bOrderByNumber != 0)) return std::nullopt;
  return StringPrintf(
      "The play list is full: it must fit into %d sections of %d bytes. Shorten names "
      "or remove programs first",
      MAX_SECTIONS, SECTION_SIZE);
}

bool ProgramEditor::StillFits(const std::vector<ProgramEntry>& changed, int currentCount) {
  if (const auto refusal = FitRefusal(changed, currentCount)) {
    m_prompter.ShowMessage(*refusal);
    return false;
  }
  return true;
}

ProgramEntry ProgramEditor::EntryFor(const AddCandidate& program) {
  ProgramEntry e{};
  CopyField(e.szMulticast, program.address ? AddressText(*program.address) : std::string());
  e.nPort = static_cast<int32_t>(program.port);
  CopyField(e.szNote, program.note);
  e.nNumber = static_cast<int32_t>(program.number);
  CopyField(e.szName, program.name);
  e.nGroup = static_cast<int32_t>(program.group);
  e.bHD = program.hd ? 1 : 0;
  return e;
}

std::optional<std::string> ProgramEditor::AddRefusal(const AddCandidate& program,
                                                     const std::vector<ProgramEntry>& pending) const {
  if (program.number == 0) return std::string("Program number should be 1-65535");
  if (!program.address) return StringPrintf("%s%s", "Multicast", "is empty");
  const int n = static_cast<int>(m_rows.size());
  if (n + static_cast<int>(pending.size()) >= MAX_PROGRAMS) {
    return StringPrintf("%s:%d", "Multicast MAX", MAX_PROGRAMS);
  }
  if (auto refusal = TextsRefusal(program.name, program.note)) return refusal;
  // The window thread is the only writer, so it reads the table unguarded.
  std::vector<ProgramEntry> changed(g_Programs, g_Programs + n);
  changed.insert(changed.end(), pending.begin(), pending.end());
  changed.push_back(EntryFor(program));
  return FitRefusal(changed, n);
}

const ProgramEntry* ProgramEditor::FirstSharing(const AddCandidate& program,
                                                const std::vector<ProgramEntry>& pending) const {
  const std::string address = program.address ? AddressText(*program.address) : std::string();
  const int n = static_cast<int>(m_rows.size());
  for (int i = 0; i < n; ++i)
    if (SharesAddress(g_Programs[i], address, program.port)) return &g_Programs[i];
  for (const ProgramEntry& e : pending)
    if (SharesAddress(e, address, program.port)) return &e;
  return nullptr;
}

void ProgramEditor::AddPrograms(const std::vector<ProgramEntry>& entries) {
  if (entries.empty()) return;
  const int n = static_cast<int>(m_rows.size());
  const int count = std::min<int>(n + static_cast<int>(entries.size()), MAX_PROGRAMS);
  uint8_t preStep;
  {
    std::lock_guard lock(g_TableGuard);
    std::copy_n(entries.begin(), count - n, g_Programs + n);
    preStep = RefreshLocked(count);
  }
  AnnounceEdit(preStep);
  FinishRefresh(true);
}

void ProgramEditor::OnAdd() {
  UpdateData(true);  // a refused field leaves the members as they were; go on regardless
  AddCandidate program{m_nNumber, m_strName, m_strNote, std::nullopt, m_nPort, m_nGroup, m_form.HdChecked()};
  if (!m_form.AddressBlank()) program.address = m_form.Address();
  if (const auto refusal = AddRefusal(program, {})) return m_prompter.ShowMessage(*refusal);
  const std::string address = AddressText(*program.address);
  const ProgramEntry entry = EntryFor(program);
  const int n = static_cast<int>(m_rows.size());

  for (int i = 0; i < n; ++i) {
    const ProgramEntry& e = g_Programs[i];
    if (!SharesAddress(e, address, m_nPort)) continue;
    const std::string question =
        StringPrintf("%s:%d:%s", StoredAddress(e).c_str(), e.nPort, "has been exist, are you sure to add it?");
    if (!m_prompter.AskOkCancel(question, "Warning")) return;
  }

  uint8_t preStep;
  {
    std::lock_guard lock(g_TableGuard);
    g_Programs[n] = entry;
    preStep = RefreshLocked(n + 1);
  }
  AnnounceEdit(preStep);
  FinishRefresh(true);
}

void ProgramEditor::OnModify() {
  UpdateData(true);
  if (m_form.AddressBlank()) return m_prompter.ShowMessage(StringPrintf("%s%s", "Multicast", "is empty"));
  if (m_nPort == 0) return m_prompter.ShowMessage(StringPrintf("%s %s", "Port", "is empty"));
  if (m_nNumber == 0) return m_prompter.ShowMessage(StringPrintf("%s %s", "Number", "is empty"));
  const std::string address = AddressText(m_form.Address());
  const int n = static_cast<int>(m_rows.size());
  // Only a click on an existing row sets the row, so it is always inside
  // the table; the bound check keeps it so whatever happens.
  if (!m_nSelRow || *m_nSelRow < 0 || *m_nSelRow >= MAX_PROGRAMS) {
    return m_prompter.ShowMessage("Select a program in the list first");
  }
  const int row = *m_nSelRow;
  if (!TextsAcceptable()) return;

  for (int i = 0; i < n; ++i) {
    if (i == row) continue;
    const ProgramEntry& e = g_Programs[i];
    if (!SharesAddress(e, address, m_nPort)) continue;
    return m_prompter.ShowMessage(
        StringPrintf("%s:%d::%s:%d,%s", "Same program address", i + 1, StoredAddress(e).c_str(), e.nPort, "Exist"));
  }

  const ProgramEntry entry = EntryFromForm(address);
  // A row past the end changes a slot the list does not show: the list
  // itself stays as it is.
  std::vector<ProgramEntry> changed(g_Programs, g_Programs + n);
  if (row < n) changed[static_cast<size_t>(row)] = entry;
  if (!StillFits(changed, n)) return;

  uint8_t preStep;
  {
    std::lock_guard lock(g_TableGuard);
    g_Programs[row] = entry;
    preStep = RefreshLocked(n);
  }
  AnnounceEdit(preStep);
  FinishRefresh(true);
}

void ProgramEditor::OnDelete() {
  UpdateData(true);
  if (m_form.AddressBlank()) return m_prompter.ShowMessage(StringPrintf("%s%s", "Multicast", "is empty"));
  if (m_nPort == 0) return m_prompter.ShowMessage(StringPrintf("%s%s", "Port", "is empty"));
  const std::string address = AddressText(m_form.Address());
  const int n = static_cast<int>(m_rows.size());
  int found = -1;
  for (int i = 0; i < n && found < 0; ++i) {
    if (SharesAddress(g_Programs[i], address, m_nPort)) found = i;
  }
  if (found < 0) return m_prompter.ShowMessage("Delete Fail");

  uint8_t preStep;
  {
    std::lock_guard lock(g_TableGuard);
    // The programs after it move up; the former last one stays behind in
    // slot n - 1, outside the list.
    std::copy(g_Programs + found + 1, g_Programs + n, g_Programs + found);
    // A count of 0 would mean "the current rows": empty them for the last one.
    if (n - 1 == 0) m_rows.clear();
    preStep = RefreshLocked(n - 1);
  }
  AnnounceEdit(preStep);
  FinishRefresh(true);
}

void ProgramEditor::OnOrderOrRateChange() {
  UpdateData(true);
  RefreshList(0, true);
}

void ProgramEditor::OnForceUpdate() {
  uint8_t preStep;
  {
    std::lock_guard lock(g_TableGuard);
    g_bListChanged.store(1);
    preStep = g_nVersion.load();
  }
  AnnounceEdit(preStep);
}
