#pragma once
// A till's data folders in a temporary Wine prefix with a TForm1 driven on fake platform
// services; tables made by the creator libraries or written directly with records.
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QStringList>
#include <QtTest>
#include <memory>
#include <string>
#include <vector>

#include "catalogue/Catalogue.h"
#include "creators/Schemas.h"
#include "engine/TableWriter.h"
#include "platform/DriveMapping.h"
#include "run/MainScreen.h"
#include "tests/support/FakePlatform.h"
#include "tests/support/RecordingView.h"

namespace zel::test {

// Host files that also record every existence test, so a test can see which paths were looked at.
class RecordingFiles : public HookedFiles {
 public:
  std::vector<std::string> looked;
  bool FileExists(const std::string& path) override {
    looked.push_back(path);
    return HookedFiles::FileExists(path);
  }
};

class Station {
 public:
  FakePlatform fake;
  RecordingFiles files;
  platform::Platform platform{files,          fake.platform.ini, fake.dialogs,
                              fake.posWindow, fake.powerOff,     fake.system};
  RecordingView view;
  std::unique_ptr<TForm1> form;

  Station() {
    for (auto folder : catalogue::CheckOrder())
      QDir().mkpath(fake.driveC() + "/ZELPOS/" + QString::fromLatin1(folder.data(), folder.size()));
    form = std::make_unique<TForm1>(platform, view);
  }
  ~Station() { form.reset(); }

  static QString Q(std::string_view s) { return QString::fromLatin1(s.data(), int(s.size())); }

  // Host path of a Windows path in this prefix.
  static QString Host(const std::string& windowsPath) {
    return QString::fromStdString(platform::MapWindowsPath(windowsPath).string());
  }
  static QString Live(const std::string& folder, const std::string& table, const char* ext) {
    return Host("C:\\ZELPOS\\" + folder + "\\" + table + ext);
  }

  // A new empty table through its catalogue creator, as the repair would make it.
  static void Create(std::string_view folder, std::string_view table) {
    auto creator = catalogue::TableCreator(folder, table);
    QVERIFY2(creator, "no creator");
    creator();
    QVERIFY2(QFile::exists(Live(std::string(folder), std::string(table), ".DB")),
             qPrintable("creator made no table: " + Q(folder) + "\\" + Q(table)));
  }
  static void CreateAll() {
    for (const auto& entry : catalogue::Entries()) Create(entry.folder, entry.table);
  }

  // The table written with `count` records into a directory given as a Windows path.
  static void Write(std::string_view folder, std::string_view table, const std::string& windowsDir,
                    int count) {
    const creators::TableSchema* schema = creators::FindSchema(folder, table);
    QVERIFY(schema);
    std::vector<engine::Record> records;
    for (int i = 1; i <= count; ++i) records.push_back(SampleRecord(schema->def, i));
    QDir().mkpath(Host(windowsDir));
    engine::CreateTable(platform::MapWindowsPath(windowsDir + "\\" + std::string(table) + ".DB"),
                        schema->def, records);
  }

  // A data file no engine accepts: its header overwritten.
  static void Corrupt(const QString& hostFile) {
    QFile file(hostFile);
    QVERIFY2(file.open(QIODevice::ReadWrite), qPrintable(hostFile));
    file.write(QByteArray(64, '\xEE'));
  }
  static QByteArray Bytes(const QString& hostFile) {
    QFile file(hostFile);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
  }
  static bool Remove(const std::string& folder, const std::string& table, const char* ext) {
    return QFile::remove(Live(folder, table, ext));
  }
  // Removes every secondary-index file (.X??, .Y??) of a table.
  static void RemoveSecondaryIndexes(const std::string& folder, const std::string& table) {
    QDir dir(Host("C:\\ZELPOS\\" + folder));
    for (const QString& name : dir.entryList({Q(table) + ".X*", Q(table) + ".Y*"}, QDir::Files))
      QVERIFY(dir.remove(name));
  }

  void WriteFile(const std::string& windowsPath, const QByteArray& content) {
    QDir().mkpath(QFileInfo(Host(windowsPath)).absolutePath());
    QFile file(Host(windowsPath));
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(content);
  }
  QStringList LogLines() {
    const QString text = QString::fromLatin1(Bytes(Host("C:\\ZelPos\\ZelUtil.Log")));
    QStringList lines;
    for (const QString& line : text.split("\r\n", Qt::SkipEmptyParts))
      lines << line.section("  ", 2);  // the message after date and time
    return lines;
  }

  // The fake clock at a local date and time.
  void SetClock(const QDateTime& at) {
    fake.system.now =
        std::chrono::system_clock::time_point(std::chrono::milliseconds(at.toMSecsSinceEpoch()));
  }

  QStringList Lst1() const { return view.lst1.lines; }
  QStringList Lst2() const { return view.lst2.lines; }
  QStringList Lst3() const { return view.lst3.lines; }

  static engine::Record SampleRecord(const engine::TableDef& def, int i) {
    engine::Record record;
    for (const auto& field : def.fields) {
      switch (field.type) {
        case engine::FieldType::Alpha:
          record.emplace_back((std::to_string(i) + "R").substr(0, std::size_t(field.size)));
          break;
        case engine::FieldType::Number:
        case engine::FieldType::Money:
          record.emplace_back(double(i) + 0.5);
          break;
        case engine::FieldType::Timestamp:
          record.emplace_back(63000000000000.0 + i);
          break;
        case engine::FieldType::Logical:
          record.emplace_back(std::int64_t(i % 2));
          break;
        case engine::FieldType::Date:
          record.emplace_back(std::int64_t(730000 + i));
          break;
        case engine::FieldType::AutoInc:
          record.emplace_back(std::monostate{});
          break;
        default:
          record.emplace_back(std::int64_t(i));
      }
    }
    return record;
  }
};

// The lines of a failed-then-passed or passed test of one table in lst1.
inline QStringList TestLines(const QString& folder, const QString& table,
                             const QStringList& outcomes) {
  QStringList lines;
  const QString start = "Testing " + folder + " " + table + " File.........";
  for (const QString& outcome : outcomes) lines << start << start + outcome;
  return lines;
}

}  // namespace zel::test
