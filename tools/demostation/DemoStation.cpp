#include "tools/demostation/DemoStation.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iomanip>
#include <system_error>

#include "catalogue/Catalogue.h"
#include "creators/CreatorSupport.h"
#include "creators/Schemas.h"
#include "engine/EngineError.h"
#include "engine/ParadoxFormat.h"
#include "engine/TableWriter.h"
#include "platform/AsciiCase.h"
#include "platform/DriveMapping.h"
#include "tools/demostation/StationData.h"

namespace fs = std::filesystem;

namespace zel::demostation {
namespace {

using platform::AsciiUpper;

constexpr int kGenerations = 7;

fs::path Map(const std::string& windowsPath) {
  return platform::MapWindowsPath(windowsPath);
}

std::string DataPath(std::string_view folder, std::string_view table, std::string_view ext) {
  return "C:\\ZELPOS\\" + std::string(folder) + "\\" + std::string(table) + std::string(ext);
}

std::string BackupDir(std::string_view folder, int generation) {
  return "C:\\ShiftBackUp\\" + std::string(folder) + std::to_string(generation) + "\\";
}

// The files of a table in a directory: every file whose base name is the table's, any case.
std::vector<fs::path> TableFiles(const fs::path& dir, std::string_view table) {
  std::vector<fs::path> files;
  std::error_code ec;
  for (const auto& item : fs::directory_iterator(dir, ec))
    if (item.is_regular_file() &&
        platform::SameNameIgnoringCase(item.path().stem().string(), table))
      files.push_back(item.path());
  std::sort(files.begin(), files.end());
  return files;
}

fs::path FileWithExtension(const fs::path& dir, std::string_view table, std::string_view ext) {
  for (const auto& file : TableFiles(dir, table))
    if (platform::SameNameIgnoringCase(file.extension().string(), ext)) return file;
  return {};
}

void Patch(const fs::path& file, std::size_t offset, const std::vector<std::uint8_t>& bytes) {
  std::fstream stream(file, std::ios::in | std::ios::out | std::ios::binary);
  if (!stream) throw StationError("cannot open " + file.string() + " to damage it");
  stream.seekp(static_cast<std::streamoff>(offset));
  stream.write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
  stream.flush();
  if (!stream) throw StationError("cannot write to " + file.string());
}

std::uint8_t ReadByte(const fs::path& file, std::size_t offset) {
  std::ifstream stream(file, std::ios::binary);
  stream.seekg(static_cast<std::streamoff>(offset));
  char c = 0;
  if (!stream.get(c)) throw StationError("cannot read " + file.string());
  return static_cast<std::uint8_t>(c);
}

// Overwrites the record size and file type: no reader can take the header as sound.
void DamageHeader(const fs::path& file) {
  Patch(file, engine::px::off::RecordSize, {0x00, 0x00});
  Patch(file, engine::px::off::FileType, {0xEE});
}

void WriteText(const fs::path& file, const std::string& text) {
  std::ofstream stream(file, std::ios::binary | std::ios::trunc);
  stream << text;
  stream.close();
  if (!stream) throw StationError("cannot write " + file.string());
}

void Remove(const fs::path& file) {
  std::error_code ec;
  fs::remove(file, ec);
  if (ec) throw StationError("cannot delete " + file.string() + ": " + ec.message());
}

const creators::TableSchema& SchemaOf(const Damage& damage) {
  const auto* schema = creators::FindSchema(damage.folder, damage.table);
  if (schema == nullptr)
    throw StationError("no table " + damage.folder + "/" + damage.table + " in the station");
  return *schema;
}

struct Counts {
  std::size_t tables = 0;
  std::size_t records = 0;
};

}  // namespace

const std::vector<DamageKind>& DamageKinds() {
  static const std::vector<DamageKind> kinds = {
      {"stale-locks", "",
       "lock files of a crashed session: C:\\PDOXUSRS.NET, and PARADOX.LCK and PDOXUSRS.LCK in "
       "every data folder (or only in :FOLDER)"},
      {"px-missing", "PERMDATA/STOCK", "the primary index file (.PX) of a keyed table is deleted"},
      {"px-damaged", "PERMDATA/DEBTMAST", "the header of a keyed table's .PX is overwritten"},
      {"px-stale", "CONFIGDATA/TANKCONF",
       "the .PX no longer matches its table's change stamp (index out of date)"},
      {"index-missing", "CONFIGDATA/GRADE",
       "the first named index (.XG0) of a table is deleted; its primary index stays sound"},
      {"db-header", "TEMPDATA/PUMPSALE",
       "the header of the table's .DB is overwritten, so only a new or restored table helps"},
      {"db-truncated", "HISTORY/PUMPHIST", "the table's .DB is cut short inside its last block"},
      {"table-missing", "TEMPDATA/CASHPAY", "every file of the table is deleted"},
      {"backup-missing", "PERMDATA/ATTEND",
       "the table's files are deleted from the latest shift backup (or from generation @N)"},
      {"backup-damaged", "PERMDATA/ATTEND",
       "the .DB header of the table's copy in the latest shift backup (or generation @N) is "
       "overwritten"},
      {"no-log-folder", "",
       "the POS folder C:\\ZelPos, which holds the log and the data folders, is moved aside "
       "to C:\\ZelPos.away (applied after every other damage)"},
      {"log-readonly", "",
       "C:\\ZelPos\\ZelUtil.Log holds earlier lines and is read-only (root ignores the "
       "permission and can still write it)"},
  };
  return kinds;
}

Damage ParseDamage(const std::string& text) {
  Damage damage;
  std::string rest = text;
  if (const auto at = rest.find('@'); at != std::string::npos) {
    const std::string generation = rest.substr(at + 1);
    rest.resize(at);
    char* end = nullptr;
    const long value = std::strtol(generation.c_str(), &end, 10);
    if (generation.empty() || *end != '\0' || value < 1 || value > kGenerations)
      throw StationError("damage " + text + ": the backup generation must be 1 to 7");
    damage.generation = static_cast<int>(value);
  }
  std::string target;
  if (const auto colon = rest.find(':'); colon != std::string::npos) {
    target = rest.substr(colon + 1);
    rest.resize(colon);
  }
  damage.kind = rest;
  const auto& kinds = DamageKinds();
  const auto kind = std::find_if(kinds.begin(), kinds.end(),
                                 [&](const DamageKind& k) { return k.name == damage.kind; });
  if (kind == kinds.end())
    throw StationError("unknown damage kind \"" + damage.kind + "\" (see --help)");
  if (damage.generation != 0 && !damage.kind.starts_with("backup-"))
    throw StationError("damage " + text + ": only the backup kinds take a generation");

  if (damage.kind == "stale-locks") {
    if (target.empty()) return damage;
    damage.folder = AsciiUpper(target);
    const auto& order = catalogue::CheckOrder();
    if (std::find(order.begin(), order.end(), damage.folder) == order.end())
      throw StationError("damage " + text + ": " + target + " is not a data folder");
    return damage;
  }
  if (kind->target.empty()) {
    if (!target.empty()) throw StationError("damage " + damage.kind + " takes no table");
    return damage;
  }
  if (target.empty()) target = kind->target;
  const auto slash = target.find_first_of("/\\");
  if (slash == std::string::npos)
    throw StationError("damage " + text + ": name the table as FOLDER/TABLE");
  damage.folder = AsciiUpper(target.substr(0, slash));
  damage.table = AsciiUpper(target.substr(slash + 1));
  const auto* schema = creators::FindSchema(damage.folder, damage.table);
  if (schema == nullptr)
    throw StationError("damage " + text + ": " + damage.folder + "/" + damage.table +
                       " is not a table of the station");
  const bool keyed = schema->def.keyFieldCount > 0;
  if (damage.kind.starts_with("px-") && !keyed)
    throw StationError("damage " + text + ": " + damage.folder + "/" + damage.table +
                       " is a heap table without a primary index (.PX)");
  if (damage.kind == "index-missing" && schema->def.indexes.empty())
    throw StationError("damage " + text + ": " + damage.folder + "/" + damage.table +
                       " has no named index");
  if (damage.kind.starts_with("backup-")) {
    const auto* entry = catalogue::FindEntry(damage.folder, damage.table);
    if (entry == nullptr || entry->repairPath != catalogue::RepairPath::Kept)
      throw StationError("damage " + text + ": " + damage.folder + "/" + damage.table +
                         " is not kept in the shift backup");
  }
  return damage;
}

namespace {

std::string Describe(const Damage& d) {
  if (d.folder.empty()) return d.kind;
  return d.kind + " " + d.folder + (d.table.empty() ? "" : "/" + d.table);
}

// Applies one damage and returns what was done, in the station's own Windows paths.
std::string Apply(const Damage& d, int latestGeneration) {
  const std::string tablePath = DataPath(d.folder, d.table, "");
  if (d.kind == "stale-locks") {
    const std::string lockText = "ZelPos session lock (left by a crashed till)\r\n";
    WriteText(Map("C:\\PDOXUSRS.NET"), lockText);
    std::string what = "left C:\\PDOXUSRS.NET, and PARADOX.LCK and PDOXUSRS.LCK in";
    const char* separator = " ";
    for (std::string_view folder : catalogue::LockResetOrder()) {
      if (!d.folder.empty() && d.folder != folder) continue;
      for (const char* name : {"PARADOX.LCK", "PDOXUSRS.LCK"})
        WriteText(Map("C:\\ZELPOS\\" + std::string(folder) + "\\" + name), lockText);
      what += separator + std::string(folder);
      separator = ", ";
    }
    return what;
  }
  if (d.kind == "no-log-folder") {
    // The log's folder is the POS folder itself (the data root): without it the run can only
    // report the log error. Moved aside, not deleted, so the station can be put back.
    const fs::path folder = Map("C:\\ZelPos");
    const fs::path away = folder.parent_path() / "ZelPos.away";
    std::error_code ec;
    if (fs::exists(away, ec)) throw StationError(away.string() + " already exists");
    fs::rename(folder, away, ec);
    if (ec) throw StationError("cannot move " + folder.string() + " aside: " + ec.message());
    return "C:\\ZelPos moved to C:\\ZelPos.away; the log's folder is missing";
  }
  if (d.kind == "log-readonly") {
    const fs::path log = Map("C:\\ZelPos\\ZelUtil.Log");
    std::error_code ec;
    if (fs::exists(fs::symlink_status(log, ec)))
      throw StationError("the log " + log.string() + " is already set up by another damage");
    WriteText(log,
              "01/03/2024  06:00:12  ZEL Util Start.\r\n"
              "01/03/2024  06:00:20  Create new file :TEMPDATA PUMPSALE\r\n");
    fs::permissions(log, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read,
                    ec);
    if (ec) throw StationError("cannot make " + log.string() + " read-only: " + ec.message());
#ifdef _WIN32
    return "C:\\ZelPos\\ZelUtil.Log is read-only";
#else
    return geteuid() == 0 ? "C:\\ZelPos\\ZelUtil.Log is read-only (but root may still write it)"
                          : "C:\\ZelPos\\ZelUtil.Log is read-only";
#endif
  }
  SchemaOf(d);  // names the table when it is not one of the station's
  const fs::path dir = Map("C:\\ZELPOS\\" + d.folder);
  if (d.kind == "px-missing") {
    Remove(FileWithExtension(dir, d.table, ".PX"));
    return "deleted " + tablePath + ".PX";
  }
  if (d.kind == "px-damaged") {
    DamageHeader(FileWithExtension(dir, d.table, ".PX"));
    return "overwrote the header of " + tablePath + ".PX";
  }
  if (d.kind == "px-stale") {
    const fs::path px = FileWithExtension(dir, d.table, ".PX");
    const auto stamp = ReadByte(px, engine::px::off::IndexStamp);
    // The table changed after its index was last written: the index's stamp is one behind.
    Patch(px, engine::px::off::IndexStamp, {static_cast<std::uint8_t>(stamp - 1)});
    return "put the stamp of " + tablePath + ".PX one behind its table's change count";
  }
  if (d.kind == "index-missing") {
    const fs::path xg = FileWithExtension(dir, d.table, ".XG0");
    if (xg.empty()) throw StationError("no named index file " + tablePath + ".XG0 to delete");
    Remove(xg);
    return "deleted " + tablePath + ".XG0";
  }
  if (d.kind == "db-header") {
    DamageHeader(FileWithExtension(dir, d.table, ".DB"));
    return "overwrote the header of " + tablePath + ".DB";
  }
  if (d.kind == "db-truncated") {
    const fs::path db = FileWithExtension(dir, d.table, ".DB");
    const auto size = fs::file_size(db);
    std::ifstream stream(db, std::ios::binary);
    std::uint8_t header[4] = {};
    stream.read(reinterpret_cast<char*>(header), 4);
    const auto headerSize = engine::px::Le16(header + engine::px::off::HeaderSize);
    if (!stream || size <= headerSize)
      throw StationError("cannot truncate " + db.string() + ": it holds no records");
    const auto cut = headerSize + (size - headerSize) / 2 + 7;  // mid-block, never on a boundary
    fs::resize_file(db, cut);
    return "cut " + tablePath + ".DB from " + std::to_string(size) + " to " + std::to_string(cut) +
           " bytes";
  }
  if (d.kind == "table-missing") {
    for (const auto& file : TableFiles(dir, d.table)) Remove(file);
    return "deleted every file of " + tablePath;
  }
  const int generation = d.generation != 0 ? d.generation : latestGeneration;
  const std::string backup = BackupDir(d.folder, generation);
  const fs::path backupDir = Map(backup);
  if (d.kind == "backup-missing") {
    for (const auto& file : TableFiles(backupDir, d.table)) Remove(file);
    return "deleted " + d.table + " from " + backup;
  }
  if (d.kind == "backup-damaged") {
    const fs::path db = FileWithExtension(backupDir, d.table, ".DB");
    if (db.empty()) throw StationError("no copy of " + d.table + " in " + backupDir.string());
    DamageHeader(db);
    return "overwrote the header of " + backup + d.table + ".DB";
  }
  throw StationError("damage " + d.kind + " is not known");
}

}  // namespace

void BuildStation(const StationOptions& options, std::ostream& out) {
  const auto started = std::chrono::steady_clock::now();
#ifndef _WIN32
  if (options.prefix.empty()) throw StationError("no Wine prefix given (--prefix DIR)");
#endif
  if (options.backupCount < 1 || options.backupCount > kGenerations)
    throw StationError("the latest backup generation must be 1 to 7");
  if (options.scale < 1) throw StationError("the scale must be at least 1");
  std::error_code ec;
#ifndef _WIN32
  // On Linux the station goes into the given Wine prefix; on Windows drive C: is C:.
  const fs::path prefix = fs::absolute(options.prefix, ec);
  if (ec) throw StationError("cannot resolve the prefix " + options.prefix.string());
  fs::create_directories(prefix / "drive_c", ec);
  if (ec)
    throw StationError("cannot create " + (prefix / "drive_c").string() + ": " + ec.message());
  if (setenv("WINEPREFIX", prefix.c_str(), 1) != 0)
    throw StationError("cannot set WINEPREFIX to " + prefix.string());
#endif

  // Never build over a station: its tables would be lost.
  for (const char* existing : {"C:\\ZELPOS", "C:\\ShiftBackUp"})
    if (fs::exists(Map(existing)))
      throw StationError(Map(existing).string() +
                         " already exists; choose an empty prefix or remove the old station");

#ifdef _WIN32
  out << "Building a demo station on drive C:\n";
#else
  out << "Building a demo station in " << prefix.string() << " (drive C: is "
      << (prefix / "drive_c").string() << ")\n";
#endif

  // Folder by folder, each reported as soon as it is written.
  Counts total;
  for (std::string_view folder : catalogue::CheckOrder()) {
    Counts counts;
    for (const auto& schema : creators::Schemas()) {
      if (schema.folder != folder) continue;
      const fs::path db = creators::TableFile(schema.folder, schema.table);
      fs::create_directories(db.parent_path(), ec);
      if (ec)
        throw StationError("cannot create " + db.parent_path().string() + ": " + ec.message());
      const std::size_t count = RecordCount(schema, options.scale);
      try {
        engine::CreateTable(db, schema.def, Records(schema, count));
      } catch (const engine::EngineError& e) {
        throw StationError("cannot write " + std::string(schema.folder) + "/" +
                           std::string(schema.table) + ": " + e.what());
      }
      counts.tables++;
      counts.records += count;
    }
    out << "  " << std::left << std::setw(11) << folder << std::right << std::setw(3)
        << counts.tables << " tables " << std::setw(9) << counts.records << " records" << std::endl;
    total.tables += counts.tables;
    total.records += counts.records;
  }

  // The POS program's settings, as Windows writes INI files.
  WriteText(Map("c:\\Zelpos\\Zelpos.ini"), "[Main]\r\nTillNumber=" + options.till + "\r\n");
  WriteText(Map("C:\\ZelPos\\Backup.Ini"),
            "[BackUpNu]\r\nCount=" + std::to_string(options.backupCount) + "\r\n");
  out << "  c:\\Zelpos\\Zelpos.ini: TillNumber=" << options.till
      << "\n  C:\\ZelPos\\Backup.Ini: Count=" << options.backupCount << "\n";

  // Seven generations of the kept tables, as the POS leaves them at each shift end.
  std::size_t kept = 0;
  for (int generation = 1; generation <= kGenerations; ++generation) {
    for (const auto& entry : catalogue::Entries()) {
      if (entry.repairPath != catalogue::RepairPath::Kept) continue;
      const fs::path target = Map(BackupDir(entry.folder, generation));
      fs::create_directories(target, ec);
      if (ec) throw StationError("cannot create " + target.string() + ": " + ec.message());
      const fs::path live = creators::TableFile(entry.folder, entry.table).parent_path();
      for (const auto& file : TableFiles(live, entry.table)) {
        fs::copy_file(file, target / file.filename(), fs::copy_options::overwrite_existing, ec);
        if (ec) throw StationError("cannot copy " + file.string() + ": " + ec.message());
      }
      if (generation == 1) ++kept;
    }
  }
  out << "  C:\\ShiftBackUp\\: " << kGenerations << " generations of " << kept
      << " kept tables (latest " << options.backupCount << ")\n";

  if (!options.damages.empty()) out << "Damage:\n";
  // Moving the POS folder aside must come last: every other damage works inside it.
  std::vector<Damage> ordered = options.damages;
  std::stable_partition(ordered.begin(), ordered.end(),
                        [](const Damage& d) { return d.kind != "no-log-folder"; });
  for (const Damage& requested : ordered) {
    Damage damage = requested;
    if (damage.folder.empty() && damage.kind != "stale-locks")
      damage = ParseDamage(requested.kind + (requested.generation != 0
                                                 ? "@" + std::to_string(requested.generation)
                                                 : std::string()));  // the kind's default table
    try {
      out << "  " << Describe(damage) << ": " << Apply(damage, options.backupCount) << "\n";
    } catch (const fs::filesystem_error& e) {
      throw StationError("damage " + Describe(damage) + " failed: " + e.what());
    }
  }

  const auto elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - started);
  out << "Built " << total.tables << " tables with " << total.records << " records in "
      << std::fixed << std::setprecision(1) << elapsed.count() << " s\n";
}

}  // namespace zel::demostation
