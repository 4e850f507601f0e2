// Repair of a kept table: re-index, else restore it from the newest usable shift backup.
//
// The table's own files are replaced only once a usable backup generation has been found, only
// after the log line and the operator's warning, and only once they are kept in ZelUtil.Damaged:
// with no usable generation, a log that cannot be written or files that cannot be kept, the
// damaged table stays where it is for a technician to salvage. A table whose data file is sound
// is never rolled back.
#include <algorithm>
#include <array>
#include <climits>
#include <optional>
#include <string>

#include "catalogue/Catalogue.h"
#include "repair/LostByRestore.h"
#include "repair/TableFiles.h"
#include "run/MainScreen.h"

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

// The stored count read as an integer: the whole text, blanks around it trimmed, an optional
// sign and decimal digits within the 32-bit range. Anything else ("4a", "", "99999999999")
// counts as `fallback`.
int GenerationNumber(const std::string& text, int fallback) {
  std::size_t begin = 0, end = text.size();
  while (begin < end && (text[begin] == ' ' || text[begin] == '\t')) ++begin;
  while (end > begin && (text[end - 1] == ' ' || text[end - 1] == '\t')) --end;
  std::size_t i = begin;
  bool negative = false;
  if (i < end && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
  if (i == end) return fallback;
  long long value = 0;
  for (; i < end; ++i) {
    if (text[i] < '0' || text[i] > '9') return fallback;
    value = value * 10 + (text[i] - '0');
    if (value > static_cast<long long>(INT_MAX) + 1) return fallback;
  }
  value = negative ? -value : value;
  if (value > INT_MAX || value < INT_MIN) return fallback;
  return static_cast<int>(value);
}

// Where a backup file waits in the live folder until the whole generation is there.
std::string StagedPath(const std::string& folder, const std::string& table,
                       const std::string& extension) {
  return zel::repair::LivePath(folder, ".zelcopy-restore-" + table, extension);
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
  // A table whose records are sound is never rolled back to an older backup.
  if (!zel::repair::KeepSoundTable(folder, table)) DeleteTableAndRestore(folder, table);
  if (TestTable(folder, table, "", "", "", ""))
    AddLine(lst2, "Backup File Succesfully Restored  " + folder + "\\" + table + " ....Done");
  else
    AddLine(lst2, "Backup File Failed " + folder + "\\" + table + " ....Failed");
}

void TForm1::DeleteTableAndRestore(const std::string& folder, const std::string& table) {
  if (repairRecord_) repairRecord_->kind = zel::report::RepairKind::Restore;
  // The deletion itself waits inside RestoreFromBackup until a usable generation is found.
  RestoreFromBackup(folder, table);
}

void TForm1::RestoreFromBackup(const std::string& folder, const std::string& table) {
  std::string generation = platform().ini.ReadString(kBackupSettings, "BackUpNu", "Count", "1");
  int number = GenerationNumber(generation, 1);

  // From the stored count downwards; below 1 wraps to 7, a count above 7 is counted down as is.
  bool found = TestBackupFile(folder, table, generation);
  for (int tries = 1; tries < kGenerations && !found; ++tries) {
    number = number <= 1 ? kGenerations : number - 1;
    generation = std::to_string(number);
    found = TestBackupFile(folder, table, generation);
  }
  if (!found) return;
  if (repairRecord_) repairRecord_->generation = generation;

  // A log failure is not caught: it ends the run before anything is deleted.
  WriteLog("Recover file :" + folder + " " + table + " " + "from backup nu : " + generation);
  std::string warning;
  zel::catalogue::GetReplaceWarning(folder, table, warning);
  platform().dialogs.MessageDlg(warning, zel::platform::DialogKind::Information,
                                zel::platform::DialogButtons::Ok);

  // The damaged files are kept before anything of the table is replaced; when they cannot be,
  // the table stays as it is and the caller's test reports it.
  AddLine(lst2, "Deleting Old Table " + folder + "\\" + table + " ....");
  if (!SaveDamagedFiles(folder, table)) {
    RepaintList(lst2);
    return;
  }
  CopyBackupFiles(folder, table, generation);
  // What the restore took away is told at once, on standard error and in the report only.
  if (TestTable(folder, table, "", "", "", "") && repairRecord_)
    zel::repair::NoteLostByRestore(platform().files, folder, table, damagedRunFolder_,
                                   *repairRecord_);
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

// The generation's files are first copied in beside the table under temporary names; only when
// every copy is complete and on disk do they replace the table's files, the data file last, so
// that a failure or a power cut before then leaves the damaged table in place and the next run
// starts the restore again. Once the swap has begun, the deletion lines tell which of the old
// files could not be replaced or removed, as a deletion before the copy would have.
void TForm1::CopyBackupFiles(const std::string& folder, const std::string& table,
                             const std::string& generation) {
  using zel::repair::kTableFileSet;
  auto& files = platform().files;
  std::array<bool, kTableFileSet.size()> existed{}, removed{};
  for (std::size_t i = 0; i < kTableFileSet.size(); ++i)
    existed[i] = files.FileExists(zel::repair::LivePath(folder, table, kTableFileSet[i]));

  std::array<bool, kCopiedFileSet.size()> staged{};
  bool complete = UsableGeneration(folder, table, generation);
  const std::string source = GenerationDirectory(folder, generation) + table;
  for (std::size_t i = 0; complete && i < kCopiedFileSet.size(); ++i) {
    // A file the backup lacks (an index the table does not have) is not copied; the table's own
    // file of that name goes.
    if (!files.FileExists(source + kCopiedFileSet[i])) continue;
    staged[i] = files.CopyFile(source + kCopiedFileSet[i],
                               StagedPath(folder, table, kCopiedFileSet[i]), false);
    complete = staged[i];
  }
  if (complete) complete = files.FlushFolder(zel::repair::LiveFolder(folder));
  if (!complete) {
    zel::repair::TellTechnician(folder + "\\" + table + " is left as it is: the files of " +
                                GenerationDirectory(folder, generation) +
                                " could not be copied in");
  }

  const bool swapping = complete;
  if (swapping) {
    std::array<std::string, kTableFileSet.size()> stagedPaths;
    for (std::size_t i = 0; i < kCopiedFileSet.size(); ++i)
      if (staged[i]) stagedPaths[i] = StagedPath(folder, table, kCopiedFileSet[i]);
    zel::repair::SwapInTableFiles(files, folder, table, stagedPaths, existed, removed);
  } else {
    zel::platform::DeletionBatch batch(files);
    files.FlushFolder(zel::repair::LiveFolder(folder));
    for (std::size_t i = 0; i < kCopiedFileSet.size(); ++i)
      if (staged[i]) files.DeleteFile(StagedPath(folder, table, kCopiedFileSet[i]));
  }

  if (swapping) zel::repair::AddDeletionLines(*this, folder, table, existed, removed);
  AddLine(lst2, "Copy Backup File " + folder + "\\" + table + " ....Files");
  RepaintList(lst2);
}
