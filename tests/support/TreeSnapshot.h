#pragma once
// Everything a folder tree holds, to show that something left it untouched: each entry's
// relative path with its kind, permissions, modification time and (for files) a hash of its
// bytes. Two snapshots compare equal only when nothing was added, removed, written or touched.
#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QString>
#include <functional>

namespace zel::test {

using TreeSnapshot = QMap<QString, QString>;

// What the files under `root` hold, whatever their times and permissions: each file's relative
// path and the hash of its bytes, after `prepare` (if given) has blanked what may differ by
// right. For comparing trees two systems or two runs made.
inline QMap<QString, QByteArray> ContentHashes(
    const QString& root, const std::function<void(const QString&, QByteArray&)>& prepare = {}) {
  QMap<QString, QByteArray> files;
  for (QDirIterator it(root, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
       it.hasNext();) {
    QFile file(it.next());
    if (!file.open(QIODevice::ReadOnly)) continue;
    const QString name = QDir(root).relativeFilePath(file.fileName());
    QByteArray bytes = file.readAll();
    if (prepare) prepare(name, bytes);
    files.insert(name, QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
  }
  return files;
}

inline TreeSnapshot SnapshotTree(const QString& root) {
  TreeSnapshot snapshot;
  QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                  QDirIterator::Subdirectories);
  while (it.hasNext()) {
    const QFileInfo info(it.next());
    QString entry = info.isDir() ? "dir" : info.isSymLink() ? "link" : "file";
    entry += QString(" %1 %2")
                 .arg(int(info.permissions()), 0, 16)
                 .arg(info.lastModified().toMSecsSinceEpoch());
    if (info.isFile()) {
      QFile file(info.filePath());
      QCryptographicHash hash(QCryptographicHash::Sha256);
      if (file.open(QIODevice::ReadOnly) && hash.addData(&file))
        entry += " " + QString::fromLatin1(hash.result().toHex());
      else
        entry += " unreadable";
    }
    snapshot.insert(QDir(root).relativeFilePath(info.filePath()), entry);
  }
  return snapshot;
}

// The entries that differ between two snapshots, one per line, for a failure message.
inline QString TreeDifference(const TreeSnapshot& before, const TreeSnapshot& after) {
  QString text;
  for (auto it = before.begin(); it != before.end(); ++it)
    if (after.value(it.key()) != it.value())
      text += it.key() + (after.contains(it.key()) ? ": changed\n" : ": removed\n");
  for (auto it = after.begin(); it != after.end(); ++it)
    if (!before.contains(it.key())) text += it.key() + ": added\n";
  return text;
}

}  // namespace zel::test
