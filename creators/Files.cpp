// The Files library: one entry point per ZelPos table (two serve two tables each). Each builds
// the tables it serves that are missing and leaves existing ones untouched.
#include "creators/Files.h"

#include "creators/CreatorSupport.h"

using zel::creators::CreateMissingTables;

extern "C" {

void ZEL_CREATOR_CALL CreateAttendant() {
  CreateMissingTables("CreateAttendant", {{"PERMDATA", "ATTEND"}});
}
void ZEL_CREATOR_CALL CreateAttLogPerm() {
  CreateMissingTables("CreateAttLogPerm", {{"PERMDATA", "ATTLOG"}});
}
void ZEL_CREATOR_CALL CreateAttLogTemp() {
  CreateMissingTables("CreateAttLogTemp", {{"TEMPDATA", "ATTLOG"}});
}
void ZEL_CREATOR_CALL CreateAutoSale() {
  CreateMissingTables("CreateAutoSale", {{"TEMPDATA", "AUTOSALE"}});
}
void ZEL_CREATOR_CALL CreateCashPay() {
  CreateMissingTables("CreateCashPay", {{"TEMPDATA", "CASHPAY"}});
}
void ZEL_CREATOR_CALL CreateCOD() {
  CreateMissingTables("CreateCOD", {{"PERMDATA", "COD"}});
}
void ZEL_CREATOR_CALL CreateCODMast() {
  CreateMissingTables("CreateCODMast", {{"PERMDATA", "CODMAST"}});
}
void ZEL_CREATOR_CALL CreateCODVehicle() {
  CreateMissingTables("CreateCODVehicle", {{"PERMDATA", "CODVECH"}});
}
void ZEL_CREATOR_CALL CreateComboSales() {
  CreateMissingTables("CreateComboSales", {{"TEMPDATA", "COMBSALE"}});
}
void ZEL_CREATOR_CALL CreateCompany() {
  CreateMissingTables("CreateCompany", {{"PERMDATA", "COMPANY"}});
}
void ZEL_CREATOR_CALL CreateCreditors1() {
  CreateMissingTables("CreateCreditors1", {{"PERMDATA", "CREDMAST"}});
}
void ZEL_CREATOR_CALL CreateDebtAge() {
  CreateMissingTables("CreateDebtAge", {{"PERMDATA", "DEBTAGE"}});
}
void ZEL_CREATOR_CALL CreateDebtDet() {
  CreateMissingTables("CreateDebtDet", {{"PERMDATA", "DEBTDET"}});
}
void ZEL_CREATOR_CALL CreateDebTemp() {
  CreateMissingTables("CreateDebTemp", {{"TEMPDATA", "DEBTREP"}, {"PERMDATA", "DEBTEMP"}});
}
void ZEL_CREATOR_CALL CreateDebtors1() {
  CreateMissingTables("CreateDebtors1", {{"PERMDATA", "DEBTMAST"}});
}
void ZEL_CREATOR_CALL CreateDebtors2() {
  CreateMissingTables("CreateDebtors2", {{"PERMDATA", "DEBTVECH"}});
}
void ZEL_CREATOR_CALL CreateDebtors3() {
  CreateMissingTables("CreateDebtors3", {{"PERMDATA", "DEBTRANS"}});
}
void ZEL_CREATOR_CALL CreateDebtors3H() {
  CreateMissingTables("CreateDebtors3H", {{"PERMDATA", "DEBTRANH"}});
}
void ZEL_CREATOR_CALL CreateDebtorsOTK() {
  CreateMissingTables("CreateDebtorsOTK", {{"PERMDATA", "DEBMAOTK"}, {"PERMDATA", "OTKREK"}});
}
void ZEL_CREATOR_CALL CreateDebTransTemp() {
  CreateMissingTables("CreateDebTransTemp", {{"TEMPDATA", "DEBTRANS"}});
}
void ZEL_CREATOR_CALL CreateDispData() {
  CreateMissingTables("CreateDispData", {{"DISPDATA", "DISPLAY"}});
}
void ZEL_CREATOR_CALL CreateDrivers() {
  CreateMissingTables("CreateDrivers", {{"PERMDATA", "DRIVERS"}});
}
void ZEL_CREATOR_CALL CreateDropFile() {
  CreateMissingTables("CreateDropFile", {{"TEMPDATA", "DROPLOG"}});
}
void ZEL_CREATOR_CALL CreateDropType() {
  CreateMissingTables("CreateDropType", {{"TEMPDATA", "DROPTYPE"}});
}
void ZEL_CREATOR_CALL CreateEnd() {
  CreateMissingTables("CreateEnd", {{"TEMPDATA", "VOID"}});
}
void ZEL_CREATOR_CALL CreateGrade() {
  CreateMissingTables("CreateGrade", {{"CONFIGDATA", "GRADE"}});
}
void ZEL_CREATOR_CALL CreateGroups() {
  CreateMissingTables("CreateGroups", {{"PERMDATA", "STOGRP"}});
}
void ZEL_CREATOR_CALL CreateLinkFile() {
  CreateMissingTables("CreateLinkFile", {{"TEMPDATA", "LINK"}});
}
void ZEL_CREATOR_CALL CreateLogin() {
  CreateMissingTables("CreateLogin", {{"TEMPDATA", "LOGIN"}});
}
void ZEL_CREATOR_CALL CreatePayTemp() {
  CreateMissingTables("CreatePayTemp", {{"TEMPDATA", "PAYTEMP"}});
}
void ZEL_CREATOR_CALL CreatePayTempPerm() {
  CreateMissingTables("CreatePayTempPerm", {{"PERMDATA", "PAYTEMP"}});
}
void ZEL_CREATOR_CALL CreatePayType() {
  CreateMissingTables("CreatePayType", {{"CONFIGDATA", "PAYTYPE"}});
}
void ZEL_CREATOR_CALL CreatePayTypeTemp() {
  CreateMissingTables("CreatePayTypeTemp", {{"TEMPDATA", "PAYTYPE"}});
}
void ZEL_CREATOR_CALL CreatePumpConfig() {
  CreateMissingTables("CreatePumpConfig", {{"CONFIGDATA", "PUMPCONF"}});
}
void ZEL_CREATOR_CALL CreatePumpHist() {
  CreateMissingTables("CreatePumpHist", {{"HISTORY", "PUMPHIST"}});
}
void ZEL_CREATOR_CALL CreatePumpHistTemp() {
  CreateMissingTables("CreatePumpHistTemp", {{"TEMPDATA", "PUMPHIST"}});
}
void ZEL_CREATOR_CALL CreatePumpSale() {
  CreateMissingTables("CreatePumpSale", {{"TEMPDATA", "PUMPSALE"}});
}
void ZEL_CREATOR_CALL CreateReceipt() {
  CreateMissingTables("CreateReceipt", {{"TEMPDATA", "RECEIPT"}});
}
void ZEL_CREATOR_CALL CreateRefund() {
  CreateMissingTables("CreateRefund", {{"TEMPDATA", "REFUND"}});
}
void ZEL_CREATOR_CALL CreateRepRec() {
  CreateMissingTables("CreateRepRec", {{"TEMPDATA", "REPREC"}});
}
void ZEL_CREATOR_CALL CreateSaleMast() {
  CreateMissingTables("CreateSaleMast", {{"TEMPDATA", "SALEMAST"}});
}
void ZEL_CREATOR_CALL CreateSaleTemp() {
  CreateMissingTables("CreateSaleTemp", {{"TEMPDATA", "SALETEMP"}});
}
void ZEL_CREATOR_CALL CreateSaleVoid() {
  CreateMissingTables("CreateSaleVoid", {{"TEMPDATA", "SALEVOID"}});
}
void ZEL_CREATOR_CALL CreateShift() {
  CreateMissingTables("CreateShift", {{"CONFIGDATA", "SHIFTS"}});
}
void ZEL_CREATOR_CALL CreateSpecialSundry() {
  CreateMissingTables("CreateSpecialSundry", {{"TEMPDATA", "SPECSUN"}});
}
void ZEL_CREATOR_CALL CreateSpecialSundry1() {
  CreateMissingTables("CreateSpecialSundry1", {{"TEMPDATA", "SPECSUN1"}});
}
void ZEL_CREATOR_CALL CreateStock() {
  CreateMissingTables("CreateStock", {{"PERMDATA", "STOCK"}});
}
void ZEL_CREATOR_CALL CreateStockCom() {
  CreateMissingTables("CreateStockCom", {{"PERMDATA", "STOCKCOM"}});
}
void ZEL_CREATOR_CALL CreateStoTrans() {
  CreateMissingTables("CreateStoTrans", {{"PERMDATA", "STOTRANS"}});
}
void ZEL_CREATOR_CALL CreateStoVal() {
  CreateMissingTables("CreateStoVal", {{"TEMPDATA", "STOVAL"}});
}
void ZEL_CREATOR_CALL CreateSundryDetails() {
  CreateMissingTables("CreateSundryDetails", {{"TEMPDATA", "SUNDRY"}});
}
void ZEL_CREATOR_CALL CreateSundryHistory() {
  CreateMissingTables("CreateSundryHistory", {{"HISTORY", "SUNHIST"}});
}
void ZEL_CREATOR_CALL CreateSundryTempData() {
  CreateMissingTables("CreateSundryTempData", {{"TEMPDATA", "SUNTEMP"}});
}
void ZEL_CREATOR_CALL CreateTankConfig() {
  CreateMissingTables("CreateTankConfig", {{"CONFIGDATA", "TANKCONF"}});
}
void ZEL_CREATOR_CALL CreateTempAutoAtt() {
  CreateMissingTables("CreateTempAutoAtt", {{"TEMPDATA", "AUTOATT"}});
}
void ZEL_CREATOR_CALL CreateTotalisers() {
  CreateMissingTables("CreateTotalisers", {{"CONFIGDATA", "TOTALISE"}});
}
void ZEL_CREATOR_CALL CreateToteHist() {
  CreateMissingTables("CreateToteHist", {{"CONFIGDATA", "TOTEHIST"}});
}
void ZEL_CREATOR_CALL CreateToteLog() {
  CreateMissingTables("CreateToteLog", {{"TEMPDATA", "TOTELOG"}});
}
void ZEL_CREATOR_CALL CreateWarehouse() {
  CreateMissingTables("CreateWarehouse", {{"PERMDATA", "STOWH"}});
}
}
