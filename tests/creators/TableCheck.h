#pragma once
// Test helpers shared by the creator and demo-station tests: open a table under the indexes the
// catalogue tests, read it with pxlib in a child process, snapshot files, capture stderr.
#include "tests/support/StderrCapture.h"
#include <fcntl.h>
#include <unistd.h>

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QMap>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "catalogue/Catalogue.h"
#include "engine/EngineError.h"
#include "engine/Session.h"
#include "engine/Table.h"

namespace zel::test {

// The named indexes the catalogue tests for (folder, table), in test order.
inline std::vector<std::string> CatalogueIndexes(std::string_view folder, std::string_view table) {
  std::vector<std::string> names;
  if (const auto* entry = catalogue::FindEntry(folder, table))
    for (auto name : entry->namedIndexes)
      if (!name.empty()) names.emplace_back(name);
  return names;
}

// Opens the table under its primary index and then each named index, as a table test does.
// Empty when every open succeeds, else "<index or primary>: <engine error>".
inline QString OpenProblem(const std::string& folder, const std::string& tableName,
                           const std::vector<std::string>& indexes) {
  QString problem;
  {
    engine::Table table;
    std::vector<std::string> all{""};
    all.insert(all.end(), indexes.begin(), indexes.end());
    for (const auto& index : all) {
      table.SetDatabaseName(folder);
      table.SetTableName(tableName);
      table.SetIndexName(index);
      try {
        table.Open();
        table.Close();
      } catch (const std::exception& e) {
        table.Close();
        problem = QString::fromStdString((index.empty() ? "primary" : index) + ": " + e.what());
        break;
      }
    }
  }
  engine::Session::Default().Close();
  return problem;
}

inline QString OpenProblem(std::string_view folder, std::string_view table) {
  return OpenProblem(std::string(folder), std::string(table) + ".db",
                     CatalogueIndexes(folder, table));
}

struct PxDump {
  int exitCode = -1;
  QByteArray out;
  QByteArray err;
  // "records 12" -> 12; -1 when absent.
  long Header(const char* key) const {
    for (const QByteArray& line : out.split('\n'))
      if (line.startsWith(QByteArray(key) + ' ')) return line.mid(qstrlen(key) + 1).toLong();
    return -1;
  }
  // The record lines, in the file's order (after the header facts and field lines).
  QList<QByteArray> Records() const {
    static const QList<QByteArray> keys = {"filetype",    "version",    "records",      "fields",
                                           "keyfields",   "recordsize", "headersize",   "blocksize",
                                           "codepage",    "sortorder",  "autoinc",      "indexroot",
                                           "indexlevels", "field",      "primaryindex", "data"};
    QList<QByteArray> records;
    bool inHeader = true;
    for (const QByteArray& line : out.split('\n')) {
      const qsizetype space = line.indexOf(' ');
      if (inHeader && keys.contains(space < 0 ? line : line.left(space))) continue;
      inHeader = false;
      if (!line.isEmpty()) records << line;
    }
    return records;
  }
};

// pxlib's reading of a .DB (and its .PX when given), in a child process.
inline PxDump RunPxDump(const QString& pxdump, const QString& db, const QString& px = {}) {
  QProcess process;
  QStringList args{db};
  if (!px.isEmpty()) args << px;
  process.start(pxdump, args);
  PxDump dump;
  if (!process.waitForFinished(60000)) {
    process.kill();
    process.waitForFinished();
    return dump;
  }
  dump.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -2;
  dump.out = process.readAllStandardOutput();
  dump.err = process.readAllStandardError();
  return dump;
}

// Every file under a directory with its bytes, by relative path.
inline QMap<QString, QByteArray> Snapshot(const std::filesystem::path& dir) {
  QMap<QString, QByteArray> files;
  std::error_code ec;
  for (auto it = std::filesystem::recursive_directory_iterator(dir, ec);
       it != std::filesystem::recursive_directory_iterator(); ++it) {
    if (!it->is_regular_file()) continue;
    QFile file(QString::fromStdString(it->path().string()));
    if (file.open(QIODevice::ReadOnly))
      files.insert(QString::fromStdString(std::filesystem::relative(it->path(), dir).string()),
                   file.readAll());
  }
  return files;
}

// Host path of a file of a table beside its .DB: the extension as the writer named it, any case.
inline std::filesystem::path SiblingFile(const std::filesystem::path& db, std::string_view ext) {
  std::error_code ec;
  const std::string stem = db.stem().string();
  for (const auto& item : std::filesystem::directory_iterator(db.parent_path(), ec)) {
    const auto name = item.path();
    if (QString::fromStdString(name.stem().string())
                .compare(QString::fromStdString(stem), Qt::CaseInsensitive) == 0 &&
        QString::fromStdString(name.extension().string())
                .compare(QString::fromLatin1(ext.data(), static_cast<qsizetype>(ext.size())),
                         Qt::CaseInsensitive) == 0)
      return name;
  }
  return {};
}

}  // namespace zel::test
