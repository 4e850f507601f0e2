// Repair of a kept table: re-index, else restore it from the newest usable shift backup.
//
// The table's own files are deleted only once a usable backup generation has been found, and
// only after the log line and the operator's warning: with no usable generation, or when the
// log cannot be written, the damaged table stays where it is for a technician to salvage.
#include <algorithm>
#include <array>
#include <climits>
#include <optional>
#include <string>

#include "catalogue/Catalogue.h"
#include "repair/TableFiles.h"
#include "ui/MainScreen.h"

namespace {

constexpr const char* kBackupSettings = "C:\\ZelPos\\Backup.Ini";
constexpr const char* kBackupRoot = "C:\\ShiftBackUp\\";
constexpr int kGenerations = 7;
// Paths are handed to the copy as strings of at most this many characters.
constexpr std::size_t kMaxCopyPath = 79;

// The data file as ".Db"; the three spellings name one file since case does not matter.
constexpr std::array<const char*, 8> kCopiedFileSet = {".Db",  ".PX",  ".XG0", ".XG1",
                                                       ".XG2", ".YG0", ".YG1", ".YG2"};

std::string GenerationDirectory(const std::string& folder, const std::string& generation) {
  return kBackupRoot + folder + generation + "\\";
}

// The stored count as the profile API reads an integer: optional blanks and sign, then the
// leading digits; `fallback` when there are none. Clamped so counting down cannot overflow.
int ProfileInt(const std::string& text, int fallback) {
  std::size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
  if (i >= text.size() || text[i] < '0' || text[i] > '9') return fallback;
  long long value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
    value = std::min<long long>(value * 10 + (text[i] - '0'), INT_MAX / 2);
  return static_cast<int>(negative ? -value : value);
}

// A generation text names a directory beside the others: no separator, no "..", and every copy
// path it gives fits the copy's limit.
bool UsableGeneration(const std::string& folder, const std::string& table,
                      const std::string& generation) {
  if (generation.find_first_of("\\/") != std::string::npos) return false;
  if (generation.find("..") != std::string::npos) return false;
  const std::string longestSource = GenerationDirectory(folder, generation) + table + ".XG0";
  const std::string longestTarget = zel::repair::LivePath(folder, table, ".XG0");
  return longestSource.size() <= kMaxCopyPath && longestTarget.size() <= kMaxCopyPath;
}

}  // namespace

void TForm1::RepairKeptTable(const std::string& folder, const std::string& table) {
  ReIndexTable(folder, table);
  if (TestTable(folder, table, "", "", "", "")) {
    AddLine(lst2, "Re-Index Succesfully done  " + folder + "\\" + table + " ....Done");
    return;
  }
  DeleteTableAndRestore(folder, table);
  if (TestTable(folder, table, "", "", "", ""))
    AddLine(lst2, "Backup File Succesfully Restored  " + folder + "\\" + table + " ....Done");
  else
    AddLine(lst2, "Backup File Failed " + folder + "\\" + table + " ....Failed");
}

void TForm1::DeleteTableAndRestore(const std::string& folder, const std::string& table) {
  // The deletion itself waits inside RestoreFromBackup until a usable generation is found.
  RestoreFromBackup(folder, table);
}

void TForm1::RestoreFromBackup(const std::string& folder, const std::string& table) {
  std::string generation = platform().ini.ReadString(kBackupSettings, "BackUpNu", "Count", "1");
  int number = ProfileInt(generation, 1);

  // From the stored count downwards; below 1 wraps to 7, a count above 7 is counted down as is.
  bool found = TestBackupFile(folder, table, generation);
  for (int tries = 1; tries < kGenerations && !found; ++tries) {
    --number;
    if (number < 1) number = kGenerations;
    generation = std::to_string(number);
    found = TestBackupFile(folder, table, generation);
  }
  if (!found) return;

  // A log failure is not caught: it ends the run before anything is deleted.
  WriteLog("Recover file :" + folder + " " + table + " " + "from backup nu : " + generation);
  std::string warning;
  zel::catalogue::GetReplaceWarning(folder, table, warning);
  platform().dialogs.MessageDlg(warning, zel::platform::DialogKind::Information,
                                zel::platform::DialogButtons::Ok);

  zel::repair::DeleteTableFileSet(*this, folder, table);
  CopyBackupFiles(folder, table, generation);
  TestTable(folder, table, "", "", "", "");
}

bool TForm1::TestBackupFile(const std::string& folder, const std::string& table,
                            const std::string& generation) {
  AddLine(lst2, "Testing Backup File " + folder + "\\" + table + " ....Files");
  bool result = false;
  try {
    const std::string copy = GenerationDirectory(folder, generation) + table;
    if (UsableGeneration(folder, table, generation) && platform().files.FileExists(copy + ".db")) {
      // Alias and index stay as the preceding table test left them. The backup is only read:
      // the open makes no lock file there, and the next table test opens as usual again.
      tbl1.SetTableName(copy);
      const zel::engine::InspectOnlyScope readOnly(tbl1);
      try {
        tbl1.Open();
        tbl1.Close();
        result = true;
      } catch (...) {
        tbl1.Close();
      }
    }
  } catch (...) {
    result = false;
  }
  RepaintList(lst2);
  return result;
}

void TForm1::CopyBackupFiles(const std::string& folder, const std::string& table,
                             const std::string& generation) {
  AddLine(lst2, "Copy Backup File " + folder + "\\" + table + " ....Files");
  if (UsableGeneration(folder, table, generation)) {
    const std::string source = GenerationDirectory(folder, generation) + table;
    // A file the backup lacks (an index the table does not have) is passed over; the table
    // test that follows judges the result.
    for (const char* extension : kCopiedFileSet)
      platform().files.CopyFile(source + extension, zel::repair::LivePath(folder, table, extension),
                                false);
  }
  RepaintList(lst2);
}
