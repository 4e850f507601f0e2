// ZelPos table layouts. Tables that the Index library serves are keyed and carry their named
// indexes; the others are heaps in entry order. Named indexes are always stored as .XGn/.YGn so
// that a table's whole file set is .DB, .PX, .XGn and .YGn.
#include "creators/Schemas.h"

#include <string>
#include <utility>

#include "platform/DriveMapping.h"

namespace zel::creators {
namespace {

using engine::FieldDef;
using engine::FieldType;
using engine::SecondaryIndexDef;
using engine::TableDef;

FieldDef A(std::string name, int size) {
  return {std::move(name), FieldType::Alpha, size};
}
FieldDef S(std::string name) {
  return {std::move(name), FieldType::Short, 0};
}
FieldDef I(std::string name) {
  return {std::move(name), FieldType::LongInt, 0};
}
FieldDef N(std::string name) {
  return {std::move(name), FieldType::Number, 0};
}
FieldDef M(std::string name) {
  return {std::move(name), FieldType::Money, 0};
}
FieldDef D(std::string name) {
  return {std::move(name), FieldType::Date, 0};
}
FieldDef T(std::string name) {
  return {std::move(name), FieldType::Time, 0};
}
FieldDef TS(std::string name) {
  return {std::move(name), FieldType::Timestamp, 0};
}
FieldDef L(std::string name) {
  return {std::move(name), FieldType::Logical, 0};
}

SecondaryIndexDef Named(std::string name, std::vector<std::string> fields) {
  SecondaryIndexDef index;
  index.name = std::move(name);
  index.fields = std::move(fields);
  index.forceNamed = true;
  return index;
}

TableDef Heap(std::vector<FieldDef> fields) {
  TableDef def;
  def.fields = std::move(fields);
  return def;
}

TableDef Keyed(int keyFields, std::vector<FieldDef> fields,
               std::vector<SecondaryIndexDef> indexes = {}) {
  TableDef def;
  def.fields = std::move(fields);
  def.keyFieldCount = keyFields;
  def.indexes = std::move(indexes);
  return def;
}

std::vector<TableSchema> BuildSchemas() {
  return {
      // Pump display: what each hose shows, written by the forecourt controller.
      {"DISPDATA", "DUMMYDISP", Heap({S("DispNum"), A("Status", 1)})},
      {"DISPDATA", "DISPLAY",
       Keyed(2, {S("PumpNum"), S("HoseNum"), S("GradeNum"), A("Status", 1), N("Volume"),
                 M("Amount"), M("Price"), S("AttNum"), TS("SaleTime")})},

      {"CONFIGDATA", "GRADE",
       Keyed(1,
             {S("GradeNum"), A("GName", 20), M("Price"), M("CostPrice"), S("TankNum"),
              A("Colour", 10), L("Active")},
             {Named("GName", {"GName"})})},
      {"CONFIGDATA", "PAYTYPE",
       Keyed(
           1,
           {S("PayNum"), A("PDesc", 20), A("PType", 1), L("OpenDrawer"), L("Banked"), L("Active")},
           {Named("PDesc", {"PDesc"})})},
      {"CONFIGDATA", "PUMPCONF",
       Keyed(2, {S("PumpNum"), S("HoseNum"), S("GradeNum"), S("TankNum"), S("Address"),
                 A("Protocol", 10), L("Active")})},
      {"CONFIGDATA", "SHIFTS",
       Heap({I("ShiftNum"), D("ShiftDate"), T("StartTime"), T("EndTime"), A("TillNum", 10),
             S("AttNum"), L("Closed")})},
      {"CONFIGDATA", "TANKCONF",
       Keyed(1, {S("TankNum"), S("GradeNum"), N("Capacity"), N("ReorderLvl"), S("ProbeAddr"),
                 A("Desc", 20)})},
      {"CONFIGDATA", "TOTALISE",
       Keyed(2,
             {S("PumpNum"), S("HoseNum"), N("VolTot"), N("AmtTot"), I("ShiftNum"), D("ReadDate")})},
      {"CONFIGDATA", "TOTEHIST",
       Heap({I("ShiftNum"), S("PumpNum"), S("HoseNum"), N("OpenVol"), N("CloseVol"), N("OpenAmt"),
             N("CloseAmt"), D("ReadDate")})},

      {"HISTORY", "PUMPHIST",
       Heap({I("ShiftNum"), D("SaleDate"), S("PumpNum"), S("HoseNum"), S("GradeNum"), N("Volume"),
             M("Amount"), I("Sales")})},
      {"HISTORY", "SUNHIST",
       Heap({I("ShiftNum"), D("SaleDate"), A("StockCode", 15), N("Qty"), M("Amount"), M("Cost")})},

      // Current shift: every table is a heap the POS appends to and empties at shift end.
      {"TEMPDATA", "ATTLOG",
       Heap({S("AttNum"), D("LogDate"), T("InTime"), T("OutTime"), A("TillNum", 10)})},
      {"TEMPDATA", "AUTOATT", Heap({S("PumpNum"), S("AttNum"), A("TagNum", 16)})},
      {"TEMPDATA", "AUTOSALE",
       Heap({I("SaleNum"), S("PumpNum"), S("HoseNum"), S("GradeNum"), N("Volume"), M("Amount"),
             TS("SaleTime")})},
      {"TEMPDATA", "CASHPAY",
       Heap({I("PayNum"), S("AttNum"), TS("PayTime"), M("Amount"), A("Reason", 40)})},
      {"TEMPDATA", "COMBSALE", Heap({I("SaleNum"), A("ComboCode", 15), N("Qty"), M("Amount")})},
      {"TEMPDATA", "DEBTRANS",
       Heap({I("SaleNum"), A("DebNum", 10), A("VNum", 10), M("Amount"), N("Volume"),
             A("OrderNum", 15), TS("SaleTime")})},
      {"TEMPDATA", "DEBTREP", Heap({A("DebNum", 10), A("DebName", 40), M("Amount"), N("Volume")})},
      {"TEMPDATA", "DROPLOG",
       Heap({I("DropNum"), S("AttNum"), TS("DropTime"), M("Amount"), S("DropType")})},
      {"TEMPDATA", "DROPTYPE", Heap({S("DropType"), A("DDesc", 20)})},
      {"TEMPDATA", "LINK", Heap({I("SaleNum"), I("LinkNum"), A("LinkType", 1)})},
      {"TEMPDATA", "LOGIN", Heap({S("AttNum"), A("TillNum", 10), TS("LogTime")})},
      {"TEMPDATA", "PAYTYPE", Heap({S("PayNum"), A("PDesc", 20), M("Amount"), I("PayCount")})},
      {"TEMPDATA", "PAYTEMP",
       Heap({I("SaleNum"), S("PayNum"), M("Amount"), M("Change"), A("RefNum", 20)})},
      {"TEMPDATA", "PUMPHIST",
       Heap({S("PumpNum"), S("HoseNum"), S("GradeNum"), N("Volume"), M("Amount"), I("Sales")})},
      {"TEMPDATA", "PUMPSALE",
       Heap({I("SaleNum"), S("PumpNum"), S("HoseNum"), S("GradeNum"), N("Volume"), M("Price"),
             M("Amount"), S("AttNum"), TS("SaleTime"), L("Paid")})},
      {"TEMPDATA", "RECEIPT", Heap({I("RecNum"), I("SaleNum"), S("LineNum"), A("Text", 40)})},
      {"TEMPDATA", "REFUND",
       Heap({I("RefNum"), I("SaleNum"), M("Amount"), A("Reason", 40), S("AttNum"), TS("RefTime")})},
      {"TEMPDATA", "REPREC", Heap({I("LineNum"), A("Text", 60)})},
      {"TEMPDATA", "SALEMAST",
       Heap({I("SaleNum"), A("TillNum", 10), S("AttNum"), TS("SaleTime"), M("Total"), M("Tax"),
             S("Items"), L("Voided")})},
      {"TEMPDATA", "SALETEMP",
       Heap({I("SaleNum"), S("LineNum"), A("StockCode", 15), N("Qty"), M("Price"), M("Amount")})},
      {"TEMPDATA", "SALEVOID",
       Heap({I("SaleNum"), S("AttNum"), TS("VoidTime"), M("Amount"), A("Reason", 40)})},
      {"TEMPDATA", "SPECSUN", Heap({A("StockCode", 15), N("Qty"), M("Amount")})},
      {"TEMPDATA", "SPECSUN1", Heap({A("StockCode", 15), N("Qty"), M("Amount")})},
      {"TEMPDATA", "STOVAL", Heap({A("StockCode", 15), N("OpenQty"), N("CloseQty"), M("Value")})},
      {"TEMPDATA", "SUNDRY",
       Heap({I("SaleNum"), A("StockCode", 15), N("Qty"), M("Price"), M("Amount"), TS("SaleTime")})},
      {"TEMPDATA", "SUNTEMP", Heap({A("StockCode", 15), N("Qty"), M("Amount")})},
      {"TEMPDATA", "TOTELOG",
       Heap({S("PumpNum"), S("HoseNum"), N("VolTot"), N("AmtTot"), TS("ReadTime")})},
      {"TEMPDATA", "VOID",
       Heap({I("SaleNum"), S("LineNum"), A("StockCode", 15), N("Qty"), M("Amount"), S("AttNum"),
             TS("VoidTime")})},

      {"PERMDATA", "ATTEND",
       Keyed(1,
             {S("AttNum"), A("AttName", 30), A("TagNum", 16), A("Password", 10), S("Level"),
              L("Active")},
             {Named("AttName", {"AttName"}), Named("TagNum", {"TagNum"})})},
      {"PERMDATA", "ATTLOG",
       Heap({S("AttNum"), D("LogDate"), T("InTime"), T("OutTime"), I("ShiftNum")})},
      {"PERMDATA", "COD", Heap({A("CODNum", 10), A("CODName", 40), M("Balance"), M("Limit")})},
      {"PERMDATA", "CODMAST",
       Heap({A("CODNum", 10), A("CODName", 40), A("Addr1", 40), A("Addr2", 40), A("Phone", 20),
             L("Active")})},
      {"PERMDATA", "CODVECH", Heap({A("CODNum", 10), A("VNum", 10), A("VName", 30)})},
      {"PERMDATA", "COMPANY",
       Heap({A("CoName", 40), A("VatNum", 20), A("Addr1", 40), A("Addr2", 40), A("Phone", 20),
             S("PeriodNu"), I("ShiftNum")})},
      {"PERMDATA", "CREDMAST",
       Keyed(1,
             {A("CredNum", 10), A("CredName", 40), A("Addr1", 40), A("Phone", 20), M("Balance")})},
      {"PERMDATA", "DEBMAOTK", Heap({A("DebNum", 10), A("OTKNum", 20), M("Amount"), D("OTKDate")})},
      {"PERMDATA", "DEBTAGE",
       Heap({A("DebNum", 10), M("Current"), M("Days30"), M("Days60"), M("Days90"), M("Days120")})},
      {"PERMDATA", "DEBTDET",
       Heap({A("DebNum", 10), A("Contact", 30), A("Email", 40), A("Fax", 20), S("Terms")})},
      {"PERMDATA", "DEBTEMP", Heap({A("DebNum", 10), A("DebName", 40), M("Amount"), N("Volume")})},
      {"PERMDATA", "DEBTMAST",
       Keyed(1,
             {A("DebNum", 10), A("DebName", 40), A("Addr1", 40), A("Addr2", 40), A("Phone", 20),
              M("Limit"), M("Balance"), L("OnStop")},
             {Named("ByDebName", {"DebName"})})},
      {"PERMDATA", "DEBTRANH",
       Heap({I("TranNum"), A("DebNum", 10), D("TranDate"), A("TranType", 1), M("Amount"),
             A("Ref", 20)})},
      {"PERMDATA", "DEBTRANS",
       Keyed(1, {I("TranNum"), A("DebNum", 10), A("VNum", 10), D("TranDate"), A("TranType", 1),
                 M("Amount"), N("Volume"), A("Ref", 20), I("ShiftNum")})},
      {"PERMDATA", "DEBTVECH",
       Keyed(2, {A("DebNum", 10), A("VNum", 10), A("VName", 30), A("Grades", 10), M("Limit")},
             {Named("ByVNum", {"VNum"}), Named("ByVName", {"VName"})})},
      {"PERMDATA", "DRIVERS",
       Heap({S("DrvNum"), A("DrvName", 30), A("DebNum", 10), A("PinNum", 10)})},
      {"PERMDATA", "OTKREK", Heap({A("OTKNum", 20), A("DebNum", 10), M("Amount"), L("Used")})},
      {"PERMDATA", "PAYTEMP", Heap({I("SaleNum"), S("PayNum"), M("Amount"), A("RefNum", 20)})},
      {"PERMDATA", "STOCK",
       Keyed(1,
             {A("StockCode", 15), A("Desc", 30), S("GrpNum"), M("Price"), M("Cost"), N("Qty"),
              N("ReorderQty"), A("Barcode", 20)},
             {Named("Desc", {"Desc"})})},
      {"PERMDATA", "STOCKCOM", Heap({A("ComboCode", 15), A("StockCode", 15), N("Qty")})},
      {"PERMDATA", "STOGRP", Keyed(1, {S("GrpNum"), A("GrpName", 30), N("TaxRate")})},
      {"PERMDATA", "STOTRANS",
       Heap({I("TranNum"), A("StockCode", 15), D("TranDate"), A("TranType", 1), N("Qty"),
             M("Cost")})},
      {"PERMDATA", "STOWH", Heap({S("WHNum"), A("StockCode", 15), N("Qty")})},
  };
}

}  // namespace

const std::vector<TableSchema>& Schemas() {
  static const std::vector<TableSchema> schemas = BuildSchemas();
  return schemas;
}

const TableSchema* FindSchema(std::string_view folder, std::string_view table) {
  for (const auto& schema : Schemas())
    if (schema.table == table && platform::SameNameIgnoringCase(schema.folder, folder))
      return &schema;
  return nullptr;
}

}  // namespace zel::creators
