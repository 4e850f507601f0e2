#pragma once
// Small fixtures for the engine tests: copies of sample tables in a temporary folder, byte
// patches, and restamping of the sample tables whose index stamps disagree with their data.
#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>
#include <QStringList>
#include <QtTest>

namespace enginetest {

inline QString SamplePath(const QString& relative) {
  return QStringLiteral(ZEL_SAMPLES_DIR) + "/" + relative;
}

// Copies the files of sample table `relative` (e.g. "paradoxdriver/db/ORDERS") into `dir`
// under the base name `as` (or its own), keeping each extension; returns the new .DB path.
inline QString CopyTable(const QString& relative, const QString& dir, const QString& as = {}) {
  const QFileInfo base(SamplePath(relative));
  const QString stem = base.fileName();
  const QString newStem = as.isEmpty() ? stem : as;
  QString dbPath;
  const QStringList entries =
      QDir(base.path()).entryList({stem + ".*"}, QDir::Files | QDir::CaseSensitive);
  for (const QString& name : entries) {
    const QString ext = name.mid(stem.size());
    const QString target = dir + "/" + newStem + ext;
    QFile::remove(target);
    if (!QFile::copy(base.path() + "/" + name, target)) qFatal("cannot copy %s", qPrintable(name));
    QFile::setPermissions(target, QFile::ReadOwner | QFile::WriteOwner);
    if (ext.compare(".db", Qt::CaseInsensitive) == 0) dbPath = target;
  }
  // A sample without its data file (index files only) gives the path the table would have.
  return dbPath.isEmpty() ? dir + "/" + newStem + ".DB" : dbPath;
}

// The file beside `dbPath` with extension `ext`, whatever its case, or "" when missing.
inline QString Beside(const QString& dbPath, const QString& ext) {
  const QFileInfo db(dbPath);
  for (const QString& name : QDir(db.path()).entryList(QDir::Files)) {
    if (name.compare(db.completeBaseName() + ext, Qt::CaseInsensitive) == 0)
      return db.path() + "/" + name;
  }
  return {};
}

inline QByteArray Read(const QString& file) {
  QFile f(file);
  if (!f.open(QIODevice::ReadOnly)) qFatal("cannot read %s", qPrintable(file));
  return f.readAll();
}

inline void Write(const QString& file, const QByteArray& bytes) {
  QFile f(file);
  if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
    qFatal("cannot write %s", qPrintable(file));
  f.write(bytes);
}

inline void PokeByte(const QString& file, int offset, quint8 value) {
  QByteArray b = Read(file);
  if (offset >= b.size()) qFatal("offset past end of %s", qPrintable(file));
  b[offset] = static_cast<char>(value);
  Write(file, b);
}

inline void PokeU16(const QString& file, int offset, quint16 value) {
  PokeByte(file, offset, value & 0xFF);
  PokeByte(file, offset + 1, value >> 8);
}

inline quint8 PeekByte(const QString& file, int offset) {
  return static_cast<quint8>(Read(file).at(offset));
}

inline void Truncate(const QString& file, qint64 size) {
  QFile f(file);
  if (!f.resize(size)) qFatal("cannot truncate %s", qPrintable(file));
}

// CUSTOMER (keyed, 4 blocks, secondary index "City") and C (keyed, indexes "A" and "B") carry
// index stamps that disagree with their data files; copying the stamps across gives sound
// tables with populated secondary indexes.
inline QString RestampedCustomer(const QString& dir) {
  const QString db = CopyTable("paradoxdriver/db/CUSTOMER", dir);
  PokeByte(db, 0x2D, PeekByte(Beside(db, ".PX"), 0x2C));
  PokeByte(Beside(db, ".Y06"), 0x2C, PeekByte(Beside(db, ".X06"), 0x2D));
  return db;
}

inline QString RestampedC(const QString& dir) {
  const QString db = CopyTable("paradoxdriver/joins/C", dir);
  PokeByte(db, 0x2D, PeekByte(Beside(db, ".PX"), 0x2C));
  for (const char* n : {"2", "3"}) {
    PokeByte(Beside(db, QString(".Y0") + n), 0x2C, PeekByte(Beside(db, QString(".X0") + n), 0x2D));
  }
  return db;
}

}  // namespace enginetest
