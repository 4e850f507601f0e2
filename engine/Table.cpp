#include "engine/Table.h"

#include <algorithm>
#include <array>
#include <filesystem>
#include <system_error>

#include "engine/EngineError.h"
#include "engine/Session.h"
#include "engine/SessionImpl.h"
#include "engine/TablePath.h"
#include "engine/Verifier.h"
#include "platform/DriveMapping.h"
#include "platform/posix/FileLockProbe.h"

namespace zel::engine {
namespace fs = std::filesystem;

namespace {

constexpr std::array<const char*, 5> kAliases = {"DISPDATA", "CONFIGDATA", "HISTORY", "TEMPDATA",
                                                 "PERMDATA"};

bool HasDbExtension(const std::string& name) {
  const std::size_t dot = name.find_last_of(".\\/");
  return dot != std::string::npos && name[dot] == '.';
}

}  // namespace

std::string AliasFolder(const std::string& alias) {
  for (const char* folder : kAliases) {
    if (platform::SameNameIgnoringCase(alias, folder)) return folder;
  }
  return {};
}

fs::path ResolveTablePath(const std::string& databaseName, const std::string& tableName) {
  if (tableName.empty()) {
    throw EngineError(ErrorCode::TableDoesNotExist, "Table does not exist (no table name)",
                      databaseName);
  }
  const bool fullPath = tableName.find_first_of("\\/:") != std::string::npos;
  const std::string withExt = HasDbExtension(tableName) ? tableName : tableName + ".DB";
  if (fullPath) return platform::MapWindowsPath(withExt);
  const std::string folder = AliasFolder(databaseName);
  if (folder.empty()) {
    throw EngineError(ErrorCode::UnknownAlias, "Unknown database '" + databaseName + "'", withExt);
  }
  return platform::MapWindowsPath("C:\\ZELPOS\\" + folder + "\\" + withExt);
}

fs::path NetworkControlFile() {
  return platform::MapWindowsPath("C:\\PDOXUSRS.NET");
}

struct Table::OpenState {
  fs::path dbFile;
};

Table::Table(Session& session) : session_(session) {}
Table::Table() : Table(Session::Default()) {}

Table::~Table() {
  if (open_ && session_.state_) {
    auto& tables = session_.state_->tables;
    tables.erase(std::remove(tables.begin(), tables.end(), this), tables.end());
  }
}

bool Table::Active() const noexcept {
  return open_ != nullptr;
}

void Table::Open() {
  if (open_) return;
  if (!session_.IsOpen()) session_.Open();
  const fs::path dbFile = ResolveTablePath(databaseName_, tableName_);
  std::error_code ec;
  if (!fs::is_regular_file(dbFile, ec)) {
    // A FIFO, device or socket in the table's place is damage, not a missing table.
    const fs::file_status found = fs::status(dbFile, ec);
    if (!ec && fs::exists(found) && !fs::is_directory(found))
      throw EngineError(ErrorCode::ReadFailed, "Cannot read file (not a regular file)",
                        dbFile.string());
    throw EngineError(ErrorCode::TableDoesNotExist, "Table does not exist", dbFile.string());
  }
  Session::State& state = *session_.state_;
  const fs::path dir = dbFile.parent_path();
  state.locks.CheckFolder(dir, !inspectOnly_);
  for (const fs::path& file : ExistingTableFiles(dbFile)) {
    if (platform::IsLockedByOtherProcess(file)) {
      throw EngineError(ErrorCode::TableBusy, "Table is busy (file in use by another program)",
                        file.string());
    }
  }
  // Lock files are how writers keep out of each other's way; an inspection writes nothing, so
  // it makes none and leaves a read-only or backup folder exactly as it found it.
  if (!inspectOnly_) state.locks.Acquire(dir, NetworkControlFile());
  VerifyTable(dbFile, indexName_);
  open_ = std::make_unique<OpenState>(OpenState{dbFile});
  state.tables.push_back(this);
}

void Table::Close() {
  if (!open_) return;
  open_.reset();
  if (session_.state_) {
    auto& tables = session_.state_->tables;
    tables.erase(std::remove(tables.begin(), tables.end(), this), tables.end());
  }
  if (AfterClose) AfterClose(*this);
}

}  // namespace zel::engine
