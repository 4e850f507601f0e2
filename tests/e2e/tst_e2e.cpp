// Whole runs of zelutil-console on demo stations, each compared with its complete expected output.
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>
#include <functional>
#include <memory>
#include <optional>

#include "catalogue/Catalogue.h"

namespace {

const QString kConsole = ZEL_BINARY_DIR "/tools/console/zelutil-console";
const QString kDemoStation = ZEL_BINARY_DIR "/tools/demostation/zel-demostation";

// The console's event lines as a run should print them, built step by step.
class Expected {
 public:
  QStringList out;

  void Line(int list, const QString& text) { out << QString("lst%1: %2").arg(list).arg(text); }
  void Label(const QString& text) { out << "lbl1: " + text; }
  void Dialog(const QString& kind, const QString& text, const QString& answer) {
    out << "dialog " + kind + ": " + text << "answer: " + answer;
  }
  void Progress(int position, int maximum) {
    if (position == position_ && maximum == maximum_) return;
    position_ = position;
    maximum_ = maximum;
    out << QString("pb1: %1/%2").arg(position).arg(maximum);
  }

  void Step1() {
    Label("Please wait while Deleting *.Net and *.LCK files....");
    out << "lst1: <cleared>";
    Line(2, "Step 1");
    Line(2, "Reset database control files.......");
    Line(1, "Closing ZelPos Program.......");
    Line(1, "Closing ZelPos Program.......Done");
    Line(1, "Deleting PDOXUSRS.NET File.........");
    Line(1, "Deleting PDOXUSRS.NET File.........Done");
    for (auto folder : zel::catalogue::LockResetOrder()) {
      const QString f = QString::fromLatin1(folder.data(), int(folder.size()));
      Line(1, "Deleting c:\\ZELPOS\\" + f + "\\PARADOX.LCK .........");
      Line(1, "Deleting C:\\ZELPOS\\" + f + "\\PARADOX.LCK .........Done");
      Line(1, "Deleting C:\\ZELPOS\\" + f + "\\PDOXUSRS.LCK .........");
      Line(1, "Deleting C:\\ZELPOS\\" + f + " \\PDOXUSRS.LCK .........Done");
    }
    Line(1, "Testing DB Control File.........");
    Line(1, "Testing DB Control File.........Done");
    Line(2, "Reset database control files.......Done");
  }

  // One table test; `failing` names the index slots that fail ("" the primary).
  bool Test(const QString& folder, const QString& table, const QStringList& indexes,
            const QStringList& failing = {}) {
    const QString start = "Testing " + folder + " " + table + " File.........";
    Line(1, start);
    for (const QString& index : indexes)
      if (failing.contains(index))
        Line(2, "Test on " + folder + "\\" + table + "\\Index->" + index + " ....Failed");
    const bool passed = failing.isEmpty();
    Line(1, start + (passed ? "Done" : "Failed"));
    if (!passed) Line(3, table + "," + folder);
    Progress(std::min(position_ + 1, maximum_), maximum_);
    return passed;
  }
  void ReIndex(const QString& folder, const QString& table) {
    Line(2, "Deleting " + folder + "\\" + table + "\\Index ....Files");
    Line(2, "Creating " + folder + "\\" + table + "\\Index ....Files");
  }
  // A failed transient table that its re-index does not mend: replaced, after the warning
  // `warningKey` names, by a new empty table.
  void NewEmptyTable(const QString& folder, const QString& table, int warningKey) {
    const QString path = folder + "\\" + table;
    ReIndex(folder, table);
    Test(folder, table, {""}, {""});
    Line(2, "Deleting Old Table " + path + " ....");
    Line(2, "Creating " + path + "\\ New  ....Files");
    Dialog("Information",
           "Replace file : " + folder + " " + table + "\\n\\r" +
               Q(zel::catalogue::WarningText(warningKey)),
           "OK");
    Test(folder, table, {""});
    Line(2, "New File Succesfully Restored  " + path + " ....Done");
  }

  // Step 2; `damaged` writes the lines of a table that is not healthy and returns its outcome.
  using Damaged = std::function<std::optional<bool>(Expected&, const QString& folder,
                                                    const zel::catalogue::TableEntry&)>;
  struct Counts {
    int tested = 0, unusable = 0, skipped = 0;
  };
  Counts Step2(bool master, const Damaged& damaged) {
    struct Block {
      const char* folder;
      const char* heading;
      const char* label;
      int maximum;
      bool masterOnly, guarded;
    };
    const Block blocks[] = {
        {"DISPDATA", "Dispdata", "Display", 2, false, false},
        {"CONFIGDATA", "Configdata", "Configdata", 7, true, false},
        {"History", "History", "History", 2, false, true},
        {"TEMPDATA", "TempData", "Tempdata", 28, false, true},
        {"PERMDATA", "PermData", "Permdata", 23, true, true},
    };
    Counts counts;
    bool tablesOk = true;
    Line(2, "Step 2");
    for (const Block& block : blocks) {
      if (block.masterOnly && !master) continue;
      const QString heading = QString("Testing %1 Files.......").arg(block.heading);
      Line(2, heading);
      Label(QString("Please wait while checking %1 Folder files....").arg(block.label));
      Progress(1, maximum_);
      Progress(1, block.maximum);
      if (QString(block.folder) == "CONFIGDATA") tablesOk = true;
      for (const auto* entry : zel::catalogue::FolderTables(block.folder)) {
        if (block.guarded && !tablesOk) {
          ++counts.skipped;
          continue;
        }
        ++counts.tested;
        std::optional<bool> outcome = damaged(*this, block.folder, *entry);
        if (!outcome) outcome = Test(block.folder, Q(entry->table), Indexes(*entry));
        tablesOk = *outcome;
        if (!tablesOk) ++counts.unusable;
      }
      Line(2, heading + "Done");
    }
    return counts;
  }
  void End() {
    Label("File check complete....Please ShutDown this PC !!!!");
    Dialog("Confirm", "ShutDown PC", "Yes");
    out << "power-off: 12 simulated";
  }

  static QString Q(std::string_view s) { return QString::fromLatin1(s.data(), int(s.size())); }
  static QStringList Indexes(const zel::catalogue::TableEntry& entry) {
    QStringList indexes{""};
    for (auto named : entry.namedIndexes)
      if (!named.empty()) indexes << Q(named);
    return indexes;
  }

 private:
  int position_ = 0, maximum_ = 100;
};

struct Run {
  QStringList lines;
  int exitCode = -1;
};

}  // namespace

class EndToEndTest : public QObject {
  Q_OBJECT

  std::unique_ptr<QTemporaryDir> prefix_;

  void Build(const QStringList& arguments) {
    QProcess builder;
    builder.start(kDemoStation, QStringList{"--prefix", prefix_->path()} + arguments);
    QVERIFY2(builder.waitForFinished(120000), "the demo station was not built in time");
    QVERIFY2(builder.exitCode() == 0, builder.readAllStandardError().constData());
  }
  Run RunConsole() {
    QProcess console;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("WINEPREFIX", prefix_->path());
    env.insert("QT_QPA_PLATFORM", "offscreen");
    // Nothing outside the prefix: no real display to find a POS window on, no system bus.
    env.remove("DISPLAY");
    env.remove("WAYLAND_DISPLAY");
    env.insert("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=" + prefix_->path() + "/no-system-bus");
    console.setProcessEnvironment(env);
    console.start(kConsole, {"--yes", "--simulate-power-off"});
    console.closeWriteChannel();
    Run run;
    if (!console.waitForFinished(120000)) return run;
    run.exitCode = console.exitCode();
    run.lines = QString::fromUtf8(console.readAllStandardOutput()).split('\n');
    if (!run.lines.isEmpty() && run.lines.last().isEmpty()) run.lines.removeLast();
    return run;
  }
  QString Drive(const QString& path) const { return prefix_->path() + "/drive_c/" + path; }
  // A file's bytes, its name matched without regard to case as the program's paths are.
  QByteArray Bytes(const QString& path) const {
    const QFileInfo info(Drive(path));
    const QStringList names =
        info.dir()
            .entryList(QDir::Files)
            .filter(QRegularExpression("^" + QRegularExpression::escape(info.fileName()) + "$",
                                       QRegularExpression::CaseInsensitiveOption));
    QFile file(info.dir().filePath(names.value(0)));
    return !names.isEmpty() && file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
  }
  QStringList LogMessages() const {
    QStringList messages;
    for (const QString& line : QString::fromLatin1(Bytes("ZELPOS/ZelUtil.Log")).split("\r\n"))
      if (!line.isEmpty()) messages << line.section("  ", 2);
    return messages;
  }

  static void CompareOutput(const Run& run, const QStringList& expected) {
    for (int i = 0; i < std::min(run.lines.size(), expected.size()); ++i)
      if (run.lines[i] != expected[i])
        QFAIL(qPrintable(QString("line %1 differs:\n   actual: %2\n expected: %3")
                             .arg(i + 1)
                             .arg(run.lines[i], expected[i])));
    QCOMPARE(run.lines.size(), expected.size());
  }

 private slots:
  void init() { prefix_ = std::make_unique<QTemporaryDir>(); }

  void healthyMasterTill() {
    Build({});
    const Run run = RunConsole();
    Expected e;
    e.Step1();
    const int before = e.out.size();
    const auto counts = e.Step2(true, [](auto&, auto&, auto&) { return std::nullopt; });
    e.End();
    CompareOutput(run, e.out);
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(counts.tested, 61);
    QCOMPARE(run.lines.mid(before).filter(QRegularExpression("^lst1: ")).size(), 122);
    QCOMPARE(run.lines.filter(QRegularExpression("^lst3: ")).size(), 0);
    QCOMPARE(LogMessages(), QStringList{"ZEL Util Start."});
  }

  // Stale locks, and one table for each way a repair ends well.
  void staleLocksAndOneRepairOfEachKind() {
    Build({"--damage", "stale-locks", "--damage", "px-missing:DISPDATA/DISPLAY", "--damage",
           "db-header:TEMPDATA/PUMPSALE", "--damage", "px-missing:PERMDATA/STOCK", "--damage",
           "db-header:PERMDATA/DRIVERS"});
    const QByteArray backup = Bytes("ShiftBackUp/PERMDATA3/DRIVERS.DB");
    QVERIFY(QFile::exists(Drive("PDOXUSRS.NET")));
    QVERIFY(!QDir(Drive("ZELPOS/TEMPDATA")).entryList({"*.LCK"}).isEmpty());
    const Run run = RunConsole();

    Expected e;
    e.Step1();
    e.Step2(true,
            [](Expected& e, const QString& folder,
               const zel::catalogue::TableEntry& entry) -> std::optional<bool> {
              const QString table = Expected::Q(entry.table), path = folder + "\\" + table;
              const QStringList indexes = Expected::Indexes(entry);
              if (table == "DISPLAY") {  // a transient table that a re-index mends
                e.Test(folder, table, indexes, {""});
                e.ReIndex(folder, table);
                for (int i = 0; i < 2; ++i) {
                  e.Test(folder, table, {""});
                  e.Line(2, "New File Succesfully Restored  " + path + " ....Done");
                }
                return true;
              }
              if (table == "PUMPSALE") {  // a transient table replaced by a new empty one
                e.Test(folder, table, indexes, {""});
                e.NewEmptyTable(folder, table, 16);
                return true;
              }
              if (table == "STOCK") {  // a kept table that a re-index mends
                e.Test(folder, table, indexes, indexes);
                e.ReIndex(folder, table);
                e.Test(folder, table, {""});
                e.Line(2, "Re-Index Succesfully done  " + path + " ....Done");
                return true;
              }
              if (table == "DRIVERS") {  // a kept table restored from the latest generation
                e.Test(folder, table, indexes, {""});
                e.ReIndex(folder, table);
                e.Test(folder, table, {""}, {""});
                e.Line(2, "Testing Backup File " + path + " ....Files");
                e.Dialog("Information", "", "OK");  // DRIVERS has no warning
                e.Line(2, "Deleting Old Table " + path + " ....");
                e.Line(2, "Copy Backup File " + path + " ....Files");
                e.Test(folder, table, {""});
                e.Test(folder, table, {""});
                e.Line(2, "Backup File Succesfully Restored  " + path + " ....Done");
                return true;
              }
              return std::nullopt;
            });
    e.End();
    CompareOutput(run, e.out);
    QCOMPARE(run.exitCode, 0);

    QCOMPARE(LogMessages(), (QStringList{"ZEL Util Start.", "Create new file :TEMPDATA PUMPSALE",
                                         "Recover file :PERMDATA DRIVERS from backup nu : 3"}));
    QCOMPARE(Bytes("ZELPOS/PERMDATA/DRIVERS.DB"), backup);
    QVERIFY(!QFile::exists(Drive("PDOXUSRS.NET")));
    for (auto folder : zel::catalogue::CheckOrder())
      QVERIFY(QDir(Drive("ZELPOS/" + Expected::Q(folder))).entryList({"*.LCK"}).isEmpty());
    // The replaced and the restored tables' damaged data files were put aside.
    const QStringList saved =
        QDir(Drive("ZELPOS/ZelUtil.Damaged")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    QCOMPARE(saved.size(), 1);
    QVERIFY(QFile::exists(Drive("ZELPOS/ZelUtil.Damaged/" + saved[0] + "/TEMPDATA/PUMPSALE.DB")));
    QVERIFY(QFile::exists(Drive("ZELPOS/ZelUtil.Damaged/" + saved[0] + "/PERMDATA/DRIVERS.DB")));
  }

  // No generation holds a usable copy: the damaged table stays, the rest of PERMDATA is skipped.
  void noUsableBackup() {
    QStringList arguments{"--damage", "db-header:PERMDATA/ATTEND"};
    for (int generation = 1; generation <= 7; ++generation)
      arguments << "--damage" << QString("backup-missing:PERMDATA/ATTEND@%1").arg(generation);
    Build(arguments);
    const QByteArray damaged = Bytes("ZELPOS/PERMDATA/ATTEND.DB");
    const Run run = RunConsole();

    Expected e;
    e.Step1();
    const auto counts = e.Step2(true,
                                [](Expected& e, const QString& folder,
                                   const zel::catalogue::TableEntry& entry) -> std::optional<bool> {
                                  const QString table = Expected::Q(entry.table),
                                                path = folder + "\\" + table;
                                  if (table != "ATTEND") return std::nullopt;
                                  const QStringList indexes = Expected::Indexes(entry);
                                  e.Test(folder, table, indexes, indexes);
                                  e.ReIndex(folder, table);
                                  e.Test(folder, table, {""}, {""});
                                  for (int i = 0; i < 7; ++i)
                                    e.Line(2, "Testing Backup File " + path + " ....Files");
                                  e.Test(folder, table, {""}, {""});
                                  e.Line(2, "Backup File Failed " + path + " ....Failed");
                                  return false;
                                });
    e.End();
    CompareOutput(run, e.out);
    QCOMPARE(run.exitCode, 1);
    QCOMPARE(counts.skipped, 22);
    QCOMPARE(Bytes("ZELPOS/PERMDATA/ATTEND.DB"), damaged);
    QCOMPARE(LogMessages(), QStringList{"ZEL Util Start."});
  }

  // The start line cannot be written: the error box and nothing else, no lock file touched.
  void noLogFolder() {
    Build({"--damage", "stale-locks", "--damage", "no-log-folder"});
    const Run run = RunConsole();
    QCOMPARE(run.lines, QStringList{"error: Invalid filename."});
    QCOMPARE(run.exitCode, 3);
    QVERIFY(QFileInfo::exists(prefix_->path() + "/drive_c/PDOXUSRS.NET"));
    QVERIFY(QFileInfo::exists(prefix_->path() + "/drive_c/ZelPos.away/PERMDATA/PARADOX.LCK"));
  }

  void otherTill() {
    Build({"--till", "FC  2 - B", "--damage", "db-header:HISTORY/SUNHIST"});
    const Run run = RunConsole();
    Expected e;
    e.Step1();
    const auto counts = e.Step2(false,
                                [](Expected& e, const QString& folder,
                                   const zel::catalogue::TableEntry& entry) -> std::optional<bool> {
                                  const QString table = Expected::Q(entry.table);
                                  if (table != "SUNHIST") return std::nullopt;
                                  e.Test(folder, table, {""}, {""});
                                  e.NewEmptyTable(folder, table, 3);
                                  return true;
                                });
    e.End();
    CompareOutput(run, e.out);
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(counts.tested, 31);
    QCOMPARE(run.lines.filter(QRegularExpression("^lst2: ")).last(),
             QString("lst2: Testing TempData Files.......Done"));
    QCOMPARE(LogMessages(), (QStringList{"ZEL Util Start.", "Create new file :History SUNHIST"}));
  }

 public:
  EndToEndTest() { qputenv("QT_QPA_PLATFORM", "offscreen"); }
};

QTEST_GUILESS_MAIN(EndToEndTest)
#include "tst_e2e.moc"
