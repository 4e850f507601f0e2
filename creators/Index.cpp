// The Index library: rebuilds one keyed table's .PX and named indexes from its records.
#include "creators/Index.h"

#include "creators/CreatorSupport.h"

using zel::creators::RebuildTableIndexes;

extern "C" {

void ZEL_CREATOR_CALL CreateAttendIndex() {
  RebuildTableIndexes("CreateAttendIndex", {"PERMDATA", "ATTEND"});
}
void ZEL_CREATOR_CALL CreateCreditorsIndex() {
  RebuildTableIndexes("CreateCreditorsIndex", {"PERMDATA", "CREDMAST"});
}
void ZEL_CREATOR_CALL CreateDebtMastIndex() {
  RebuildTableIndexes("CreateDebtMastIndex", {"PERMDATA", "DEBTMAST"});
}
void ZEL_CREATOR_CALL CreateDebtTransIndex() {
  RebuildTableIndexes("CreateDebtTransIndex", {"PERMDATA", "DEBTRANS"});
}
void ZEL_CREATOR_CALL CreateDebtVechIndex() {
  RebuildTableIndexes("CreateDebtVechIndex", {"PERMDATA", "DEBTVECH"});
}
void ZEL_CREATOR_CALL CreateDisplayIndex() {
  RebuildTableIndexes("CreateDisplayIndex", {"DISPDATA", "DISPLAY"});
}
void ZEL_CREATOR_CALL CreateGradeIndex() {
  RebuildTableIndexes("CreateGradeIndex", {"CONFIGDATA", "GRADE"});
}
void ZEL_CREATOR_CALL CreatePayTypeIndex() {
  RebuildTableIndexes("CreatePayTypeIndex", {"CONFIGDATA", "PAYTYPE"});
}
void ZEL_CREATOR_CALL CreatePumpConfigIndex() {
  RebuildTableIndexes("CreatePumpConfigIndex", {"CONFIGDATA", "PUMPCONF"});
}
void ZEL_CREATOR_CALL CreateStockIndex() {
  RebuildTableIndexes("CreateStockIndex", {"PERMDATA", "STOCK"});
}
void ZEL_CREATOR_CALL CreateStoGrpIndex() {
  RebuildTableIndexes("CreateStoGrpIndex", {"PERMDATA", "STOGRP"});
}
void ZEL_CREATOR_CALL CreateTankConfIndex() {
  RebuildTableIndexes("CreateTankConfIndex", {"CONFIGDATA", "TANKCONF"});
}
void ZEL_CREATOR_CALL CreateTotaliseIndex() {
  RebuildTableIndexes("CreateTotaliseIndex", {"CONFIGDATA", "TOTALISE"});
}
}
