// The table catalogue: folders, entries, warnings and the bound creator entry points.
#include <QProcess>
#include <QtTest>
#include <set>
#include <string>

#include "catalogue/Catalogue.h"
#include "creators/Files.h"
#include "creators/Index.h"

using namespace zel::catalogue;

namespace {

QString Q(std::string_view s) {
  return QString::fromLatin1(s.data(), static_cast<qsizetype>(s.size()));
}

}  // namespace

class CatalogueTest : public QObject {
  Q_OBJECT

 private slots:
  void foldersInOrder();
  void folderCounts_data();
  void folderCounts();
  void entryFields_data();
  void entryFields();
  void lookupRules();
  void warningTexts_data();
  void warningTexts();
  void replaceWarningEdges();
  void creatorBindings();
  void programNeedsBothLibraries();
};

void CatalogueTest::foldersInOrder() {
  const std::array<std::string_view, 5> check = {"DISPDATA", "CONFIGDATA", "HISTORY", "TEMPDATA",
                                                 "PERMDATA"};
  const std::array<std::string_view, 5> reset = {"DISPDATA", "PERMDATA", "CONFIGDATA", "TEMPDATA",
                                                 "HISTORY"};
  QCOMPARE(CheckOrder(), check);
  QCOMPARE(LockResetOrder(), reset);
  QCOMPARE(Entries().size(), std::size_t{61});

  // Entries run folder by folder in check order, and every (folder, table) pair is unique.
  std::size_t folder = 0;
  std::set<std::pair<std::string_view, std::string_view>> pairs;
  for (const auto& entry : Entries()) {
    while (folder < check.size() && check[folder] != entry.folder) ++folder;
    QVERIFY2(folder < check.size(), entry.table.data());
    QVERIFY(pairs.insert({entry.folder, entry.table}).second);
    QVERIFY(entry.table.size() >= 3 && entry.table.size() <= 8);
    QVERIFY(!entry.tableCreator.empty());
  }
}

void CatalogueTest::folderCounts_data() {
  QTest::addColumn<QString>("folder");
  QTest::addColumn<int>("count");
  QTest::addColumn<QString>("first");
  QTest::addColumn<QString>("last");
  QTest::newRow("DISPDATA") << "DISPDATA" << 1 << "DISPLAY"
                            << "DISPLAY";
  QTest::newRow("CONFIGDATA") << "CONFIGDATA" << 7 << "GRADE"
                              << "TOTEHIST";
  QTest::newRow("HISTORY") << "HISTORY" << 2 << "PUMPHIST"
                           << "SUNHIST";
  QTest::newRow("History as Step 2 passes it") << "History" << 2 << "PUMPHIST"
                                               << "SUNHIST";
  QTest::newRow("TEMPDATA") << "TEMPDATA" << 28 << "ATTLOG"
                            << "VOID";
  QTest::newRow("PERMDATA") << "PERMDATA" << 23 << "ATTEND"
                            << "STOWH";
  QTest::newRow("lower case") << "permdata" << 23 << "ATTEND"
                              << "STOWH";
  QTest::newRow("not a folder") << "ZELPOS" << 0 << ""
                                << "";
}

void CatalogueTest::folderCounts() {
  QFETCH(QString, folder);
  QFETCH(int, count);
  QFETCH(QString, first);
  QFETCH(QString, last);
  const auto tables = FolderTables(folder.toStdString());
  QCOMPARE(static_cast<int>(tables.size()), count);
  for (int i = 0; i < count; ++i) QCOMPARE(tables[static_cast<std::size_t>(i)]->position, i + 1);
  if (count == 0) return;
  QCOMPARE(Q(tables.front()->table), first);
  QCOMPARE(Q(tables.back()->table), last);
  const std::string upper = folder.toUpper().toStdString();
  for (const TableEntry* entry : tables) {
    QCOMPARE(Q(entry->folder), QString::fromStdString(upper));
    if (upper == "TEMPDATA") {
      QCOMPARE(entry->repairPath, RepairPath::Transient);
      QVERIFY(entry->indexCreator.empty());
    }
    if (upper == "PERMDATA") QCOMPARE(entry->repairPath, RepairPath::Kept);
  }
}

void CatalogueTest::entryFields_data() {
  QTest::addColumn<QString>("folder");
  QTest::addColumn<QString>("table");
  QTest::addColumn<int>("position");
  QTest::addColumn<QStringList>("indexes");
  QTest::addColumn<bool>("kept");
  QTest::addColumn<QString>("tableCreator");
  QTest::addColumn<QString>("indexCreator");
  QTest::addColumn<int>("warning");
  const QStringList none;
  QTest::newRow("DISPLAY") << "DISPDATA"
                           << "DISPLAY" << 1 << none << false << "CreateDispData"
                           << "CreateDisplayIndex" << 1;
  QTest::newRow("GRADE") << "CONFIGDATA"
                         << "GRADE" << 1 << QStringList{"GName"} << true << "CreateGrade"
                         << "CreateGradeIndex" << 4;
  QTest::newRow("PAYTYPE config") << "CONFIGDATA"
                                  << "PAYTYPE" << 2 << QStringList{"PDesc"} << true
                                  << "CreatePayType"
                                  << "CreatePayTypeIndex" << 5;
  QTest::newRow("PAYTYPE temp") << "TEMPDATA"
                                << "PAYTYPE" << 12 << none << false << "CreatePayTypeTemp"
                                << "" << 15;
  QTest::newRow("SHIFTS") << "CONFIGDATA"
                          << "SHIFTS" << 4 << none << true << "CreateShift"
                          << "" << 0;
  QTest::newRow("TOTALISE") << "CONFIGDATA"
                            << "TOTALISE" << 6 << none << true << "CreateTotalisers"
                            << "CreateTotaliseIndex" << 8;
  QTest::newRow("TOTEHIST") << "CONFIGDATA"
                            << "TOTEHIST" << 7 << none << false << "CreateToteHist"
                            << "" << 8;
  QTest::newRow("PUMPHIST history") << "HISTORY"
                                    << "PUMPHIST" << 1 << none << false << "CreatePumpHist"
                                    << "" << 2;
  QTest::newRow("PUMPHIST temp") << "TEMPDATA"
                                 << "PUMPHIST" << 14 << none << false << "CreatePumpHistTemp"
                                 << "" << 0;
  QTest::newRow("ATTLOG temp") << "TEMPDATA"
                               << "ATTLOG" << 1 << none << false << "CreateAttLogTemp"
                               << "" << 9;
  QTest::newRow("ATTLOG perm") << "PERMDATA"
                               << "ATTLOG" << 2 << none << true << "CreateAttLogPerm"
                               << "" << 0;
  QTest::newRow("DEBTRANS temp") << "TEMPDATA"
                                 << "DEBTRANS" << 6 << none << false << "CreateDebTransTemp"
                                 << "" << 13;
  QTest::newRow("DEBTRANS perm") << "PERMDATA"
                                 << "DEBTRANS" << 14 << none << true << "CreateDebtors3"
                                 << "CreateDebtTransIndex" << 27;
  QTest::newRow("PAYTEMP temp") << "TEMPDATA"
                                << "PAYTEMP" << 13 << none << false << "CreatePayTemp"
                                << "" << 0;
  QTest::newRow("PAYTEMP perm") << "PERMDATA"
                                << "PAYTEMP" << 18 << none << true << "CreatePayTempPerm"
                                << "" << 0;
  QTest::newRow("DEBTREP") << "TEMPDATA"
                           << "DEBTREP" << 7 << none << false << "CreateDebTemp"
                           << "" << 0;
  QTest::newRow("DEBTEMP") << "PERMDATA"
                           << "DEBTEMP" << 11 << none << true << "CreateDebTemp"
                           << "" << 0;
  QTest::newRow("DEBMAOTK") << "PERMDATA"
                            << "DEBMAOTK" << 8 << none << true << "CreateDebtorsOTK"
                            << "" << 0;
  QTest::newRow("OTKREK") << "PERMDATA"
                          << "OTKREK" << 17 << none << true << "CreateDebtorsOTK"
                          << "" << 0;
  QTest::newRow("VOID") << "TEMPDATA"
                        << "VOID" << 28 << none << false << "CreateEnd"
                        << "" << 0;
  QTest::newRow("ATTEND") << "PERMDATA"
                          << "ATTEND" << 1 << QStringList{"AttName", "TagNum"} << true
                          << "CreateAttendant"
                          << "CreateAttendIndex" << 21;
  QTest::newRow("COD") << "PERMDATA"
                       << "COD" << 3 << none << true << "CreateCOD"
                       << "" << 22;
  QTest::newRow("CODMAST") << "PERMDATA"
                           << "CODMAST" << 4 << none << true << "CreateCODMast"
                           << "" << 22;
  QTest::newRow("CREDMAST") << "PERMDATA"
                            << "CREDMAST" << 7 << none << true << "CreateCreditors1"
                            << "CreateCreditorsIndex" << 25;
  QTest::newRow("DEBTMAST") << "PERMDATA"
                            << "DEBTMAST" << 12 << QStringList{"ByDebName"} << true
                            << "CreateDebtors1"
                            << "CreateDebtMastIndex" << 26;
  QTest::newRow("DEBTVECH") << "PERMDATA"
                            << "DEBTVECH" << 15 << QStringList{"ByVNum", "ByVName"} << true
                            << "CreateDebtors2"
                            << "CreateDebtVechIndex" << 28;
  QTest::newRow("STOCK") << "PERMDATA"
                         << "STOCK" << 19 << QStringList{"Desc"} << true << "CreateStock"
                         << "CreateStockIndex" << 29;
  QTest::newRow("STOGRP") << "PERMDATA"
                          << "STOGRP" << 21 << none << true << "CreateGroups"
                          << "CreateStoGrpIndex" << 30;
  QTest::newRow("STOWH") << "PERMDATA"
                         << "STOWH" << 23 << none << true << "CreateWarehouse"
                         << "" << 0;
}

void CatalogueTest::entryFields() {
  QFETCH(QString, folder);
  QFETCH(QString, table);
  QFETCH(int, position);
  QFETCH(QStringList, indexes);
  QFETCH(bool, kept);
  QFETCH(QString, tableCreator);
  QFETCH(QString, indexCreator);
  QFETCH(int, warning);
  const TableEntry* entry = FindEntry(folder.toStdString(), table.toStdString());
  QVERIFY(entry != nullptr);
  QCOMPARE(entry->position, position);
  QStringList named;
  for (auto name : entry->namedIndexes)
    if (!name.empty()) named << Q(name);
  QCOMPARE(named, indexes);
  QCOMPARE(entry->repairPath, kept ? RepairPath::Kept : RepairPath::Transient);
  QCOMPARE(Q(entry->tableCreator), tableCreator);
  QCOMPARE(Q(entry->indexCreator), indexCreator);
  QCOMPARE(entry->warning, warning);
}

void CatalogueTest::lookupRules() {
  // Folder without regard to case, table exactly.
  QVERIFY(FindEntry("History", "PUMPHIST") == FindEntry("HISTORY", "PUMPHIST"));
  QVERIFY(FindEntry("tempdata", "VOID") != nullptr);
  QVERIFY(FindEntry("TEMPDATA", "void") == nullptr);
  QVERIFY(FindEntry("TEMPDATA", "VOID.db") == nullptr);
  // The control table is not a catalogue entry: no creator, no warning.
  QVERIFY(FindEntry("DISPDATA", "DUMMYDISP") == nullptr);
  QVERIFY(TableCreator("DISPDATA", "DUMMYDISP") == nullptr);
  QVERIFY(IndexCreator("DISPDATA", "DUMMYDISP") == nullptr);
  // A table name that exists only in another folder.
  QVERIFY(FindEntry("PERMDATA", "PUMPHIST") == nullptr);
  QVERIFY(FindEntry("", "") == nullptr);
  QVERIFY(WarningText(0).empty());
  QVERIFY(WarningText(31).empty());
  QVERIFY(WarningText(-1).empty());
}

void CatalogueTest::warningTexts_data() {
  QTest::addColumn<int>("key");
  QTest::addColumn<QString>("folder");
  QTest::addColumn<QString>("table");
  QTest::addColumn<QByteArray>("text");
  auto Row = [](int key, const char* folder, const char* table, const char* text) {
    QTest::addRow("W%d", key) << key << folder << table << QByteArray(text);
  };
  Row(1, "DISPDATA", "DISPLAY",
      "Replacing this file could result in losing all outstanding sales on all pumps");
  Row(2, "HISTORY", "PUMPHIST",
      "Replacing this file will have an effect on the sales per pump report in the Zelpos Report "
      "menu");
  Row(3, "HISTORY", "SUNHIST",
      "Replacing this file will have an effect on the sundry sales report in the Zelpos Report "
      "menu");
  Row(4, "CONFIGDATA", "GRADE",
      "Replacing this file will have an effect on the sales per Grade on the End of shift report");
  Row(5, "CONFIGDATA", "PAYTYPE",
      "Replacing this file will have an effect on the sales per PayType on the End of shift "
      "report");
  Row(6, "CONFIGDATA", "PUMPCONF",
      "Replacing this file will have an effect on the sales per Pump on the End of shift report");
  Row(7, "CONFIGDATA", "TANKCONF",
      "Replacing this file will have an effect on the sales per Tank on the End of shift report");
  Row(8, "CONFIGDATA", "TOTALISE",
      "Replacing this file will have an effect on the Totalizers on the End of shift report");
  Row(9, "TEMPDATA", "ATTLOG",
      "Replacing this file will have an effect on the Attend clockin times on the End of shift "
      "report");
  Row(10, "TEMPDATA", "AUTOSALE",
      "Replacing this file will have an effect on the AutoSales  on the End of shift report");
  Row(11, "TEMPDATA", "CASHPAY",
      "Replacing this file will have an effect on the Cash Payout on the End of shift report");
  Row(12, "TEMPDATA", "COMBSALE",
      "Replacing this file will have an effect on the Combo Items Sales total on the End of shift "
      "report");
  Row(13, "TEMPDATA", "DEBTRANS",
      "Replacing this file will have an effect on the sales per Debtor on the End of shift report");
  Row(14, "TEMPDATA", "DROPLOG",
      "Replacing this file will have an effect on the Cash Drops on the End of shift report");
  Row(15, "TEMPDATA", "PAYTYPE",
      "Replacing this file will have an effect on the Banking part of the End of shift report");
  Row(16, "TEMPDATA", "PUMPSALE",
      "Replacing this file will have an effect on the sales per pump on the End of shift report");
  Row(17, "TEMPDATA", "SALEMAST",
      "Replacing this file will have an effect on the Total Sales on the End of shift report "
      "aswell as on Quorvane sales Report");
  Row(18, "TEMPDATA", "SPECSUN",
      "Replacing this file will have an effect on the Spesial Sundry 1 on the End of shift report");
  Row(19, "TEMPDATA", "SPECSUN1",
      "Replacing this file will have an effect on the Spesial Sundry 2 on the End of shift report");
  Row(20, "TEMPDATA", "SUNDRY",
      "Replacing this file will have an effect on the Sundry sales on the End of shift report");
  Row(21, "PERMDATA", "ATTEND",
      "Replacing this file will have an effect on your Attendants, Please Check Attendant Names "
      "and Passwords");
  Row(22, "PERMDATA", "COD",
      "Replacing this file will have an effect your COD account, Please check Acc Names");
  Row(23, "PERMDATA", "CODVECH",
      "Replacing this file will have an effect your COD account Vechicles, Please check Acc Names");
  Row(24, "PERMDATA", "COMPANY",
      "Replacing this file will have an effect Company Settings, Please check period Nu");
  Row(25, "PERMDATA", "CREDMAST",
      "Replacing this file will have an effect your creditor account, Please check Acc Names");
  Row(26, "PERMDATA", "DEBTMAST",
      "Replacing this file will have an effect your debtor account, Please check Acc Names");
  Row(27, "PERMDATA", "DEBTRANS",
      "Replacing this file will have an effect your account transactions, Please check debtor "
      "sales per shift");
  Row(28, "PERMDATA", "DEBTVECH",
      "Replacing this file will have an effect your debtor vehicles, Please check Acc Names");
  Row(29, "PERMDATA", "STOCK",
      "Replacing this file will have an effect your Stock Prices and Quantitys, Please check "
      "Prices and Quantity");
  Row(30, "PERMDATA", "STOGRP",
      "Replacing this file will have an effect your Stock Groups, Please check Stock Group names");
}

void CatalogueTest::warningTexts() {
  QFETCH(int, key);
  QFETCH(QString, folder);
  QFETCH(QString, table);
  QFETCH(QByteArray, text);
  const std::string_view stored = WarningText(key);
  QCOMPARE(QByteArray(stored.data(), static_cast<qsizetype>(stored.size())), text);

  std::string message;
  GetReplaceWarning(folder.toStdString(), table.toStdString(), message);
  const QByteArray expected =
      "Replace file : " + folder.toLatin1() + " " + table.toLatin1() + "\n\r" + text;
  QCOMPARE(QByteArray::fromStdString(message), expected);
}

void CatalogueTest::replaceWarningEdges() {
  std::string text;
  GetReplaceWarning("TEMPDATA", "AUTOATT", text);
  QCOMPARE(text, std::string());

  // The caller's text stays when there is no warning or no entry.
  text = "as passed";
  GetReplaceWarning("DISPDATA", "DUMMYDISP", text);
  QCOMPARE(text, std::string("as passed"));
  GetReplaceWarning("PERMDATA", "STOWH", text);
  QCOMPARE(text, std::string("as passed"));

  // Shared warnings.
  std::string totalise, totehist;
  GetReplaceWarning("CONFIGDATA", "TOTALISE", totalise);
  GetReplaceWarning("CONFIGDATA", "TOTEHIST", totehist);
  QVERIFY(totalise.ends_with(WarningText(8)));
  QVERIFY(totehist.ends_with(WarningText(8)));
  QCOMPARE(totehist,
           std::string("Replace file : CONFIGDATA TOTEHIST\n\r") + std::string(WarningText(8)));

  // Folder and table appear as the caller wrote them.
  text.clear();
  GetReplaceWarning("History", "PUMPHIST", text);
  QCOMPARE(text, std::string("Replace file : History PUMPHIST\n\rReplacing this file will have an "
                             "effect on the sales per pump report in the Zelpos Report menu"));
  text.clear();
  GetReplaceWarning("history", "PUMPHIST", text);
  QVERIFY(text.starts_with("Replace file : history PUMPHIST\n\r"));

  // Same table name, different folders, different warnings.
  std::string config, temp;
  GetReplaceWarning("CONFIGDATA", "PAYTYPE", config);
  GetReplaceWarning("TEMPDATA", "PAYTYPE", temp);
  QVERIFY(config.ends_with(WarningText(5)));
  QVERIFY(temp.ends_with(WarningText(15)));
}

void CatalogueTest::creatorBindings() {
  int bound = 0;
  for (const auto& entry : Entries()) {
    const auto table = TableCreator(entry.folder, entry.table);
    QVERIFY2(table != nullptr, entry.table.data());
    const auto index = IndexCreator(entry.folder, entry.table);
    QCOMPARE(index != nullptr, !entry.indexCreator.empty());
    bound += (index != nullptr) ? 1 : 0;
  }
  QCOMPARE(bound, 13);

  // Names bind to the libraries' own entry points.
  QVERIFY(TableCreator("TEMPDATA", "DEBTREP") == &::CreateDebTemp);
  QVERIFY(TableCreator("PERMDATA", "DEBTEMP") == &::CreateDebTemp);
  QVERIFY(TableCreator("PERMDATA", "DEBMAOTK") == &::CreateDebtorsOTK);
  QVERIFY(TableCreator("PERMDATA", "OTKREK") == &::CreateDebtorsOTK);
  QVERIFY(TableCreator("CONFIGDATA", "PAYTYPE") == &::CreatePayType);
  QVERIFY(TableCreator("TEMPDATA", "PAYTYPE") == &::CreatePayTypeTemp);
  QVERIFY(TableCreator("TEMPDATA", "VOID") == &::CreateEnd);
  QVERIFY(IndexCreator("PERMDATA", "DEBTRANS") == &::CreateDebtTransIndex);
  QVERIFY(IndexCreator("TEMPDATA", "DEBTRANS") == nullptr);
  QVERIFY(IndexCreator("History", "PUMPHIST") == nullptr);

  // Every entry point of both libraries serves at least one entry.
  std::set<std::string_view> tableNames, indexNames;
  for (const auto& entry : Entries()) {
    tableNames.insert(entry.tableCreator);
    if (!entry.indexCreator.empty()) indexNames.insert(entry.indexCreator);
  }
#define ZEL_NAME(name) #name,
  const std::set<std::string_view> files = {ZEL_FILES_ENTRY_POINTS(ZEL_NAME)};
  const std::set<std::string_view> index = {ZEL_INDEX_ENTRY_POINTS(ZEL_NAME)};
#undef ZEL_NAME
  QCOMPARE(files.size(), std::size_t{59});
  QCOMPARE(index.size(), std::size_t{13});
  QCOMPARE(tableNames, files);
  QCOMPARE(indexNames, index);
}

void CatalogueTest::programNeedsBothLibraries() {
  // Anything linking the catalogue loads libFiles and libIndex at start, as the program does.
  QProcess readelf;
  readelf.start("readelf", {"-d", QCoreApplication::applicationFilePath()});
  QVERIFY(readelf.waitForFinished(30000));
  QCOMPARE(readelf.exitCode(), 0);
  const QByteArray dynamic = readelf.readAllStandardOutput();
  QVERIFY2(dynamic.contains("(NEEDED)") && dynamic.contains("[libFiles.so]"), dynamic.constData());
  QVERIFY2(dynamic.contains("[libIndex.so]"), dynamic.constData());
}

QTEST_GUILESS_MAIN(CatalogueTest)
#include "CatalogueTest.moc"
