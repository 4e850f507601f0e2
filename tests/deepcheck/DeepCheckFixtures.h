#pragma once
// Where things are in a table's files, read from their headers, and byte-level damage for the
// deep check's tests.
#include <QByteArray>
#include <QString>
#include <QtTest>
#include <string>

#include "engine/ParadoxFormat.h"
#include "tests/engine/EngineFixtures.h"

namespace deeptest {

// The parsed header of a Paradox file.
inline zel::engine::px::Header HeaderOf(const QString& file) {
  const QByteArray bytes = enginetest::Read(file);
  zel::engine::px::Header h;
  std::string problem;
  const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.constData());
  if (!zel::engine::px::ParseHeader({data, static_cast<std::size_t>(bytes.size())}, h, problem))
    qFatal("%s: %s", qPrintable(file), problem.c_str());
  return h;
}

// Offset of record `index` (0-based) of block `block` (1-based).
inline int RecordAt(const zel::engine::px::Header& h, int block, int index) {
  return static_cast<int>(h.BlockOffset(static_cast<std::uint32_t>(block))) + 6 +
         index * h.recordSize;
}

// Offset of field `name` within a record.
inline int FieldOffset(const zel::engine::px::Header& h, const std::string& name) {
  for (const auto& f : h.fields)
    if (f.name == name) return static_cast<int>(f.offset);
  qFatal("no field %s", name.c_str());
}

inline int FieldBytes(const zel::engine::px::Header& h, const std::string& name) {
  for (const auto& f : h.fields)
    if (f.name == name) return static_cast<int>(f.bytes);
  qFatal("no field %s", name.c_str());
}

inline void PutBytes(const QString& file, int at, const QByteArray& bytes) {
  QByteArray b = enginetest::Read(file);
  if (at + bytes.size() > b.size()) qFatal("write past the end of %s", qPrintable(file));
  b.replace(at, bytes.size(), bytes);
  enginetest::Write(file, b);
}

inline void PutLe32(const QString& file, int at, quint32 v) {
  QByteArray b(4, 0);
  for (int i = 0; i < 4; ++i) b[i] = static_cast<char>(v >> (8 * i));
  PutBytes(file, at, b);
}

inline quint32 GetLe32(const QString& file, int at) {
  const QByteArray b = enginetest::Read(file);
  quint32 v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<quint8>(b[at + i]);
  return v;
}

// Removes a record from its block as a careless program would: later records move up, the
// block and header counts go down, and the indexes are left as they were.
inline void DeleteRecord(const QString& db, int block, int index) {
  const auto h = HeaderOf(db);
  QByteArray b = enginetest::Read(db);
  const int start = static_cast<int>(h.BlockOffset(static_cast<std::uint32_t>(block)));
  const int add = static_cast<qint16>(quint8(b[start + 4]) | (quint8(b[start + 5]) << 8));
  const int count = add / h.recordSize + 1;
  const int at = RecordAt(h, block, index);
  const int tail = (count - index - 1) * h.recordSize;
  b.replace(at, tail, b.mid(at + h.recordSize, tail));
  b.replace(RecordAt(h, block, count - 1), h.recordSize, QByteArray(h.recordSize, 0));
  const int newAdd = add - h.recordSize;
  b[start + 4] = static_cast<char>(newAdd & 0xFF);
  b[start + 5] = static_cast<char>((newAdd >> 8) & 0xFF);
  enginetest::Write(db, b);
  PutLe32(db, 0x06, h.numRecords - 1);
}

}  // namespace deeptest
