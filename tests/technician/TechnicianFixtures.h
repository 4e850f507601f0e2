#pragma once
// Demo stations for the technician's commands: a station built twice from the same options (the
// builder is deterministic), once healthy as "before the damage" and once damaged, the console
// run on it, and the records and files of its tables read back.
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <algorithm>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "creators/Schemas.h"
#include "engine/TableRecords.h"
#include "engine/TableWriter.h"
#include "tests/support/DemoStations.h"

namespace zel::test {

inline const QString kConsole = ZEL_BINARY_DIR "/tools/console/zelutil-console";

struct ConsoleResult {
  int exitCode = -1;
  QString out;
  QString err;
};

inline ConsoleResult RunConsole(const QString& prefix, const QStringList& arguments,
                                const QStringList& extraEnvironment = {}) {
  QProcess process;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("WINEPREFIX", prefix);
  env.remove("DISPLAY");
  for (const QString& pair : extraEnvironment)
    env.insert(pair.section('=', 0, 0), pair.section('=', 1));
  process.setProcessEnvironment(env);
  process.start(kConsole, arguments);
  process.closeWriteChannel();
  ConsoleResult result;
  if (!process.waitForFinished(120000)) {
    process.kill();
    process.waitForFinished();
    result.err = "timed out";
    return result;
  }
  result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
  result.out = QString::fromUtf8(process.readAllStandardOutput());
  result.err = QString::fromUtf8(process.readAllStandardError());
  return result;
}

inline std::filesystem::path TablePath(const QString& prefix, const std::string& folder,
                                       const std::string& table, const char* extension = ".DB") {
  return std::filesystem::path(prefix.toStdString()) / "drive_c" / "ZELPOS" / folder /
         (table + extension);
}

// The table's records, sorted: put-back may change their order, never their values.
inline std::vector<engine::Record> SortedRecords(const std::filesystem::path& db) {
  std::vector<engine::Record> records = engine::ReadTableRecords(db).records;
  std::sort(records.begin(), records.end());
  return records;
}

// Rewrites a catalogue table with `records` (its definition from the catalogue).
inline void WriteTable(const QString& prefix, const std::string& folder, const std::string& table,
                       const std::vector<engine::Record>& records) {
  const creators::TableSchema* schema = creators::FindSchema(folder, table);
  engine::CreateTable(TablePath(prefix, folder, table), schema->def, records);
}

// Every file of the five data folders but lock files, by name relative to C:\ZELPOS, with its
// bytes.
inline std::map<QString, QByteArray> TableFiles(const QString& prefix) {
  std::map<QString, QByteArray> files;
  const QDir pos(prefix + "/drive_c/ZELPOS");
  for (const char* folder : {"CONFIGDATA", "PERMDATA", "TEMPDATA", "HISTORY", "DISPDATA"}) {
    const QDir dir(pos.filePath(folder));
    for (const QString& name : dir.entryList(QDir::Files | QDir::Hidden)) {
      if (name.endsWith(".LCK", Qt::CaseInsensitive) || name.endsWith(".NET", Qt::CaseInsensitive))
        continue;
      QFile file(dir.filePath(name));
      if (file.open(QIODevice::ReadOnly)) files[QString(folder) + "/" + name] = file.readAll();
    }
  }
  return files;
}

// The names of the files that differ between two snapshots, for a failure message.
inline QString Differences(const std::map<QString, QByteArray>& a,
                           const std::map<QString, QByteArray>& b) {
  QStringList out;
  for (const auto& [name, bytes] : a) {
    const auto it = b.find(name);
    if (it == b.end())
      out << "gone " + name;
    else if (it->second != bytes)
      out << "changed " + name;
  }
  for (const auto& [name, bytes] : b)
    if (!a.count(name)) out << "new " + name;
  return out.join(", ");
}

inline QJsonObject ReadJson(const QString& file) {
  QFile f(file);
  if (!f.open(QIODevice::ReadOnly)) return {};
  return QJsonDocument::fromJson(f.readAll()).object();
}

// The newest report of the station (names sort by time within a second's number).
inline QString NewestReport(const QString& prefix) {
  const QDir dir(prefix + "/drive_c/ZELPOS/ZelUtil.Reports");
  QStringList names = dir.entryList({"*.json"}, QDir::Files, QDir::Time);
  return names.isEmpty() ? QString() : dir.filePath(names.first());
}

}  // namespace zel::test
