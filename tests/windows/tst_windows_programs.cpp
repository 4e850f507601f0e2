// The Windows programs under Wine against their Linux counterparts and Windows itself: zelcheck's
// verdicts on every table, the DLLs' exports and the programs' imports, Step 1 closing a real
// Win32 window titled "ZelPos", and INI files read by GetPrivateProfileStringA.
#include <QCryptographicHash>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include "platform/IniReader.h"
#include "tests/support/DemoStations.h"
#include "tests/support/Samples.h"
#include "tests/support/TreeSnapshot.h"
#include "tests/windows/WineSupport.h"

using zel::test::OutputLines;
using zel::test::RunProgram;

namespace {

// A Linux path as a Windows program under Wine sees it (drive Z: is /).
QString OnDriveZ(const QString& path) {
  return "Z:" + QString(path).replace('/', '\\');
}

QStringList Objdump(const QString& file) {
  const auto run = RunProgram(ZEL_OBJDUMP, {"-p", file}, QProcessEnvironment::systemEnvironment());
  return OutputLines(run.out);
}

// The names a PE file exports, from objdump's name pointer table.
QSet<QString> PeExports(const QString& file) {
  QSet<QString> names;
  bool inTable = false;
  for (const QString& line : Objdump(file)) {
    if (line.contains("[Ordinal/Name Pointer] Table")) {
      inTable = true;
      continue;
    }
    if (!inTable) continue;
    const QRegularExpressionMatch m = QRegularExpression(R"(^\s*\[\s*\d+\]\s+(\S+)$)").match(line);
    if (!m.hasMatch()) break;
    names << m.captured(1);
  }
  return names;
}

// The functions a PE file imports, by DLL (lower case).
QMap<QString, QStringList> PeImports(const QString& file) {
  QMap<QString, QStringList> imports;
  QString dll;
  const QRegularExpression dllName(R"(^\s*DLL Name:\s+(\S+)$)");
  const QRegularExpression function(R"(^\s+[0-9a-f]+\s+\d+\s+(\S+)$)");
  for (const QString& line : Objdump(file)) {
    if (const auto m = dllName.match(line); m.hasMatch()) {
      dll = m.captured(1).toLower();
      imports[dll];
    } else if (line.trimmed().isEmpty()) {
      dll.clear();
    } else if (const auto f = function.match(line); f.hasMatch() && !dll.isEmpty()) {
      imports[dll] << f.captured(1);
    }
  }
  return imports;
}

// The functions Windows 7's system DLLs export, by DLL, from the list kept beside the tests
// (made by tests/windows/make-windows7-exports.sh, which says from what).
QMap<QString, QSet<QString>> Windows7Exports() {
  QMap<QString, QSet<QString>> exports;
  QFile list(QStringLiteral(ZEL_SOURCE_DIR) + "/tests/windows/windows7-exports.txt");
  if (!list.open(QIODevice::ReadOnly)) return exports;
  for (const QByteArray& line : list.readAll().split('\n')) {
    if (line.isEmpty() || line.startsWith('#')) continue;
    const QList<QByteArray> parts = line.split(' ');
    if (parts.size() == 2) exports[QString::fromLatin1(parts[0])] << QString::fromLatin1(parts[1]);
  }
  return exports;
}

// The entry points the Linux library exports.
QSet<QString> ElfExports(const QString& file) {
  const auto run =
      RunProgram("nm", {"-D", "--defined-only", file}, QProcessEnvironment::systemEnvironment());
  QSet<QString> names;
  for (const QString& line : OutputLines(run.out)) {
    const QStringList parts = line.split(' ', Qt::SkipEmptyParts);
    if (parts.size() == 3 && parts[1] == "T") names << parts[2];
  }
  return names;
}

// Every file under `root` by its path there (upper case, as both systems may spell a name
// either way) and its bytes' hash. The time a table's definition was written (the header's u32
// at 0x60 of a .DB and of a secondary index's .Xnn/.XGn) is left out: two runs seconds apart
// differ there by right.
QMap<QString, QByteArray> Contents(const QString& root) {
  QMap<QString, QByteArray> files;
  const auto hashes = zel::test::ContentHashes(root, [](const QString& name, QByteArray& bytes) {
    const QString extension = QFileInfo(name).suffix().toUpper();
    if ((extension == "DB" || extension.startsWith('X')) && bytes.size() > 0x64)
      bytes.replace(0x60, 4, QByteArray(4, '\0'));
  });
  for (auto it = hashes.begin(); it != hashes.end(); ++it)
    files.insert(it.key().toUpper(), it.value());
  return files;
}

// A table's verdict with the table's folder as given replaced, so that both systems' lines
// compare (a message may name the table or a file beside it).
QString Verdict(const zel::test::ProgramRun& run, const QString& given) {
  QString text = run.out + run.err;
  text.remove('\r');
  const qsizetype slash = std::max(given.lastIndexOf('/'), given.lastIndexOf('\\'));
  return QString::number(run.exitCode) + "\n" + text.replace(given.left(slash + 1), "<FOLDER>/");
}

}  // namespace

class WindowsProgramsTest : public QObject {
  Q_OBJECT

  static QStringList TablesUnder(const QString& folder) {
    QStringList tables;
    for (QDirIterator it(folder, {"*.DB", "*.db"}, QDir::Files, QDirIterator::Subdirectories);
         it.hasNext();)
      tables << it.next();
    tables.sort();
    return tables;
  }

  // One row per Windows build: "build".
  static void BuildRows() {
    QTest::addColumn<QString>("build");
    for (const QString& build : zel::test::WindowsBuilds())
      QTest::newRow(qPrintable(build)) << build;
  }

  // Runs both zelchecks on every table and compares; how many tables were unusable.
  static int CompareVerdicts(const QStringList& tables) {
    zel::test::WinePrefixCopy wine;
    if (wine.Path().isEmpty()) {
      QTest::qFail("cannot copy the template Wine prefix", __FILE__, __LINE__);
      return 0;
    }
    int unusable = 0;
    for (const QString& table : tables) {
      const auto onLinux =
          RunProgram(ZEL_ZELCHECK, {table}, QProcessEnvironment::systemEnvironment());
      const QString windowsPath = OnDriveZ(table);
      const auto onWine =
          RunProgram(zel::test::WindowsProgram("zelcheck.exe"), {windowsPath}, wine.Environment());
      const QString linuxVerdict = Verdict(onLinux, table);
      const QString wineVerdict = Verdict(onWine, windowsPath);
      if (linuxVerdict != wineVerdict) {
        QTest::qFail(qPrintable(table + "\n  Linux: " + linuxVerdict + "\n  Wine:  " + wineVerdict),
                     __FILE__, __LINE__);
        return unusable;
      }
      if (onLinux.exitCode != 0) ++unusable;
    }
    return unusable;
  }

 private slots:
  void init() { zel::test::UseWindowsBuild("x64"); }

  // zelcheck.exe gives every table the verdict the Linux zelcheck gives: the tables of a demo
  // station with several kinds of damage, and every Borland sample table.
  void zelcheckVerdictsOnStationTables_data() { BuildRows(); }
  void zelcheckVerdictsOnStationTables() {
    ZEL_USE_WINDOWS_BUILD();
    QTemporaryDir station;
    const QString error = zel::test::BuildDemoStation(
        station.path(),
        {"px-missing", "px-damaged", "px-stale", "index-missing", "db-header", "db-truncated"});
    QVERIFY2(error.isEmpty(), qPrintable(error));
    const QStringList tables = TablesUnder(station.path() + "/drive_c/ZELPOS");
    QVERIFY2(tables.size() >= 60, qPrintable(QString::number(tables.size())));
    // STOCK, DEBTMAST, TANKCONF and PUMPSALE are unusable; the others open.
    QVERIFY2(CompareVerdicts(tables) >= 4, "the damaged tables must be among them");
  }
  void zelcheckVerdictsOnSamples_data() { BuildRows(); }
  void zelcheckVerdictsOnSamples() {
    ZEL_USE_WINDOWS_BUILD();
    ZEL_NEED_SAMPLE(QString(), "zelcheck.exe against zelcheck on the Borland sample tables");
    const QStringList tables = TablesUnder(zel::test::SamplesDir());
    QVERIFY(tables.size() >= 50);
    CompareVerdicts(tables);
  }

  // Files.dll and Index.dll of each build export exactly the entry points of the Linux
  // libraries, by their plain names (no @N of the 32-bit __stdcall); every program and DLL is
  // of the build's machine, needs nothing but Windows's own DLLs and these two, and imports from
  // Windows's DLLs only functions that Windows 7 exports. Read from the files, so the 32-bit
  // build is checked on any machine.
  void exportsAndImports_data() { BuildRows(); }
  void exportsAndImports() {
    QFETCH(QString, build);
    const QString bin =
        build == "x64" ? QStringLiteral(ZEL_WINDOWS_BIN) : zel::test::Windows32Bin();
    if (bin.isEmpty()) QSKIP("no 32-bit Windows build given (ZEL_WINDOWS32_DIR)");
    const QSet<QString> files = PeExports(bin + "/Files.dll");
    const QSet<QString> index = PeExports(bin + "/Index.dll");
    QCOMPARE(files.size(), 59);
    QCOMPARE(index.size(), 13);
    QCOMPARE(files, ElfExports(ZEL_LINUX_FILES));
    QCOMPARE(index, ElfExports(ZEL_LINUX_INDEX));
    const QMap<QString, QSet<QString>> windows7 = Windows7Exports();
    QStringList wrong;
    for (const char* program : {"ZelUtil.exe", "zelutil-console.exe", "zelcheck.exe",
                                "zel-demostation.exe", "Files.dll", "Index.dll"}) {
      const QString file = bin + "/" + program;
      const QString format = build == "x64" ? "pei-x86-64" : "pei-i386";
      QVERIFY2(Objdump(file).join('\n').contains("file format " + format),
               qPrintable(file + " is not " + format));
      const QMap<QString, QStringList> imports = PeImports(file);
      QVERIFY2(!imports.isEmpty(), program);
      for (auto it = imports.begin(); it != imports.end(); ++it) {
        if (it.key() == "files.dll" || it.key() == "index.dll") continue;
        if (!windows7.contains(it.key())) {
          wrong << QString(program) + " imports " + it.key();
          continue;
        }
        for (const QString& function : it.value())
          if (!windows7[it.key()].contains(function))
            wrong << QString(program) + " imports " + it.key() + " " + function +
                         ", which Windows 7 does not export";
      }
    }
    QVERIFY2(wrong.isEmpty(), qPrintable(wrong.join('\n')));
    for (const char* program : {"ZelUtil.exe", "zelutil-console.exe"}) {
      const QMap<QString, QStringList> imports = PeImports(bin + "/" + program);
      const QStringList fromFiles = imports.value("files.dll");
      const QStringList fromIndex = imports.value("index.dll");
      QCOMPARE(QSet<QString>(fromFiles.begin(), fromFiles.end()), files);
      QCOMPARE(QSet<QString>(fromIndex.begin(), fromIndex.end()), index);
    }
  }

  // The Windows 7 list the check above reads is Windows 7's: it holds the system DLLs the
  // programs may use, functions Windows 7 has, and none that came with Windows 8 or 10.
  void windows7ListIsWindows7s_data() {
    QTest::addColumn<QString>("dll");
    QTest::addColumn<QString>("function");
    QTest::addColumn<bool>("listed");
    QTest::newRow("CreateFileA") << "kernel32.dll"
                                 << "CreateFileA" << true;
    QTest::newRow("GetTickCount64 (Vista)") << "kernel32.dll"
                                            << "GetTickCount64" << true;
    QTest::newRow("FindWindowA") << "user32.dll"
                                 << "FindWindowA" << true;
    QTest::newRow("ExitWindowsEx") << "user32.dll"
                                   << "ExitWindowsEx" << true;
    QTest::newRow("AdjustTokenPrivileges") << "advapi32.dll"
                                           << "AdjustTokenPrivileges" << true;
    QTest::newRow("fopen") << "msvcrt.dll"
                           << "fopen" << true;
    QTest::newRow("CreateFile2 (8)") << "kernel32.dll"
                                     << "CreateFile2" << false;
    QTest::newRow("GetSystemTimePreciseAsFileTime (8)")
        << "kernel32.dll"
        << "GetSystemTimePreciseAsFileTime" << false;
    QTest::newRow("SetThreadDescription (10)") << "kernel32.dll"
                                               << "SetThreadDescription" << false;
    QTest::newRow("GetDpiForWindow (10)") << "user32.dll"
                                          << "GetDpiForWindow" << false;
  }
  void windows7ListIsWindows7s() {
    QFETCH(QString, dll);
    QFETCH(QString, function);
    QFETCH(bool, listed);
    const QMap<QString, QSet<QString>> windows7 = Windows7Exports();
    QCOMPARE(QSet<QString>(windows7.keyBegin(), windows7.keyEnd()),
             (QSet<QString>{"kernel32.dll", "user32.dll", "gdi32.dll", "advapi32.dll",
                            "comctl32.dll", "shell32.dll", "bcrypt.dll", "msvcrt.dll"}));
    QCOMPARE(windows7.value(dll).contains(function), listed);
  }

  // Every entry point of Files.dll and Index.dll, called under Wine as ZelUtil calls them, makes
  // byte for byte the files the Linux libraries make: all tables new in empty data folders, then
  // every index rebuilt.
  void everyEntryPointAsOnLinux() {
    zel::test::WinePrefixCopy wine;
    QVERIFY(!wine.Path().isEmpty());
    QTemporaryDir linux;
    QTemporaryDir programs;  // the probe beside the two DLLs, as ZelUtil.exe is shipped
    QVERIFY(QFile::copy(QStringLiteral(ZEL_WINDOWS_PROBES) + "/creator-probe.exe",
                        programs.filePath("creator-probe.exe")));
    for (const char* dll : {"Files.dll", "Index.dll"})
      QVERIFY(QFile::copy(zel::test::WindowsProgram(dll), programs.filePath(dll)));
    for (const QString& prefix : {wine.Path(), linux.path()})
      for (const char* folder : {"DISPDATA", "PERMDATA", "CONFIGDATA", "TEMPDATA", "HISTORY"})
        QVERIFY(QDir().mkpath(prefix + "/drive_c/ZELPOS/" + folder));
    QProcessEnvironment linuxEnv = QProcessEnvironment::systemEnvironment();
    linuxEnv.insert("WINEPREFIX", linux.path());
    for (const char* library : {"files", "index"}) {
      const auto onLinux = RunProgram(ZEL_LINUX_CREATOR_PROBE, {library}, linuxEnv);
      const auto onWine =
          RunProgram(programs.filePath("creator-probe.exe"), {library}, wine.Environment());
      QCOMPARE(onLinux.exitCode, 0);
      QCOMPARE(onWine.exitCode, 0);
      QCOMPARE(OutputLines(onWine.out), OutputLines(onLinux.out));
      QCOMPARE(OutputLines(onLinux.out).size(), QString(library) == "files" ? 59 : 13);
      const auto made = Contents(linux.path() + "/drive_c/ZELPOS");
      QVERIFY(made.size() >= 61);
      QCOMPARE(Contents(wine.Path() + "/drive_c/ZELPOS"), made);
    }
  }

  // The creators are bound when the program starts: without Files.dll it does not start at all.
  void consoleDoesNotStartWithoutFilesDll_data() { BuildRows(); }
  void consoleDoesNotStartWithoutFilesDll() {
    ZEL_USE_WINDOWS_BUILD();
    zel::test::WinePrefixCopy wine;
    QVERIFY(!wine.Path().isEmpty());
    QTemporaryDir folder;
    for (const char* file : {"zelutil-console.exe", "Index.dll"})
      QVERIFY(QFile::copy(zel::test::WindowsProgram(file), folder.filePath(file)));
    const auto run =
        RunProgram(folder.filePath("zelutil-console.exe"), {"--version"}, wine.Environment());
    QVERIFY(run.finished);
    QVERIFY2(run.exitCode != 0 && !run.out.contains("zelutil-console"), qPrintable(run.out));
    QVERIFY(QFile::copy(zel::test::WindowsProgram("Files.dll"), folder.filePath("Files.dll")));
    const auto withIt =
        RunProgram(folder.filePath("zelutil-console.exe"), {"--version"}, wine.Environment());
    QCOMPARE(withIt.exitCode, 0);
    QVERIFY(withIt.out.startsWith("zelutil-console "));
  }

  // Step 1 finds a real Win32 window titled "ZelPos" with FindWindowA and sends it WM_CLOSE.
  void stepOneClosesTheRealPosWindow_data() { BuildRows(); }
  void stepOneClosesTheRealPosWindow() {
    ZEL_USE_WINDOWS_BUILD();
    if (qEnvironmentVariableIsEmpty("DISPLAY")) QSKIP("needs an X display for Wine's windows");
    zel::test::WinePrefixCopy wine;
    QVERIFY(!wine.Path().isEmpty());
    QVERIFY(zel::test::BuildDemoStation(wine.Path()).isEmpty());
    QTemporaryDir marks;
    QProcess pos;
    pos.setProcessEnvironment(wine.Environment());
    pos.start("wine",
              {QStringLiteral(ZEL_WINDOWS_PROBES) + "/zelpos-window.exe", OnDriveZ(marks.path())});
    QElapsedTimer waited;
    waited.start();
    while (!QFile::exists(marks.filePath("ready")) && waited.elapsed() < 60000)
      QThread::msleep(100);
    QVERIFY2(QFile::exists(marks.filePath("ready")), "the stand-in POS window did not come up");

    const auto run = RunProgram(zel::test::WindowsProgram("zelutil-console.exe"),
                                {"--yes", "--simulate-power-off"}, wine.Environment());
    QVERIFY(pos.waitForFinished(30000));
    QVERIFY2(QFile::exists(marks.filePath("closed")), qPrintable(run.out.left(1500)));
    const QStringList lines = OutputLines(run.out);
    const qsizetype closing = lines.indexOf("lst1: Closing ZelPos Program.......");
    QVERIFY2(closing >= 0, qPrintable(run.out.left(1500)));
    // Queued, never awaited: the second look may still see the window ("Failed"); the run goes
    // on either way.
    const QString outcome = lines.value(closing + 1);
    QVERIFY2(outcome == "lst1: Closing ZelPos Program.......Done" ||
                 outcome == "lst1: Closing ZelPos Program.......Failed",
             qPrintable(outcome));
    QVERIFY2(lines.contains("lst2: Reset database control files.......Done"), qPrintable(run.out));
  }

  // ZelUtil.exe on a healthy station: its window, titled as on Linux with an 802x525 client
  // area, runs by itself up to the closing question (which nobody answers here).
  void zelUtilExeReachesTheClosingQuestion_data() { BuildRows(); }
  void zelUtilExeReachesTheClosingQuestion() {
    ZEL_USE_WINDOWS_BUILD();
    if (qEnvironmentVariableIsEmpty("DISPLAY")) QSKIP("needs an X display for Wine's windows");
    zel::test::WinePrefixCopy wine;
    QVERIFY(!wine.Path().isEmpty());
    QVERIFY(zel::test::BuildDemoStation(wine.Path()).isEmpty());
    QProcessEnvironment env = wine.Environment();
    env.insert("ZELUTIL_SIMULATE_POWER_OFF", "1");
    QProcess program;
    program.setProcessEnvironment(env);
    program.start("wine", {zel::test::WindowsProgram("ZelUtil.exe")});
    // Without a window manager Wine's X window of a top-level window is its client area.
    const QRegularExpression mainWindow(
        R"("ZelUtil 2009-05-25": \("zelutil.exe" [^)]*\)\s+(\d+)x(\d+))");
    QElapsedTimer waited;
    waited.start();
    QString windows;
    while (waited.elapsed() < 120000) {
      windows =
          RunProgram("xwininfo", {"-root", "-tree"}, QProcessEnvironment::systemEnvironment()).out;
      if (windows.contains("\"Confirm\": (\"zelutil.exe\"")) break;
      QThread::msleep(500);
    }
    RunProgram("wineserver", {"-k"}, wine.Environment());  // this prefix's programs only
    program.waitForFinished(30000);
    QVERIFY2(windows.contains("\"Confirm\": (\"zelutil.exe\""), qPrintable(windows.right(2000)));
    const QRegularExpressionMatch m = mainWindow.match(windows);
    QVERIFY2(m.hasMatch(), qPrintable(windows.right(2000)));
    QCOMPARE(m.captured(1).toInt(), 802);
    QCOMPARE(m.captured(2).toInt(), 525);
    const QDir reports(wine.Path() + "/drive_c/ZELPOS/ZelUtil.Reports");
    QCOMPARE(reports.entryList({"*.json"}, QDir::Files).size(), 1);
  }

  // The Win32 window as laid out: client area, each control's rectangle, no system menu,
  // minimise or maximise box, a fixed border; the label is sized to its text.
  void windowLayout_data() {
    QTest::addColumn<QString>("line");
    QTest::newRow("client") << "client 802 525";
    QTest::newRow("pb1") << "pb1 8 8 777 29";
    QTest::newRow("lst1") << "lst1 9 39 362 436";
    QTest::newRow("lst2") << "lst2 373 39 412 276";
    QTest::newRow("lst3") << "lst3 373 318 412 157";
    QTest::newRow("btn1") << "btn1 694 477 96 36";
    QTest::newRow("border") << "sysmenu 0 minimize 0 maximize 0 sizable 0";
    QTest::newRow("title") << "title ZelUtil 2009-05-25";
    QTest::newRow("lst3 starts with one empty line") << "lst3 lines 1";
  }
  void windowLayout() {
    if (qEnvironmentVariableIsEmpty("DISPLAY")) QSKIP("needs an X display for Wine's windows");
    QFETCH(QString, line);
    static QStringList layout;
    if (layout.isEmpty()) {
      zel::test::WinePrefixCopy wine;
      QVERIFY(!wine.Path().isEmpty());
      layout = OutputLines(RunProgram(QStringLiteral(ZEL_WINDOWS_PROBES) + "/window-probe.exe", {},
                                      wine.Environment())
                               .out);
    }
    QVERIFY2(layout.contains(line), qPrintable(layout.join('\n')));
    // The label: at 11,480, 24 high, as wide as its text.
    const qsizetype label = layout.indexOf(QRegularExpression(R"(^lbl1 11 480 \d+ 24$)"));
    QVERIFY2(label >= 0 && layout[label].split(' ')[3].toInt() > 100,
             qPrintable(layout.join('\n')));
  }

  // The same INI files read by the Linux reader and by Windows's GetPrivateProfileStringA.
  void iniReadAsWindowsReads_data() {
    QTest::addColumn<QByteArray>("ini");
    QTest::addColumn<QStringList>("query");  // section, key, default
    const QByteArray pos = "[Till]\r\nTillNo=FC  1 - A\r\nMaster=Yes\r\n[Backup]\r\nLast=3\r\n";
    QTest::newRow("value") << pos << QStringList{"Till", "TillNo", "none"};
    QTest::newRow("section and key in other case") << pos << QStringList{"TILL", "tillno", "none"};
    QTest::newRow("missing key") << pos << QStringList{"Till", "Nothing", "dflt"};
    QTest::newRow("missing section") << pos << QStringList{"Nope", "TillNo", "dflt"};
    QTest::newRow("LF line ends") << QByteArray("[A]\nk=v\n") << QStringList{"A", "k", "-"};
    QTest::newRow("spaces around")
        << QByteArray("[ A ]\r\n  k  =  v w  \r\n") << QStringList{"A", "k", "-"};
    QTest::newRow("quoted value") << QByteArray("[A]\r\nk=\"v w\"\r\n")
                                  << QStringList{"A", "k", "-"};
    QTest::newRow("one quote") << QByteArray("[A]\r\nk=\"v w\r\n") << QStringList{"A", "k", "-"};
    QTest::newRow("empty value") << QByteArray("[A]\r\nk=\r\n") << QStringList{"A", "k", "-"};
    QTest::newRow("comment line") << QByteArray("[A]\r\n;k=c\r\nk=v\r\n")
                                  << QStringList{"A", "k", "-"};
    QTest::newRow("semicolon in value")
        << QByteArray("[A]\r\nk=v ; w\r\n") << QStringList{"A", "k", "-"};
    QTest::newRow("second section of a name")
        << QByteArray("[A]\r\nx=1\r\n[A]\r\nk=v\r\n") << QStringList{"A", "k", "-"};
    QTest::newRow("repeated key") << QByteArray("[A]\r\nk=1\r\nk=2\r\n")
                                  << QStringList{"A", "k", "-"};
    QTest::newRow("key before any section")
        << QByteArray("k=v\r\n[A]\r\nx=1\r\n") << QStringList{"A", "k", "-"};
    QTest::newRow("no equals sign") << QByteArray("[A]\r\nk\r\n") << QStringList{"A", "k", "-"};
    QTest::newRow("missing file") << QByteArray() << QStringList{"A", "k", "fallback"};
    QTest::newRow("long value") << "[A]\r\nk=" + QByteArray(3000, 'x') + "\r\n"
                                << QStringList{"A", "k", "-"};
  }
  void iniReadAsWindowsReads() {
    QFETCH(QByteArray, ini);
    QFETCH(QStringList, query);
    zel::test::WinePrefixCopy wine;
    QVERIFY(!wine.Path().isEmpty());
    if (!ini.isEmpty()) {
      QFile file(wine.Path() + "/drive_c/probe.ini");
      QVERIFY(file.open(QIODevice::WriteOnly));
      file.write(ini);
    }
    qputenv("WINEPREFIX", wine.Path().toLocal8Bit());
    const std::string onLinux = zel::platform::HostIni().ReadString(
        "C:\\probe.ini", query[0].toStdString(), query[1].toStdString(), query[2].toStdString());
    const auto onWindows = RunProgram(QStringLiteral(ZEL_WINDOWS_PROBES) + "/ini-probe.exe",
                                      QStringList{"C:\\probe.ini"} + query, wine.Environment());
    QCOMPARE(onWindows.exitCode, 0);
    QCOMPARE(OutputLines(onWindows.out).value(0), "[" + QString::fromStdString(onLinux) + "]");
  }
};

QTEST_GUILESS_MAIN(WindowsProgramsTest)
#include "tst_windows_programs.moc"
