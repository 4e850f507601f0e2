// Before a repair deletes or replaces a table's files, they are given a second name under
// C:\ZelPos\ZelUtil.Damaged\<date-time>\<folder>\, so that nothing a technician could salvage
// is lost. One folder per run, named by the time of the first save. The table's files are
// touched only once this has succeeded and is on disk.
#include <algorithm>
#include <array>
#include <chrono>
#include <filesystem>
#include <initializer_list>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "creators/Schemas.h"
#include "engine/EngineError.h"
#include "engine/Salvage.h"
#include "engine/TableWriter.h"
#include "platform/DriveMapping.h"
#include "platform/FolderEntries.h"
#include "platform/WindowsFiles.h"
#include "repair/TableFiles.h"
#include "report/ReportFolder.h"
#include "run/MainScreen.h"

namespace {

constexpr const char* kDamagedRoot = "C:\\ZelPos\\ZelUtil.Damaged\\";
constexpr const char* kPosFolder = "C:\\ZelPos\\";
// Where a re-index keeps the index files it deletes, inside the folder of their data folder.
constexpr const char* kIndexesFolder = "Indexes";

// The file set a replacement deletes, and the .VAL file that goes with its indexes.
constexpr auto kSavedFileSet = [] {
  std::array<const char*, zel::repair::kTableFileSet.size() + 1> set{};
  std::copy(zel::repair::kTableFileSet.begin(), zel::repair::kTableFileSet.end(), set.begin());
  set.back() = ".VAL";
  return set;
}();

// The first of `folders` (Windows paths) that is a symbolic link, or "".
std::string LinkAmong(std::initializer_list<std::string> folders) {
  for (const std::string& folder : folders) {
    std::string path = folder;
    if (!path.empty() && path.back() == '\\') path.pop_back();
    if (zel::platform::IsSymbolicLink(zel::platform::MapWindowsPath(path))) return path;
  }
  return "";
}

bool FolderExists(const std::string& windowsPath) {
  std::error_code ec;
  return std::filesystem::is_directory(zel::platform::MapWindowsPath(windowsPath), ec);
}

// Room a salvage leaves for the repair: the replacement is about the size of the damaged table
// (a backup generation of it), plus a margin for the indexes and the run's own files.
constexpr std::uintmax_t kRepairMarginBytes = 16u << 20;

std::string MiB(std::uintmax_t bytes) {
  return std::to_string((bytes + (1u << 20) - 1) >> 20) + " MiB";
}

// The table as the catalogue defines it, written empty in a folder of its own for as long as
// this object lives: the structure a salvage needs when the damaged header cannot be read. The
// same definition makes the new empty table that replaces the damaged one.
class SalvageTemplate {
 public:
  SalvageTemplate(const std::string& folder, const std::string& table) {
    namespace fs = std::filesystem;
    const zel::creators::TableSchema* schema = zel::creators::FindSchema(folder, table);
    if (!schema) return;
    std::error_code ec;
    const fs::path base = fs::temp_directory_path(ec);
    if (ec) return;
    const auto unique = std::chrono::steady_clock::now().time_since_epoch().count();
    for (int n = 0; n < 100 && dir_.empty(); ++n) {
      const fs::path candidate = base / ("zelutil-template-" + table + "-" +
                                         std::to_string(unique) + "-" + std::to_string(n));
      if (fs::create_directory(candidate, ec)) dir_ = candidate;
    }
    if (dir_.empty()) return;
    try {
      zel::engine::CreateTable(dir_ / (table + ".DB"), schema->def);
      db_ = dir_ / (table + ".DB");
    } catch (const std::exception& e) {
      zel::repair::TellTechnician("no template for the salvage of " + folder + "\\" + table + ": " +
                                  e.what());
    }
  }
  ~SalvageTemplate() {
    std::error_code ec;
    if (!dir_.empty()) std::filesystem::remove_all(dir_, ec);
  }
  SalvageTemplate(const SalvageTemplate&) = delete;
  SalvageTemplate& operator=(const SalvageTemplate&) = delete;

  // The template's .DB; empty when the catalogue has no such table or it could not be written.
  const std::filesystem::path& Db() const { return db_; }

 private:
  std::filesystem::path dir_;
  std::filesystem::path db_;
};

// Reads every record it can from the kept copy of the data file into Salvaged\<TABLE>.DB and
// .csv beside it. Only standard error and the run report hear of it; a salvage that fails,
// finds nothing or lacks room never stops the repair.
void SalvageRecords(zel::platform::WindowsFiles& files, const std::string& kept,
                    const std::string& folder, const std::string& table,
                    zel::report::RepairRecord* record) {
  namespace fs = std::filesystem;
  const std::string name = folder + "\\" + table;
  const fs::path source = zel::platform::MapWindowsPath(kept + table + ".DB");
  std::error_code ec;
  const std::uintmax_t size = fs::file_size(source, ec);
  if (ec) return;  // no data file: nothing to salvage
  const std::string salvaged = kept + "Salvaged\\";
  if (const fs::space_info space = fs::space(zel::platform::MapWindowsPath(kept), ec); !ec) {
    const std::uintmax_t free = space.available;
    const std::uintmax_t need = 3 * size + kRepairMarginBytes;
    if (free < need) {
      zel::repair::TellTechnician("salvage of " + name + " skipped: " + MiB(free) +
                                  " free, the salvage and the repair need " + MiB(need));
      return;
    }
  }
  const fs::path dir = zel::platform::MapWindowsPath(salvaged);
  if (zel::platform::IsSymbolicLink(dir)) {
    zel::repair::TellTechnician("salvage of " + name + " skipped: " + salvaged +
                                " is a symbolic link; it is not followed");
    return;
  }
  try {
    // The folder's name is made durable in its parent before the report can name what is in it:
    // else a power cut could take the salvaged tables away while the report names them.
    if (!files.CreateDirectories(salvaged) || !files.FlushFolder(kept))
      throw std::runtime_error("cannot make the folder " + salvaged);
    zel::engine::SalvageReport r;
    try {
      r = zel::engine::SalvageTable(source, dir / (table + ".DB"));
    } catch (const zel::engine::EngineError& e) {
      if (e.Code() != zel::engine::SalvageErrorCode::NoStructure) throw;
      // The header is gone: the catalogue's definition of the table gives the structure.
      const SalvageTemplate like(folder, table);
      if (like.Db().empty()) {
        zel::repair::TellTechnician("salvage of " + name + " skipped: its header cannot be read (" +
                                    e.what() + ") and no definition of it could be written");
        return;
      }
      zel::engine::SalvageOptions options;
      options.like = like.Db();
      r = zel::engine::SalvageTable(source, dir / (table + ".DB"), options);
    }
    std::string path;
    if (r.tableWritten)
      path = salvaged + table + ".DB";
    else if (!r.csv.empty())
      path = salvaged + table + ".csv";
    zel::repair::TellTechnician(
        "salvaged " + name + ": recovered " + std::to_string(r.recovered) + ", outside the chain " +
        std::to_string(r.outsideChain) + ", dropped " + std::to_string(r.dropped) +
        ", duplicated " + std::to_string(r.duplicated) + ", unreadable blocks " +
        std::to_string(r.unreadableBlocks) + (path.empty() ? ", nothing written" : ", in " + path) +
        (r.csvOnlyReason.empty() ? "" : " (CSV only: " + r.csvOnlyReason + ")"));
    if (record)
      record->salvage = zel::report::SalvageRecord{r.recovered, r.outsideChain, r.dropped,
                                                   r.unreadableBlocks, path};
  } catch (const zel::engine::EngineError& e) {
    // A table replaced twice in one run was salvaged the first time.
    if (e.Code() == zel::engine::SalvageErrorCode::OutputExists)
      zel::repair::TellTechnician("salvage of " + name + " skipped: salvaged before in this run");
    else
      zel::repair::TellTechnician("salvage of " + name + " failed: " + e.what());
  } catch (const std::exception& e) {
    zel::repair::TellTechnician("salvage of " + name + " failed: " + e.what());
  }
  if (!zel::platform::IsSymbolicLink(dir))
    fs::remove(dir, ec);  // only when the salvage left it empty
}

}  // namespace

// The folder `sub` (e.g. "PERMDATA\\") of this run's folder under ZelUtil.Damaged, made and
// durable;
// "" when it could not be made or a link stands in the way.
std::string TForm1::KeptFilesFolder(const std::string& sub) {
  auto& files = platform().files;
  if (damagedRunFolder_.empty()) {
    // A run started again within the same second (after a crash) gets a folder of its own.
    const std::string stamp = kDamagedRoot + zel::report::ReportStamp(platform().system.Now());
    std::string name = stamp;
    for (int n = 2; FolderExists(name); ++n) name = stamp + "-" + std::to_string(n);
    damagedRunFolder_ = name + "\\";
  }
  const std::string& run = damagedRunFolder_;
  const std::string target = run + sub;

  // A link in the place of one of these folders is never followed: the files would land
  // wherever it points. The save fails as it does when a folder cannot be made.
  const std::string link = LinkAmong({kDamagedRoot, run, target});
  if (!link.empty()) zel::repair::TellTechnician(link + " is a symbolic link; it is not followed");
  // New folders must survive a power cut too: each one's name is made durable in its parent.
  const bool made = link.empty() && files.CreateDirectories(target) && files.FlushFolder(target) &&
                    files.FlushFolder(run) && files.FlushFolder(kDamagedRoot) &&
                    files.FlushFolder(kPosFolder);
  return made ? target : "";
}

bool TForm1::SaveDamagedFiles(const std::string& folder, const std::string& table) {
  auto& files = platform().files;
  bool anyFile = false;
  for (const char* extension : kSavedFileSet)
    anyFile = anyFile || files.FileExists(zel::repair::LivePath(folder, table, extension));
  if (!anyFile) {
    // Nothing to lose; an undo still removes what the repair creates here.
    if (repairRecord_)
      for (const char* extension : kSavedFileSet)
        zel::repair::NoteKeptFile(*repairRecord_, table + extension, "");
    return true;
  }

  const std::string target = KeptFilesFolder(folder + "\\");
  bool saved = !target.empty();
  std::vector<std::pair<std::string, std::string>> kept;
  for (const char* extension : kSavedFileSet) {
    if (!saved) break;
    const std::string source = zel::repair::LivePath(folder, table, extension);
    const std::string copy = target + table + extension;
    // A second name needs no room for the data; a file system without links gets a copy.
    const bool exists = files.FileExists(source);
    if (exists) saved = files.LinkFile(source, copy) || files.CopyFile(source, copy, true);
    kept.emplace_back(table + extension, exists ? copy : "");
  }
  if (saved) {
    Report.damagedFilesFolder = damagedRunFolder_;
    if (repairRecord_) {
      repairRecord_->savedTo = target;
      for (const auto& [name, copy] : kept) zel::repair::NoteKeptFile(*repairRecord_, name, copy);
    }
    SalvageRecords(files, target, folder, table, repairRecord_);
  } else {
    AddLine(lst2, "Save damaged files " + folder + "\\" + table + " ....Failed");
    zel::repair::TellTechnician(folder + "\\" + table +
                                " is left as it is: its files could not be saved in " +
                                (target.empty() ? damagedRunFolder_ + folder + "\\" : target));
  }
  return saved;
}

bool TForm1::KeepIndexFiles(const std::string& folder, const std::string& table,
                            const std::vector<std::string>& extensions) {
  auto& files = platform().files;
  std::vector<std::string> present;
  for (const std::string& extension : extensions)
    if (files.FileExists(zel::repair::LivePath(folder, table, extension)))
      present.push_back(extension);
  if (present.empty()) {
    if (repairRecord_)
      for (const std::string& extension : extensions)
        zel::repair::NoteKeptFile(*repairRecord_, table + extension, "");
    return true;
  }
  // Beside the folder a replacement keeps its files in, so that both can keep a file of one name.
  const std::string target = KeptFilesFolder(folder + "\\" + kIndexesFolder + "\\");
  bool kept = !target.empty();
  for (const std::string& extension : present) {
    if (!kept) break;
    const std::string source = zel::repair::LivePath(folder, table, extension);
    const std::string copy = target + table + extension;
    kept = files.LinkFile(source, copy) || files.CopyFile(source, copy, true);
  }
  if (!kept) {
    zel::repair::TellTechnician("the index files of " + folder + "\\" + table +
                                " could not be kept in " + damagedRunFolder_ + folder +
                                "\\; they are rebuilt all the same");
    return false;
  }
  Report.damagedFilesFolder = damagedRunFolder_;
  if (repairRecord_)
    for (const std::string& extension : extensions) {
      const bool was = std::find(present.begin(), present.end(), extension) != present.end();
      zel::repair::NoteKeptFile(*repairRecord_, table + extension,
                                was ? target + table + extension : "");
    }
  return true;
}
