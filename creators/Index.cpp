// The Index library: rebuilds one keyed table's .PX and named indexes from its records.
#include "creators/Index.h"

#include "creators/CreatorSupport.h"

using zel::creators::RebuildTableIndexes;

extern "C" {

void CreateAttendIndex() {
  RebuildTableIndexes("CreateAttendIndex", {"PERMDATA", "ATTEND"});
}
void CreateCreditorsIndex() {
  RebuildTableIndexes("CreateCreditorsIndex", {"PERMDATA", "CREDMAST"});
}
void CreateDebtMastIndex() {
  RebuildTableIndexes("CreateDebtMastIndex", {"PERMDATA", "DEBTMAST"});
}
void CreateDebtTransIndex() {
  RebuildTableIndexes("CreateDebtTransIndex", {"PERMDATA", "DEBTRANS"});
}
void CreateDebtVechIndex() {
  RebuildTableIndexes("CreateDebtVechIndex", {"PERMDATA", "DEBTVECH"});
}
void CreateDisplayIndex() {
  RebuildTableIndexes("CreateDisplayIndex", {"DISPDATA", "DISPLAY"});
}
void CreateGradeIndex() {
  RebuildTableIndexes("CreateGradeIndex", {"CONFIGDATA", "GRADE"});
}
void CreatePayTypeIndex() {
  RebuildTableIndexes("CreatePayTypeIndex", {"CONFIGDATA", "PAYTYPE"});
}
void CreatePumpConfigIndex() {
  RebuildTableIndexes("CreatePumpConfigIndex", {"CONFIGDATA", "PUMPCONF"});
}
void CreateStockIndex() {
  RebuildTableIndexes("CreateStockIndex", {"PERMDATA", "STOCK"});
}
void CreateStoGrpIndex() {
  RebuildTableIndexes("CreateStoGrpIndex", {"PERMDATA", "STOGRP"});
}
void CreateTankConfIndex() {
  RebuildTableIndexes("CreateTankConfIndex", {"CONFIGDATA", "TANKCONF"});
}
void CreateTotaliseIndex() {
  RebuildTableIndexes("CreateTotaliseIndex", {"CONFIGDATA", "TOTALISE"});
}
}
