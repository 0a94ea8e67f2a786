// The headless runner's dealings with files beyond the broadcast: the
// --check of a config file, and the state file that keeps the version on
// the air across restarts.
#pragma once

#include <string>

#include "storage/air_record.h"
#include "storage/config_file.h"
#include "table/prompter.h"

struct CheckSummary {
  bool clean = false;  // nothing to say: the whole file loads and all of it goes on the air
  int messages = 0;
  int programs = 0;
  int sections = 0;
  int bytes = 0;    // of the MAX_SECTIONS * SECTION_SIZE the play list may use
  int leftOut = 0;  // programs that do not fit into the six sections
};

// Reads the file as a load would and shows every message a load would give
// (a missing file included), then works out the play list it makes, in the
// order it goes on the air. Touches nothing else.
CheckSummary CheckConfig(const std::string& path, Prompter& messages);
// "<path>: 50 programs, 2 sections, 1876 of 6144 bytes used; clean", with
// "(N not on the air)" after the programs when some do not fit.
std::string FormatCheckSummary(const std::string& path, const CheckSummary& summary);

// The state file, which says once on standard error when it cannot be
// written: the broadcast goes on, but a restart may then not know which
// version the receivers hold.
class RunnerStateFile : public AirRecordFile {
 public:
  using AirRecordFile::AirRecordFile;
  SaveResult Save(const AirRecord& record) override;

 private:
  bool m_told = false;
};
