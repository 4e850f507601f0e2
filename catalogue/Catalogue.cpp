// The fixed catalogue of the ZelPos database and its replacement warnings.
#include "catalogue/Catalogue.h"

#include "platform/DriveMapping.h"

namespace zel::catalogue {

namespace {
using R = RepairPath;
// Folder by folder in check order; within a folder, in test order.
const std::vector<TableEntry> kEntries = {
    {"DISPDATA", "DISPLAY", 1, {}, R::Transient, "CreateDispData", "CreateDisplayIndex", 1},
    {"CONFIGDATA", "GRADE", 1, {"GName"}, R::Kept, "CreateGrade", "CreateGradeIndex", 4},
    {"CONFIGDATA", "PAYTYPE", 2, {"PDesc"}, R::Kept, "CreatePayType", "CreatePayTypeIndex", 5},
    {"CONFIGDATA", "PUMPCONF", 3, {}, R::Kept, "CreatePumpConfig", "CreatePumpConfigIndex", 6},
    {"CONFIGDATA", "SHIFTS", 4, {}, R::Kept, "CreateShift", "", 0},
    {"CONFIGDATA", "TANKCONF", 5, {}, R::Kept, "CreateTankConfig", "CreateTankConfIndex", 7},
    {"CONFIGDATA", "TOTALISE", 6, {}, R::Kept, "CreateTotalisers", "CreateTotaliseIndex", 8},
    {"CONFIGDATA", "TOTEHIST", 7, {}, R::Transient, "CreateToteHist", "", 8},
    {"HISTORY", "PUMPHIST", 1, {}, R::Transient, "CreatePumpHist", "", 2},
    {"HISTORY", "SUNHIST", 2, {}, R::Transient, "CreateSundryHistory", "", 3},
    {"TEMPDATA", "ATTLOG", 1, {}, R::Transient, "CreateAttLogTemp", "", 9},
    {"TEMPDATA", "AUTOATT", 2, {}, R::Transient, "CreateTempAutoAtt", "", 0},
    {"TEMPDATA", "AUTOSALE", 3, {}, R::Transient, "CreateAutoSale", "", 10},
    {"TEMPDATA", "CASHPAY", 4, {}, R::Transient, "CreateCashPay", "", 11},
    {"TEMPDATA", "COMBSALE", 5, {}, R::Transient, "CreateComboSales", "", 12},
    {"TEMPDATA", "DEBTRANS", 6, {}, R::Transient, "CreateDebTransTemp", "", 13},
    {"TEMPDATA", "DEBTREP", 7, {}, R::Transient, "CreateDebTemp", "", 0},
    {"TEMPDATA", "DROPLOG", 8, {}, R::Transient, "CreateDropFile", "", 14},
    {"TEMPDATA", "DROPTYPE", 9, {}, R::Transient, "CreateDropType", "", 0},
    {"TEMPDATA", "LINK", 10, {}, R::Transient, "CreateLinkFile", "", 0},
    {"TEMPDATA", "LOGIN", 11, {}, R::Transient, "CreateLogin", "", 0},
    {"TEMPDATA", "PAYTYPE", 12, {}, R::Transient, "CreatePayTypeTemp", "", 15},
    {"TEMPDATA", "PAYTEMP", 13, {}, R::Transient, "CreatePayTemp", "", 0},
    {"TEMPDATA", "PUMPHIST", 14, {}, R::Transient, "CreatePumpHistTemp", "", 0},
    {"TEMPDATA", "PUMPSALE", 15, {}, R::Transient, "CreatePumpSale", "", 16},
    {"TEMPDATA", "RECEIPT", 16, {}, R::Transient, "CreateReceipt", "", 0},
    {"TEMPDATA", "REFUND", 17, {}, R::Transient, "CreateRefund", "", 0},
    {"TEMPDATA", "REPREC", 18, {}, R::Transient, "CreateRepRec", "", 0},
    {"TEMPDATA", "SALEMAST", 19, {}, R::Transient, "CreateSaleMast", "", 17},
    {"TEMPDATA", "SALETEMP", 20, {}, R::Transient, "CreateSaleTemp", "", 0},
    {"TEMPDATA", "SALEVOID", 21, {}, R::Transient, "CreateSaleVoid", "", 0},
    {"TEMPDATA", "SPECSUN", 22, {}, R::Transient, "CreateSpecialSundry", "", 18},
    {"TEMPDATA", "SPECSUN1", 23, {}, R::Transient, "CreateSpecialSundry1", "", 19},
    {"TEMPDATA", "STOVAL", 24, {}, R::Transient, "CreateStoVal", "", 0},
    {"TEMPDATA", "SUNDRY", 25, {}, R::Transient, "CreateSundryDetails", "", 20},
    {"TEMPDATA", "SUNTEMP", 26, {}, R::Transient, "CreateSundryTempData", "", 0},
    {"TEMPDATA", "TOTELOG", 27, {}, R::Transient, "CreateToteLog", "", 0},
    {"TEMPDATA", "VOID", 28, {}, R::Transient, "CreateEnd", "", 0},
    {"PERMDATA",
     "ATTEND",
     1,
     {"AttName", "TagNum"},
     R::Kept,
     "CreateAttendant",
     "CreateAttendIndex",
     21},
    {"PERMDATA", "ATTLOG", 2, {}, R::Kept, "CreateAttLogPerm", "", 0},
    {"PERMDATA", "COD", 3, {}, R::Kept, "CreateCOD", "", 22},
    {"PERMDATA", "CODMAST", 4, {}, R::Kept, "CreateCODMast", "", 22},
    {"PERMDATA", "CODVECH", 5, {}, R::Kept, "CreateCODVehicle", "", 23},
    {"PERMDATA", "COMPANY", 6, {}, R::Kept, "CreateCompany", "", 24},
    {"PERMDATA", "CREDMAST", 7, {}, R::Kept, "CreateCreditors1", "CreateCreditorsIndex", 25},
    {"PERMDATA", "DEBMAOTK", 8, {}, R::Kept, "CreateDebtorsOTK", "", 0},
    {"PERMDATA", "DEBTAGE", 9, {}, R::Kept, "CreateDebtAge", "", 0},
    {"PERMDATA", "DEBTDET", 10, {}, R::Kept, "CreateDebtDet", "", 0},
    {"PERMDATA", "DEBTEMP", 11, {}, R::Kept, "CreateDebTemp", "", 0},
    {"PERMDATA",
     "DEBTMAST",
     12,
     {"ByDebName"},
     R::Kept,
     "CreateDebtors1",
     "CreateDebtMastIndex",
     26},
    {"PERMDATA", "DEBTRANH", 13, {}, R::Kept, "CreateDebtors3H", "", 0},
    {"PERMDATA", "DEBTRANS", 14, {}, R::Kept, "CreateDebtors3", "CreateDebtTransIndex", 27},
    {"PERMDATA",
     "DEBTVECH",
     15,
     {"ByVNum", "ByVName"},
     R::Kept,
     "CreateDebtors2",
     "CreateDebtVechIndex",
     28},
    {"PERMDATA", "DRIVERS", 16, {}, R::Kept, "CreateDrivers", "", 0},
    {"PERMDATA", "OTKREK", 17, {}, R::Kept, "CreateDebtorsOTK", "", 0},
    {"PERMDATA", "PAYTEMP", 18, {}, R::Kept, "CreatePayTempPerm", "", 0},
    {"PERMDATA", "STOCK", 19, {"Desc"}, R::Kept, "CreateStock", "CreateStockIndex", 29},
    {"PERMDATA", "STOCKCOM", 20, {}, R::Kept, "CreateStockCom", "", 0},
    {"PERMDATA", "STOGRP", 21, {}, R::Kept, "CreateGroups", "CreateStoGrpIndex", 30},
    {"PERMDATA", "STOTRANS", 22, {}, R::Kept, "CreateStoTrans", "", 0},
    {"PERMDATA", "STOWH", 23, {}, R::Kept, "CreateWarehouse", "", 0},
};

const std::array<std::string_view, 31> kWarnings = {
    "",
    "Replacing this file could result in losing all outstanding sales on all pumps",
    "Replacing this file will have an effect on the sales per pump report in the Zelpos Report "
    "menu",
    "Replacing this file will have an effect on the sundry sales report in the Zelpos Report menu",
    "Replacing this file will have an effect on the sales per Grade on the End of shift report",
    "Replacing this file will have an effect on the sales per PayType on the End of shift report",
    "Replacing this file will have an effect on the sales per Pump on the End of shift report",
    "Replacing this file will have an effect on the sales per Tank on the End of shift report",
    "Replacing this file will have an effect on the Totalizers on the End of shift report",
    "Replacing this file will have an effect on the Attend clockin times on the End of shift "
    "report",
    "Replacing this file will have an effect on the AutoSales  on the End of shift report",
    "Replacing this file will have an effect on the Cash Payout on the End of shift report",
    "Replacing this file will have an effect on the Combo Items Sales total on the End of shift "
    "report",
    "Replacing this file will have an effect on the sales per Debtor on the End of shift report",
    "Replacing this file will have an effect on the Cash Drops on the End of shift report",
    "Replacing this file will have an effect on the Banking part of the End of shift report",
    "Replacing this file will have an effect on the sales per pump on the End of shift report",
    "Replacing this file will have an effect on the Total Sales on the End of shift report aswell "
    "as on Quorvane sales Report",
    "Replacing this file will have an effect on the Spesial Sundry 1 on the End of shift report",
    "Replacing this file will have an effect on the Spesial Sundry 2 on the End of shift report",
    "Replacing this file will have an effect on the Sundry sales on the End of shift report",
    "Replacing this file will have an effect on your Attendants, Please Check Attendant Names and "
    "Passwords",
    "Replacing this file will have an effect your COD account, Please check Acc Names",
    "Replacing this file will have an effect your COD account Vechicles, Please check Acc Names",
    "Replacing this file will have an effect Company Settings, Please check period Nu",
    "Replacing this file will have an effect your creditor account, Please check Acc Names",
    "Replacing this file will have an effect your debtor account, Please check Acc Names",
    "Replacing this file will have an effect your account transactions, Please check debtor sales "
    "per shift",
    "Replacing this file will have an effect your debtor vehicles, Please check Acc Names",
    "Replacing this file will have an effect your Stock Prices and Quantitys, Please check Prices "
    "and Quantity",
    "Replacing this file will have an effect your Stock Groups, Please check Stock Group names",
};

}  // namespace

const std::array<std::string_view, 5>& CheckOrder() {
  static const std::array<std::string_view, 5> order = {"DISPDATA", "CONFIGDATA", "HISTORY",
                                                        "TEMPDATA", "PERMDATA"};
  return order;
}

const std::array<std::string_view, 5>& LockResetOrder() {
  static const std::array<std::string_view, 5> order = {"DISPDATA", "PERMDATA", "CONFIGDATA",
                                                        "TEMPDATA", "HISTORY"};
  return order;
}

const std::vector<TableEntry>& Entries() {
  return kEntries;
}

std::vector<const TableEntry*> FolderTables(std::string_view folder) {
  std::vector<const TableEntry*> tables;
  for (const auto& entry : kEntries)
    if (platform::SameNameIgnoringCase(entry.folder, folder)) tables.push_back(&entry);
  return tables;  // kEntries is already in check order within each folder
}

const TableEntry* FindEntry(std::string_view folder, std::string_view table) {
  for (const auto& entry : kEntries)
    if (entry.table == table && platform::SameNameIgnoringCase(entry.folder, folder)) return &entry;
  return nullptr;
}

std::string_view WarningText(int key) {
  if (key <= 0 || key >= static_cast<int>(kWarnings.size())) return {};
  return kWarnings[static_cast<std::size_t>(key)];
}

void GetReplaceWarning(const std::string& folder, const std::string& table, std::string& text) {
  const TableEntry* entry = FindEntry(folder, table);
  if (entry == nullptr || entry->warning == 0) return;
  // Line feed before carriage return: the dialogs have always shown it that way.
  text =
      "Replace file : " + folder + " " + table + "\n\r" + std::string(WarningText(entry->warning));
}

}  // namespace zel::catalogue
