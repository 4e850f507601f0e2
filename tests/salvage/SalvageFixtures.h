#pragma once
// Helpers for the salvage tests: the raw records of a table (walked along its chain, as a
// healthy table is read), block damage, and comparisons of record sets.
#include <QByteArray>
#include <QFile>
#include <QList>
#include <QProcess>
#include <QSet>
#include <QString>
#include <QtTest>
#include <vector>

#include "engine/ParadoxFormat.h"
#include "tests/engine/EngineFixtures.h"

#ifndef PXDUMP_PATH
#define PXDUMP_PATH ""
#endif

namespace salvagetest {

namespace px = zel::engine::px;

inline px::Header HeaderOf(const QString& db) {
  const QByteArray bytes = enginetest::Read(db);
  px::Header h;
  std::string problem;
  if (!px::ParseHeader({reinterpret_cast<const std::uint8_t*>(bytes.constData()),
                        static_cast<std::size_t>(bytes.size())},
                       h, problem))
    qFatal("cannot parse %s: %s", qPrintable(db), problem.c_str());
  return h;
}

inline int BlockOffset(const px::Header& h, int block) {
  return static_cast<int>(h.headerSize + (block - 1) * h.BlockSize());
}

// The records of block `block` as its header counts them.
inline QList<QByteArray> BlockRecords(const QByteArray& file, const px::Header& h, int block) {
  QList<QByteArray> out;
  const int at = BlockOffset(h, block);
  if (at + 6 > file.size()) return out;
  const auto* p = reinterpret_cast<const std::uint8_t*>(file.constData()) + at;
  const int add = px::LeS16(p + 4);
  if (add < 0) return out;
  const int n = add / h.recordSize + 1;
  for (int i = 0; i < n; ++i) {
    const int r = at + 6 + i * h.recordSize;
    if (r + h.recordSize > file.size()) break;
    out.append(file.mid(r, h.recordSize));
  }
  return out;
}

// Every record of a sound table, in chain order.
inline QList<QByteArray> ChainRecords(const QString& db) {
  const px::Header h = HeaderOf(db);
  const QByteArray file = enginetest::Read(db);
  QList<QByteArray> out;
  for (int b = h.firstBlock, steps = 0; b != 0 && steps <= h.fileBlocks; ++steps) {
    out += BlockRecords(file, h, b);
    b = px::Le16(reinterpret_cast<const std::uint8_t*>(file.constData()) + BlockOffset(h, b));
  }
  return out;
}

inline QMultiHash<QByteArray, int> Bag(const QList<QByteArray>& records) {
  QMultiHash<QByteArray, int> bag;
  for (const auto& r : records) bag.insert(r, 0);
  return bag;
}

// True when every record of `part` is in `whole`, counting repeats.
inline bool SubBag(const QList<QByteArray>& part, const QList<QByteArray>& whole) {
  QHash<QByteArray, int> left;
  for (const auto& r : whole) ++left[r];
  for (const auto& r : part)
    if (--left[r] < 0) return false;
  return true;
}

inline void FillBlock(const QString& db, int block, char byte) {
  const px::Header h = HeaderOf(db);
  QByteArray b = enginetest::Read(db);
  const int at = BlockOffset(h, block);
  for (std::size_t i = 0; i < h.BlockSize() && at + static_cast<int>(i) < b.size(); ++i)
    b[at + static_cast<int>(i)] = byte;
  enginetest::Write(db, b);
}

// pxlib's count of the records it reads from `db`, or -1 when it cannot read them all.
inline int PxlibRecordCount(const QString& db) {
  QProcess p;
  p.start(PXDUMP_PATH, {"--read", db});
  if (!p.waitForFinished(60000) || p.exitCode() != 0) return -1;
  return p.readAllStandardOutput().trimmed().toInt();
}

// What pxlib reads from a table: its field lines ("name type len") and its records, BLOB values
// from `mb` when given (pxdump in a child process). Empty with the reason in `error` when it
// fails.
struct PxlibView {
  QStringList fields;
  QStringList rows;
  QString error;
};
inline PxlibView PxlibRead(const QString& db, const QString& mb = {}) {
  QStringList args{db};
  if (!mb.isEmpty()) args << "--mb" << mb;
  QProcess p;
  p.start(PXDUMP_PATH, args);
  PxlibView v;
  if (!p.waitForFinished(120000)) {
    p.kill();
    p.waitForFinished();
    v.error = "pxdump timed out on " + db;
    return v;
  }
  const QByteArray err = p.readAllStandardError();
  if (p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0 || !err.isEmpty()) {
    v.error = "pxdump on " + db + ": " + QString::fromLatin1(err);
    return v;
  }
  bool data = false;
  for (const QString& line : QString::fromLatin1(p.readAllStandardOutput()).split('\n')) {
    if (data && !line.isEmpty())
      v.rows << line;
    else if (line == "data")
      data = true;
    else if (line.startsWith("field "))
      v.fields << line.mid(6);
  }
  return v;
}

// The records of a CSV file (RFC 4180: quoted fields may hold commas, quotes and line breaks),
// the header row included.
inline QList<QStringList> ParseCsv(const QByteArray& bytes) {
  const QString text = QString::fromUtf8(bytes);
  QList<QStringList> rows;
  QStringList row;
  QString field;
  bool quoted = false, any = false;
  for (int i = 0; i < text.size(); ++i) {
    const QChar c = text[i];
    if (quoted) {
      if (c == '"' && i + 1 < text.size() && text[i + 1] == '"') {
        field += '"';
        ++i;
      } else if (c == '"') {
        quoted = false;
      } else {
        field += c;
      }
    } else if (c == '"') {
      quoted = true;
      any = true;
    } else if (c == ',') {
      row << field;
      field.clear();
    } else if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
      row << field;
      rows << row;
      row.clear();
      field.clear();
      any = false;
      ++i;
    } else {
      field += c;
      any = true;
    }
  }
  if (!row.isEmpty() || !field.isEmpty() || any) {
    row << field;
    rows << row;
  }
  return rows;
}

// The records of a CSV file without its header row.
inline QList<QStringList> CsvRows(const QString& file) {
  QFile f(file);
  if (!f.open(QIODevice::ReadOnly)) return {};
  QList<QStringList> rows = ParseCsv(f.readAll());
  if (!rows.isEmpty()) rows.removeFirst();
  return rows;
}

}  // namespace salvagetest
