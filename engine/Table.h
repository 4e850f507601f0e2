#pragma once
// The table object (tbl1): opens one Paradox table under one index to prove that both are
// usable. Open verifies the files and never writes to a table file.
#include <functional>
#include <memory>
#include <string>

namespace zel::engine {

class Session;

class Table {
 public:
  explicit Table(Session& session);
  Table();  // on Session::Default()
  ~Table();

  // A database alias: DISPDATA, CONFIGDATA, HISTORY, TEMPDATA or PERMDATA, matched without
  // regard to case, each naming C:\ZELPOS\<FOLDER>\ through the drive mapping.
  void SetDatabaseName(const std::string& alias) { databaseName_ = alias; }
  const std::string& DatabaseName() const noexcept { return databaseName_; }
  // "NAME.db" relative to the alias, or a full Windows path without extension, opened as a
  // Paradox table whatever the alias.
  void SetTableName(const std::string& name) { tableName_ = name; }
  const std::string& TableName() const noexcept { return tableName_; }
  // Empty: the primary index. Else a secondary index by its stored name or field name.
  void SetIndexName(const std::string& name) { indexName_ = name; }
  const std::string& IndexName() const noexcept { return indexName_; }
  // Inspect-only: Open verifies the table exactly as usual but takes no lock and writes nothing
  // in the table's folder (nor the network control file), for copies that must stay untouched
  // such as a shift backup. Lock files found there that no live process holds are leftovers and
  // are ignored; one that a live process holds still makes the folder busy.
  void SetInspectOnly(bool inspectOnly) { inspectOnly_ = inspectOnly; }
  bool InspectOnly() const noexcept { return inspectOnly_; }

  // Starts the session when it is closed, then verifies the table under the index; raises
  // EngineError exactly when the table or the index is unusable.
  void Open();
  // Closes an open table, then runs AfterClose before returning; does nothing when not open.
  void Close();
  bool Active() const noexcept;

  std::function<void(Table&)> AfterClose;

  Table(const Table&) = delete;
  Table& operator=(const Table&) = delete;

 private:
  Session& session_;
  std::string databaseName_;
  std::string tableName_;
  std::string indexName_;
  bool inspectOnly_ = false;
  struct OpenState;
  std::unique_ptr<OpenState> open_;
};

// Makes a table inspect-only for a scope and gives it back its former mode afterwards, also when
// the scope is left by an error.
class InspectOnlyScope {
 public:
  explicit InspectOnlyScope(Table& table) : table_(table), was_(table.InspectOnly()) {
    table_.SetInspectOnly(true);
  }
  ~InspectOnlyScope() { table_.SetInspectOnly(was_); }
  InspectOnlyScope(const InspectOnlyScope&) = delete;
  InspectOnlyScope& operator=(const InspectOnlyScope&) = delete;

 private:
  Table& table_;
  bool was_;
};

}  // namespace zel::engine
