// zel-demostation.exe under Wine builds the station the Linux zel-demostation builds: the same
// files in the same folders, and the Linux zelcheck gives every table the same verdict.
#include <QDirIterator>
#include <QMap>
#include <QTemporaryDir>
#include <QtTest>

#include "tests/windows/WineSupport.h"

using zel::test::RunProgram;

namespace {

// Every file under `root` by its path there, upper case (either system may spell a name
// either way).
QStringList FilesUnder(const QString& root) {
  QStringList files;
  for (QDirIterator it(root, QDir::Files, QDirIterator::Subdirectories); it.hasNext();)
    files << QDir(root).relativeFilePath(it.next()).toUpper();
  files.sort();
  return files;
}

// The Linux zelcheck's exit status and lines for every table under a station's C:\ZELPOS, with
// that folder's path left out so that two stations compare.
QStringList Verdicts(const QString& zelpos) {
  QStringList verdicts;
  for (QDirIterator it(zelpos, {"*.DB", "*.db"}, QDir::Files, QDirIterator::Subdirectories);
       it.hasNext();) {
    const QString table = it.next();
    const auto run = RunProgram(ZEL_ZELCHECK, {table}, QProcessEnvironment::systemEnvironment());
    QString text = run.out + run.err;
    text.remove('\r');
    verdicts << QDir(zelpos).relativeFilePath(table).toUpper() + ": " +
                    QString::number(run.exitCode) + " " + text.replace(zelpos, "<ZELPOS>");
  }
  verdicts.sort();
  return verdicts;
}

}  // namespace

class WindowsDemoStationTest : public QObject {
  Q_OBJECT

 private slots:
  void init() { zel::test::UseWindowsBuild("x64"); }

  void buildsTheLinuxStation_data() {
    QTest::addColumn<QString>("build");
    QTest::addColumn<QStringList>("options");
    for (const QString& build : zel::test::WindowsBuilds()) {
      QTest::addRow("%s sound", qPrintable(build)) << build << QStringList{"--scale", "40"};
      QTest::addRow("%s damaged", qPrintable(build))
          << build << QStringList{"--scale",  "40",        "--damage",       "px-missing",
                                  "--damage", "db-header", "--backup-count", "2"};
    }
  }
  void buildsTheLinuxStation() {
    ZEL_USE_WINDOWS_BUILD();
    QFETCH(QStringList, options);
    zel::test::WinePrefixCopy wine;
    QVERIFY(!wine.Path().isEmpty());
    const auto onWine =
        RunProgram(zel::test::WindowsProgram("zel-demostation.exe"), options, wine.Environment());
    QVERIFY2(onWine.finished && onWine.exitCode == 0, qPrintable(onWine.out + onWine.err));
    QVERIFY2(onWine.out.contains("Building a demo station on drive C:"), qPrintable(onWine.out));

    QTemporaryDir linux;
    const auto onLinux =
        RunProgram(ZEL_LINUX_DEMOSTATION, QStringList{"--prefix", linux.path()} + options,
                   QProcessEnvironment::systemEnvironment());
    QVERIFY2(onLinux.exitCode == 0, qPrintable(onLinux.out + onLinux.err));

    const QString wineC = wine.Path() + "/drive_c";
    const QString linuxC = linux.path() + "/drive_c";
    QMap<QString, QString> wineFolders, linuxFolders;  // by upper-case name
    for (const QString& name : QDir(wineC).entryList(QDir::Dirs | QDir::NoDotAndDotDot))
      wineFolders.insert(name.toUpper(), wineC + "/" + name);
    for (const QString& name : QDir(linuxC).entryList(QDir::Dirs | QDir::NoDotAndDotDot))
      linuxFolders.insert(name.toUpper(), linuxC + "/" + name);
    for (const char* folder : {"ZELPOS", "SHIFTBACKUP"}) {
      QVERIFY2(wineFolders.contains(folder) && linuxFolders.contains(folder), folder);
      const QStringList made = FilesUnder(linuxFolders[folder]);
      QVERIFY(made.size() >= 20);
      QCOMPARE(FilesUnder(wineFolders[folder]), made);
    }
    const QStringList linuxVerdicts = Verdicts(linuxFolders["ZELPOS"]);
    QVERIFY(linuxVerdicts.size() >= 61);
    QCOMPARE(Verdicts(wineFolders["ZELPOS"]), linuxVerdicts);
  }

  // A station already on drive C: is never built over.
  void refusesAnExistingStation_data() {
    QTest::addColumn<QString>("build");
    for (const QString& build : zel::test::WindowsBuilds())
      QTest::newRow(qPrintable(build)) << build;
  }
  void refusesAnExistingStation() {
    ZEL_USE_WINDOWS_BUILD();
    zel::test::WinePrefixCopy wine;
    QVERIFY(!wine.Path().isEmpty());
    const QString program = zel::test::WindowsProgram("zel-demostation.exe");
    QCOMPARE(RunProgram(program, {"--scale", "10"}, wine.Environment()).exitCode, 0);
    const auto again = RunProgram(program, {"--scale", "10"}, wine.Environment());
    QCOMPARE(again.exitCode, 1);
    QVERIFY2(again.err.contains("already exists"), qPrintable(again.err));
  }

  // Windows has no prefix to build in: --prefix is refused as bad use.
  void prefixIsRefused_data() {
    QTest::addColumn<QString>("build");
    for (const QString& build : zel::test::WindowsBuilds())
      QTest::newRow(qPrintable(build)) << build;
  }
  void prefixIsRefused() {
    ZEL_USE_WINDOWS_BUILD();
    zel::test::WinePrefixCopy wine;
    QVERIFY(!wine.Path().isEmpty());
    const auto run = RunProgram(zel::test::WindowsProgram("zel-demostation.exe"),
                                {"--prefix", "C:\\Elsewhere"}, wine.Environment());
    QCOMPARE(run.exitCode, 2);
    QVERIFY2(run.err.contains("--prefix is for Linux"), qPrintable(run.err));
    QVERIFY(!QDir(wine.Path() + "/drive_c/ZELPOS").exists());
  }
};

QTEST_GUILESS_MAIN(WindowsDemoStationTest)
#include "tst_windows_demostation.moc"
