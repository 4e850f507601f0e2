// The Windows installers. Under Wine's 64-bit msiexec, in one prefix: an older x64 installer,
// then the current one over it (one version left, the older refused after it), the installed
// console checking a demo station, both Start-menu shortcuts and the Add/Remove Programs entry,
// and an uninstall that leaves no program file. Both installers' tables as msiinfo reads them
// (the 32-bit one cannot be run here).
#include <QDirIterator>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include "tests/support/DemoStations.h"
#include "tests/windows/WineSupport.h"

using zel::test::OutputLines;
using zel::test::RunProgram;

namespace {

const QStringList kInstalledFiles{"ZelUtil.exe",  "zelutil-console.exe", "zelutil-check.cmd",
                                  "zelcheck.exe", "zel-demostation.exe", "Files.dll",
                                  "Index.dll"};

QString OnDriveZ(const QString& path) {
  return "Z:" + QString(path).replace('/', '\\');
}

QString Installer(const QString& arch) {
  return QStringLiteral(ZEL_WINDOWS_DIR) + "/ZelUtil-" + ZEL_VERSION + "-" + arch + ".msi";
}

// A table of the installer as msiinfo exports it: its rows, without the three header lines.
QStringList MsiTable(const QString& msi, const QString& table) {
  const auto run =
      RunProgram("msiinfo", {"export", msi, table}, QProcessEnvironment::systemEnvironment());
  return OutputLines(run.out).mid(3);
}

// The installed ZelUtil products: DisplayVersion by uninstall key, from the registry.
QMap<QString, QString> InstalledVersions(const QProcessEnvironment& env) {
  const auto run = RunProgram(
      "wine", {"reg", "query", R"(HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall)", "/s"},
      env);
  QMap<QString, QString> versions;
  QString key, name, version;
  const auto flush = [&] {
    if (name == "ZelUtil") versions.insert(key, version);
    name.clear();
    version.clear();
  };
  for (const QString& line : OutputLines(run.out)) {
    if (line.startsWith("HKEY_")) {
      flush();
      key = line;
    }
    const QStringList parts = line.trimmed().split(QRegularExpression("\\s+"));
    if (parts.size() >= 3 && parts[0] == "DisplayName") name = parts.mid(2).join(' ');
    if (parts.size() >= 3 && parts[0] == "DisplayVersion") version = parts[2];
  }
  flush();
  return versions;
}

// The Start-menu shortcuts the install made, by name: Wine puts a per-machine install's
// shortcuts in the user's menu, Windows in the one of all users; either counts.
QMap<QString, QByteArray> StartMenuShortcuts(const QString& prefix) {
  QMap<QString, QByteArray> shortcuts;
  for (QDirIterator it(prefix + "/drive_c", {"*.lnk"}, QDir::Files, QDirIterator::Subdirectories);
       it.hasNext();) {
    const QString path = it.next();
    if (!path.contains("/Start Menu/Programs/")) continue;
    QFile file(path);
    if (file.open(QIODevice::ReadOnly))
      shortcuts.insert(QFileInfo(path).completeBaseName(), file.readAll());
  }
  return shortcuts;
}

}  // namespace

class WindowsInstallerTest : public QObject {
  Q_OBJECT

 private slots:
  // What each installer holds: a per-machine install of the programs and DLLs into Program
  // Files\ZelUtil (64-bit or 32-bit), the two shortcuts, and the upgrade of older versions.
  void installerTables_data() {
    QTest::addColumn<QString>("arch");
    QTest::addColumn<QString>("programFiles");
    QTest::addColumn<QString>("platform");
    QTest::newRow("x64") << "x64"
                         << "ProgramFiles64Folder"
                         << "x64;1033";
    QTest::newRow("x86") << "x86"
                         << "ProgramFilesFolder"
                         << "Intel;1033";
  }
  void installerTables() {
    QFETCH(QString, arch);
    QFETCH(QString, programFiles);
    QFETCH(QString, platform);
    const QString msi = Installer(arch);
    QVERIFY2(QFileInfo::exists(msi),
             qPrintable(msi + " is missing: scripts/build-windows.sh makes it"));
    const QStringList properties = MsiTable(msi, "Property");
    QVERIFY2(properties.contains("ALLUSERS\t1"), qPrintable(properties.join('\n')));
    QVERIFY(properties.contains("ProductName\tZelUtil"));
    QVERIFY(properties.contains("ProductVersion\t" ZEL_VERSION));
    QVERIFY(MsiTable(msi, "Directory").contains("INSTALLDIR\t" + programFiles + "\tZelUtil"));
    QStringList files;
    for (const QString& row : MsiTable(msi, "File")) files << row.section('\t', 2, 2);
    QCOMPARE(QSet<QString>(files.begin(), files.end()),
             QSet<QString>(kInstalledFiles.begin(), kInstalledFiles.end()));
    QStringList shortcuts;
    for (const QString& row : MsiTable(msi, "Shortcut"))
      shortcuts << row.section('\t', 1, 3);  // folder, name, component
    QCOMPARE(shortcuts, (QStringList{"ProgramMenuFolder\tZelUtil\tZelUtilExe",
                                     "ProgramMenuFolder\tZelUtil check (no repair)\tCheckCmd"}));
    // Older versions of the same upgrade code are removed; a newer one refuses this.
    const QStringList upgrade = MsiTable(msi, "Upgrade");
    QCOMPARE(upgrade.size(), 2);
    QVERIFY2(upgrade.filter("WIX_UPGRADE_DETECTED").size() == 1, qPrintable(upgrade.join('\n')));
    QVERIFY(MsiTable(msi, "InstallExecuteSequence")
                .filter(QRegularExpression("^RemoveExistingProducts\t"))
                .size() == 1);
    const auto summary =
        RunProgram("msiinfo", {"suminfo", msi}, QProcessEnvironment::systemEnvironment());
    QVERIFY2(summary.out.contains("Template: " + platform), qPrintable(summary.out));
  }

  // Install, upgrade, check and uninstall, as a technician does on a till.
  void installUpgradeCheckUninstall() {
    QVERIFY2(QFileInfo::exists(Installer("x64")),
             qPrintable(Installer("x64") + " is missing: scripts/build-windows.sh makes it"));
    zel::test::WinePrefixCopy wine;
    QVERIFY(!wine.Path().isEmpty());
    QProcessEnvironment env = wine.Environment();
    // No menu entries of the test machine's user: Wine's copy of the shortcuts is turned off.
    env.insert("WINEDLLOVERRIDES", "mscoree,mshtml=;winemenubuilder.exe=d");
    const QString installed = wine.Path() + "/drive_c/Program Files/ZelUtil";
    QTemporaryDir work;
    const QString older = work.filePath("ZelUtil-0.9-x64.msi");
    const auto made = RunProgram(ZEL_MAKE_MSI, {ZEL_WINDOWS_BIN, "x64", "0.9", older},
                                 QProcessEnvironment::systemEnvironment());
    QVERIFY2(made.exitCode == 0, qPrintable(made.err));
    const auto msiexec = [&](const QStringList& args) {
      return RunProgram("wine", QStringList{"msiexec"} + args + QStringList{"/qn"}, env);
    };

    // The older version, quietly.
    QCOMPARE(msiexec({"/i", OnDriveZ(older)}).exitCode, 0);
    QCOMPARE(InstalledVersions(env).values(), QStringList{"0.9"});
    for (const QString& file : kInstalledFiles)
      QVERIFY2(QFileInfo::exists(installed + "/" + file), qPrintable(file));

    // The current one replaces it: one version is left.
    QCOMPARE(msiexec({"/i", OnDriveZ(Installer("x64"))}).exitCode, 0);
    QCOMPARE(InstalledVersions(env).values(), QStringList{ZEL_VERSION});
    for (const QString& file : kInstalledFiles)
      QVERIFY2(QFileInfo::exists(installed + "/" + file), qPrintable(file));
    const QMap<QString, QByteArray> shortcuts = StartMenuShortcuts(wine.Path());
    QCOMPARE(shortcuts.keys(), (QStringList{"ZelUtil", "ZelUtil check (no repair)"}));
    QVERIFY(shortcuts["ZelUtil"].contains(R"(C:\Program Files\ZelUtil\ZelUtil.exe)"));
    QVERIFY(shortcuts["ZelUtil check (no repair)"].contains(
        R"(C:\Program Files\ZelUtil\zelutil-check.cmd)"));
    // An older version is refused over a newer one.
    QVERIFY(msiexec({"/i", OnDriveZ(older)}).exitCode != 0);
    QCOMPARE(InstalledVersions(env).values(), QStringList{ZEL_VERSION});

    // The installed console checks a demo station with a lost index; the check shortcut's
    // script says so and waits for a key (standard input is closed here).
    QVERIFY(zel::test::BuildDemoStation(wine.Path(), {"px-missing"}).isEmpty());
    const auto check = RunProgram(
        "wine", {R"(C:\Program Files\ZelUtil\zelutil-console.exe)", "--check-only"}, env);
    QCOMPARE(check.exitCode, 1);
    const QStringList lines = OutputLines(check.out);
    QVERIFY2(lines.contains("lst2: Testing TempData Files.......Done"), qPrintable(check.out));
    const auto shortcut =
        RunProgram("wine", {"cmd", "/c", R"(C:\Program Files\ZelUtil\zelutil-check.cmd)"}, env);
    QCOMPARE(OutputLines(shortcut.out).mid(0, lines.size()), lines);
    QVERIFY2(shortcut.out.contains("A table is not usable: start ZelUtil to repair it.") &&
                 shortcut.out.contains("Press any key"),
             qPrintable(shortcut.out.right(500)));

    // Uninstall: no program file, shortcut or entry is left.
    QCOMPARE(msiexec({"/x", OnDriveZ(Installer("x64"))}).exitCode, 0);
    QVERIFY(InstalledVersions(env).isEmpty());
    QStringList left;
    for (QDirIterator it(installed, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
         it.hasNext();)
      left << it.next();
    QVERIFY2(left.isEmpty(), qPrintable(left.join('\n')));
    QVERIFY(StartMenuShortcuts(wine.Path()).isEmpty());
  }
};

QTEST_GUILESS_MAIN(WindowsInstallerTest)
#include "tst_windows_installer.moc"
