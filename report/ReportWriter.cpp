#include "report/ReportWriter.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <nlohmann/json.hpp>

namespace zel::report {
namespace fs = std::filesystem;
namespace {

using Json = nlohmann::ordered_json;

const char* Name(PosWindowState state) {
  switch (state) {
    case PosWindowState::Closed:
      return "closed";
    case PosWindowState::StillThere:
      return "still there";
    case PosWindowState::Absent:
      break;
  }
  return "absent";
}

const char* Name(LockAction action) {
  switch (action) {
    case LockAction::Deleted:
      return "deleted";
    case LockAction::Failed:
      return "failed";
    case LockAction::Reported:
      return "reported";
    case LockAction::Absent:
      break;
  }
  return "absent";
}

const char* Name(RepairKind kind) {
  switch (kind) {
    case RepairKind::NewEmpty:
      return "new-empty";
    case RepairKind::Restore:
      return "restore";
    case RepairKind::ReIndex:
      break;
  }
  return "reindex";
}

template <typename T>
Json OrNull(const std::optional<T>& value) {
  return value ? Json(*value) : Json(nullptr);
}

Json ProcessJson(const std::optional<ProcessRef>& process) {
  if (!process) return nullptr;
  return Json{{"pid", process->pid}, {"command", process->command}};
}

Json ErrorJson(const std::optional<ErrorRecord>& error) {
  if (!error) return nullptr;
  return Json{{"code", OrNull(error->code)}, {"text", error->text}, {"file", error->file}};
}

Json SalvageJson(const std::optional<SalvageRecord>& salvage) {
  if (!salvage) return nullptr;
  return Json{{"recovered", salvage->recovered},
              {"outsideChain", salvage->outsideChain},
              {"dropped", salvage->dropped},
              {"unreadableBlocks", salvage->unreadableBlocks},
              {"path", salvage->path}};
}

Json RepairJson(const std::optional<RepairRecord>& repair) {
  if (!repair) return nullptr;
  return Json{{"kind", Name(repair->kind)},
              {"outcome", repair->usable ? "usable" : "unusable"},
              {"generation", OrNull(repair->generation)},
              {"savedTo", OrNull(repair->savedTo)},
              {"salvage", SalvageJson(repair->salvage)}};
}

Json TableJson(const TableRecord& table) {
  Json indexes = Json::array();
  for (const IndexRecord& index : table.indexes)
    indexes.push_back(
        {{"index", index.index}, {"usable", index.usable}, {"error", ErrorJson(index.error)}});
  return Json{{"folder", table.folder},
              {"table", table.table},
              {"indexes", std::move(indexes)},
              {"repair", RepairJson(table.repair)},
              {"skipped", table.skipped}};
}

std::string ErrorText(int error) {
  return std::strerror(error);
}

void SyncFolder(const fs::path& folder) {
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0 || ::fsync(fd) != 0) {
    const int error = errno;
    if (fd >= 0) ::close(fd);
    throw ReportError("cannot sync the folder " + folder.string() + ": " + ErrorText(error));
  }
  ::close(fd);
}

// The document in a new temporary file beside `file`, on disk; its path.
fs::path WriteTemporary(const fs::path& file, const std::string& document) {
  const fs::path folder = file.has_parent_path() ? file.parent_path() : fs::path(".");
  std::string pattern =
      (folder / ("." + file.filename().string() + kTemporaryMark + "XXXXXX")).string();
  const int fd = ::mkostemp(pattern.data(), O_CLOEXEC);
  if (fd < 0)
    throw ReportError("cannot write the run report " + file.string() + ": " + ErrorText(errno));
  const fs::path temporary = pattern;
  const char* data = document.data();
  std::size_t left = document.size();
  int error = 0;
  while (left > 0 && error == 0) {
    const ssize_t written = ::write(fd, data, left);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) {
      error = written < 0 ? errno : EIO;
      break;
    }
    data += written;
    left -= static_cast<std::size_t>(written);
  }
  // Readable by the technician's account as any other file of the station.
  if (error == 0 && ::fchmod(fd, 0644) != 0) error = errno;
  if (error == 0 && ::fsync(fd) != 0) error = errno;
  if (::close(fd) != 0 && error == 0) error = errno;
  if (error != 0) {
    ::unlink(temporary.c_str());
    throw ReportError("cannot write the run report " + file.string() + ": " + ErrorText(error));
  }
  return temporary;
}

}  // namespace

std::string IsoTime(std::chrono::system_clock::time_point time) {
  const std::time_t seconds = std::chrono::system_clock::to_time_t(time);
  std::tm local{};
  ::localtime_r(&seconds, &local);
  char text[40];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &local);
  const long offset = local.tm_gmtoff;
  const int minutes = static_cast<int>(((offset < 0 ? -offset : offset) / 60) % (24 * 60));
  char zone[16];
  std::snprintf(zone, sizeof zone, "%c%02d:%02d", offset < 0 ? '-' : '+', minutes / 60,
                minutes % 60);
  return std::string(text) + zone;
}

std::string ReportDocument(const RunReport& report) {
  Json lockFiles = Json::array();
  for (const LockFileRecord& lock : report.step1.lockFiles)
    lockFiles.push_back(
        {{"path", lock.path}, {"action", Name(lock.action)}, {"heldBy", ProcessJson(lock.heldBy)}});
  Json tables = Json::array();
  for (const TableRecord& table : report.tables) tables.push_back(TableJson(table));

  const Json document{{"schema", kSchema},
                      {"program", report.program},
                      {"version", report.version},
                      {"started", IsoTime(report.started)},
                      {"finished", IsoTime(report.finished)},
                      {"till", report.till},
                      {"masterTill", report.masterTill},
                      {"exitStatus", report.exitStatus},
                      {"checkOnly", report.checkOnly},
                      {"step1",
                       {{"ok", report.step1.ok},
                        {"posWindow", Name(report.step1.posWindow)},
                        {"lockFiles", std::move(lockFiles)}}},
                      {"tables", std::move(tables)},
                      {"damagedFilesFolder", OrNull(report.damagedFilesFolder)}};
  // Names read from files may hold any bytes: invalid UTF-8 becomes U+FFFD instead of an error.
  return document.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
}

void WriteReport(const fs::path& file, const std::string& document) {
  const fs::path temporary = WriteTemporary(file, document);
  if (::rename(temporary.c_str(), file.c_str()) != 0) {
    const int error = errno;
    ::unlink(temporary.c_str());
    throw ReportError("cannot write the run report " + file.string() + ": " + ErrorText(error));
  }
  SyncFolder(file.has_parent_path() ? file.parent_path() : fs::path("."));
}

bool WriteNewReport(const fs::path& file, const std::string& document) {
  const fs::path temporary = WriteTemporary(file, document);
  // A second name never replaces an existing file, so two writers cannot take the same name.
  if (::link(temporary.c_str(), file.c_str()) == 0) {
    ::unlink(temporary.c_str());
  } else {
    int error = errno;
    // A file system without links: a look, then a rename (one run at a time writes here).
    if ((error == EPERM || error == EOPNOTSUPP) && !fs::exists(fs::symlink_status(file)))
      error = ::rename(temporary.c_str(), file.c_str()) == 0 ? 0 : errno;
    if (error != 0) ::unlink(temporary.c_str());
    if (error == EEXIST || error == EPERM || error == EOPNOTSUPP) return false;
    if (error != 0)
      throw ReportError("cannot write the run report " + file.string() + ": " + ErrorText(error));
  }
  SyncFolder(file.has_parent_path() ? file.parent_path() : fs::path("."));
  return true;
}

}  // namespace zel::report
