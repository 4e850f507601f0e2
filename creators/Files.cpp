// The Files library: one entry point per ZelPos table (two serve two tables each). Each builds
// the tables it serves that are missing and leaves existing ones untouched.
#include "creators/Files.h"

#include "creators/CreatorSupport.h"

using zel::creators::CreateMissingTables;

extern "C" {

void CreateAttendant() {
  CreateMissingTables("CreateAttendant", {{"PERMDATA", "ATTEND"}});
}
void CreateAttLogPerm() {
  CreateMissingTables("CreateAttLogPerm", {{"PERMDATA", "ATTLOG"}});
}
void CreateAttLogTemp() {
  CreateMissingTables("CreateAttLogTemp", {{"TEMPDATA", "ATTLOG"}});
}
void CreateAutoSale() {
  CreateMissingTables("CreateAutoSale", {{"TEMPDATA", "AUTOSALE"}});
}
void CreateCashPay() {
  CreateMissingTables("CreateCashPay", {{"TEMPDATA", "CASHPAY"}});
}
void CreateCOD() {
  CreateMissingTables("CreateCOD", {{"PERMDATA", "COD"}});
}
void CreateCODMast() {
  CreateMissingTables("CreateCODMast", {{"PERMDATA", "CODMAST"}});
}
void CreateCODVehicle() {
  CreateMissingTables("CreateCODVehicle", {{"PERMDATA", "CODVECH"}});
}
void CreateComboSales() {
  CreateMissingTables("CreateComboSales", {{"TEMPDATA", "COMBSALE"}});
}
void CreateCompany() {
  CreateMissingTables("CreateCompany", {{"PERMDATA", "COMPANY"}});
}
void CreateCreditors1() {
  CreateMissingTables("CreateCreditors1", {{"PERMDATA", "CREDMAST"}});
}
void CreateDebtAge() {
  CreateMissingTables("CreateDebtAge", {{"PERMDATA", "DEBTAGE"}});
}
void CreateDebtDet() {
  CreateMissingTables("CreateDebtDet", {{"PERMDATA", "DEBTDET"}});
}
void CreateDebTemp() {
  CreateMissingTables("CreateDebTemp", {{"TEMPDATA", "DEBTREP"}, {"PERMDATA", "DEBTEMP"}});
}
void CreateDebtors1() {
  CreateMissingTables("CreateDebtors1", {{"PERMDATA", "DEBTMAST"}});
}
void CreateDebtors2() {
  CreateMissingTables("CreateDebtors2", {{"PERMDATA", "DEBTVECH"}});
}
void CreateDebtors3() {
  CreateMissingTables("CreateDebtors3", {{"PERMDATA", "DEBTRANS"}});
}
void CreateDebtors3H() {
  CreateMissingTables("CreateDebtors3H", {{"PERMDATA", "DEBTRANH"}});
}
void CreateDebtorsOTK() {
  CreateMissingTables("CreateDebtorsOTK", {{"PERMDATA", "DEBMAOTK"}, {"PERMDATA", "OTKREK"}});
}
void CreateDebTransTemp() {
  CreateMissingTables("CreateDebTransTemp", {{"TEMPDATA", "DEBTRANS"}});
}
void CreateDispData() {
  CreateMissingTables("CreateDispData", {{"DISPDATA", "DISPLAY"}});
}
void CreateDrivers() {
  CreateMissingTables("CreateDrivers", {{"PERMDATA", "DRIVERS"}});
}
void CreateDropFile() {
  CreateMissingTables("CreateDropFile", {{"TEMPDATA", "DROPLOG"}});
}
void CreateDropType() {
  CreateMissingTables("CreateDropType", {{"TEMPDATA", "DROPTYPE"}});
}
void CreateEnd() {
  CreateMissingTables("CreateEnd", {{"TEMPDATA", "VOID"}});
}
void CreateGrade() {
  CreateMissingTables("CreateGrade", {{"CONFIGDATA", "GRADE"}});
}
void CreateGroups() {
  CreateMissingTables("CreateGroups", {{"PERMDATA", "STOGRP"}});
}
void CreateLinkFile() {
  CreateMissingTables("CreateLinkFile", {{"TEMPDATA", "LINK"}});
}
void CreateLogin() {
  CreateMissingTables("CreateLogin", {{"TEMPDATA", "LOGIN"}});
}
void CreatePayTemp() {
  CreateMissingTables("CreatePayTemp", {{"TEMPDATA", "PAYTEMP"}});
}
void CreatePayTempPerm() {
  CreateMissingTables("CreatePayTempPerm", {{"PERMDATA", "PAYTEMP"}});
}
void CreatePayType() {
  CreateMissingTables("CreatePayType", {{"CONFIGDATA", "PAYTYPE"}});
}
void CreatePayTypeTemp() {
  CreateMissingTables("CreatePayTypeTemp", {{"TEMPDATA", "PAYTYPE"}});
}
void CreatePumpConfig() {
  CreateMissingTables("CreatePumpConfig", {{"CONFIGDATA", "PUMPCONF"}});
}
void CreatePumpHist() {
  CreateMissingTables("CreatePumpHist", {{"HISTORY", "PUMPHIST"}});
}
void CreatePumpHistTemp() {
  CreateMissingTables("CreatePumpHistTemp", {{"TEMPDATA", "PUMPHIST"}});
}
void CreatePumpSale() {
  CreateMissingTables("CreatePumpSale", {{"TEMPDATA", "PUMPSALE"}});
}
void CreateReceipt() {
  CreateMissingTables("CreateReceipt", {{"TEMPDATA", "RECEIPT"}});
}
void CreateRefund() {
  CreateMissingTables("CreateRefund", {{"TEMPDATA", "REFUND"}});
}
void CreateRepRec() {
  CreateMissingTables("CreateRepRec", {{"TEMPDATA", "REPREC"}});
}
void CreateSaleMast() {
  CreateMissingTables("CreateSaleMast", {{"TEMPDATA", "SALEMAST"}});
}
void CreateSaleTemp() {
  CreateMissingTables("CreateSaleTemp", {{"TEMPDATA", "SALETEMP"}});
}
void CreateSaleVoid() {
  CreateMissingTables("CreateSaleVoid", {{"TEMPDATA", "SALEVOID"}});
}
void CreateShift() {
  CreateMissingTables("CreateShift", {{"CONFIGDATA", "SHIFTS"}});
}
void CreateSpecialSundry() {
  CreateMissingTables("CreateSpecialSundry", {{"TEMPDATA", "SPECSUN"}});
}
void CreateSpecialSundry1() {
  CreateMissingTables("CreateSpecialSundry1", {{"TEMPDATA", "SPECSUN1"}});
}
void CreateStock() {
  CreateMissingTables("CreateStock", {{"PERMDATA", "STOCK"}});
}
void CreateStockCom() {
  CreateMissingTables("CreateStockCom", {{"PERMDATA", "STOCKCOM"}});
}
void CreateStoTrans() {
  CreateMissingTables("CreateStoTrans", {{"PERMDATA", "STOTRANS"}});
}
void CreateStoVal() {
  CreateMissingTables("CreateStoVal", {{"TEMPDATA", "STOVAL"}});
}
void CreateSundryDetails() {
  CreateMissingTables("CreateSundryDetails", {{"TEMPDATA", "SUNDRY"}});
}
void CreateSundryHistory() {
  CreateMissingTables("CreateSundryHistory", {{"HISTORY", "SUNHIST"}});
}
void CreateSundryTempData() {
  CreateMissingTables("CreateSundryTempData", {{"TEMPDATA", "SUNTEMP"}});
}
void CreateTankConfig() {
  CreateMissingTables("CreateTankConfig", {{"CONFIGDATA", "TANKCONF"}});
}
void CreateTempAutoAtt() {
  CreateMissingTables("CreateTempAutoAtt", {{"TEMPDATA", "AUTOATT"}});
}
void CreateTotalisers() {
  CreateMissingTables("CreateTotalisers", {{"CONFIGDATA", "TOTALISE"}});
}
void CreateToteHist() {
  CreateMissingTables("CreateToteHist", {{"CONFIGDATA", "TOTEHIST"}});
}
void CreateToteLog() {
  CreateMissingTables("CreateToteLog", {{"TEMPDATA", "TOTELOG"}});
}
void CreateWarehouse() {
  CreateMissingTables("CreateWarehouse", {{"PERMDATA", "STOWH"}});
}
}
