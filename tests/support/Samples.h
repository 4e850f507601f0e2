#pragma once
// Where the Borland-made sample tables are. They are not part of the repository, so they are
// looked up when a test runs: $ZEL_SAMPLES_DIR if set, else ../shared/samples beside the source
// tree (or the folder given to CMake as -DZEL_SAMPLES_DIR). A test that compares with them skips
// when they are missing; with ZEL_REQUIRE_SAMPLES=1 (as CI runs) a missing sample fails instead,
// so a moved folder cannot turn the comparisons into silent skips.
#include <QByteArray>
#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QString>
#include <QStringList>
#include <QtTest>

namespace zel::test {

inline QString SamplesDir() {
  const QString fromEnv = qEnvironmentVariable("ZEL_SAMPLES_DIR");
  if (!fromEnv.isEmpty()) return QDir::cleanPath(QDir(fromEnv).absolutePath());
  return QDir::cleanPath(QStringLiteral(ZEL_SAMPLES_DEFAULT));
}

inline bool SamplesRequired() {
  const QByteArray v = qgetenv("ZEL_REQUIRE_SAMPLES");
  return !v.isEmpty() && v != "0";
}

// Whether sample `relative` is there: a folder, a file, or a table stem without extension
// ("paradoxdriver/db/ORDERS"). An empty `relative` asks for the samples folder itself.
inline bool SampleExists(const QString& relative = {}) {
  const QString path = SamplesDir() + (relative.isEmpty() ? QString() : "/" + relative);
  if (QFileInfo::exists(path)) return true;
  const QFileInfo stem(path);
  return QFileInfo(stem.path()).isDir() &&
         !QDir(stem.path()).entryList({stem.fileName() + ".*"}, QDir::Files).isEmpty();
}

// Why sample `relative` cannot be used, for a QSKIP (or, when required, a QFAIL) naming what is
// not being done.
inline QByteArray NoSampleMessage(const QString& relative, const QString& what) {
  const QString missing =
      QFileInfo(SamplesDir()).isDir()
          ? QStringLiteral("Borland sample %1 not found in %2").arg(relative, SamplesDir())
          : QStringLiteral(
                "Borland sample tables not found (set ZEL_SAMPLES_DIR or put them in "
                "../shared/samples; looked in %1)")
                .arg(SamplesDir());
  const QString outcome = SamplesRequired()
                              ? QStringLiteral(": cannot run %1, and ZEL_REQUIRE_SAMPLES is set")
                              : QStringLiteral(": skipping %1");
  return (missing + outcome.arg(what)).toUtf8();
}

// Every sample table's .DB, relative to SamplesDir(), sorted.
inline QStringList SampleTables() {
  const QString root = SamplesDir();
  QStringList tables;
  QDirIterator it(root, {"*.db", "*.DB", "*.Db", "*.dB"}, QDir::Files,
                  QDirIterator::Subdirectories);
  while (it.hasNext()) tables << QDir(root).relativeFilePath(it.next());
  tables.sort();
  return tables;
}

}  // namespace zel::test

// In a test function: skips it (fails it under ZEL_REQUIRE_SAMPLES=1) unless sample `relative`
// is there. `what` says what is skipped.
#define ZEL_NEED_SAMPLE(relative, what)                                               \
  do {                                                                                \
    if (!zel::test::SampleExists(relative)) {                                         \
      const QByteArray zelNoSample_ = zel::test::NoSampleMessage((relative), (what)); \
      if (zel::test::SamplesRequired()) QFAIL(zelNoSample_.constData());              \
      QSKIP(zelNoSample_.constData());                                                \
    }                                                                                 \
  } while (false)

// In a test function that runs on a project-made table and also on a Borland-made one when
// present: `var` becomes true when sample `relative` is there; a missing sample fails the test
// under ZEL_REQUIRE_SAMPLES=1 and is otherwise left out.
#define ZEL_OPTIONAL_SAMPLE(var, relative)                                                        \
  const bool var = zel::test::SampleExists(relative);                                             \
  if (!var && zel::test::SamplesRequired())                                                       \
  QFAIL(zel::test::NoSampleMessage((relative), "the same test on Borland's " + QString(relative)) \
            .constData())
