#include "tools/demostation/StationData.h"

#include <array>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <memory>
#include <string>

namespace zel::demostation {
namespace {

using engine::FieldType;
using engine::FieldValue;
using engine::Record;

constexpr std::array<std::string_view, 5> kGrades = {"Unleaded 93", "Unleaded 95", "Diesel 50ppm",
                                                     "Diesel 500ppm", "Paraffin"};
constexpr std::array<double, 5> kGradePrices = {22.56, 23.05, 21.43, 21.19, 15.87};
constexpr std::array<std::string_view, 7> kPayTypes = {
    "Cash", "Speedpoint", "Debtor Account", "Fleet Card", "Voucher", "COD", "Drive Off"};
constexpr std::array<std::string_view, 12> kAttendants = {
    "Thabo Mokoena",  "Sipho Dlamini", "Anna van Wyk",    "Johan Botha",
    "Lerato Khumalo", "Pieter Nel",    "Nomsa Zulu",      "David Smith",
    "Zanele Mthembu", "Riaan du Toit", "Precious Ndlovu", "Marco Ferreira"};
constexpr std::array<std::string_view, 16> kDebtors = {
    "Karoo Transport",         "Van der Merwe Boerdery", "Bosveld Logistics",
    "Municipality of Wesdorp", "Rooibos Farming Co",     "Pretorius Bouers",
    "Sunrise Taxis",           "Klein Karoo Koop",       "Makhado Couriers",
    "Delta Security",          "Hlanganani Bus Service", "Oranje Vervoer",
    "Highveld Plumbing",       "Greenfields School",     "Mountain View Lodge",
    "Sondela Construction"};
constexpr std::array<std::string_view, 20> kStock = {"Coca-Cola 440ml",
                                                     "Fanta Orange 440ml",
                                                     "Still Water 500ml",
                                                     "Energy Drink 250ml",
                                                     "Motor Oil 15W40 1L",
                                                     "Motor Oil 5W30 5L",
                                                     "Coolant 2L",
                                                     "Brake Fluid 500ml",
                                                     "Wiper Blade 18in",
                                                     "Windscreen Wash 1L",
                                                     "Airtime R30",
                                                     "Airtime R12",
                                                     "Bread White 700g",
                                                     "Milk 1L",
                                                     "Chips Salted 125g",
                                                     "Chocolate Bar 80g",
                                                     "Ice 2kg",
                                                     "Firelighters",
                                                     "Charcoal 4kg",
                                                     "LP Gas 9kg Exchange"};
constexpr std::array<std::string_view, 8> kGroups = {
    "Cold Drinks", "Lubricants", "Car Care", "Airtime", "Bakery", "Snacks", "Braai", "Gas"};
constexpr std::array<std::string_view, 6> kReasons = {
    "Customer changed mind", "Wrong grade",    "Pump test",
    "Price query",           "Duplicate sale", "Supervisor override"};

constexpr int kPumps = 8;
constexpr int kHoses = 2;

// Paradox dates count days from 1 Jan 0001 as day 1.
std::int64_t ParadoxDate(std::chrono::year_month_day ymd) {
  using namespace std::chrono;
  return (sys_days(ymd) - sys_days(year(1) / January / 1)).count() + 1;
}

const std::int64_t kStartDate = ParadoxDate(std::chrono::year(2024) / 3 / 1);

std::string Fit(std::string text, int size) {
  if (static_cast<int>(text.size()) > size) text.resize(static_cast<std::size_t>(size));
  return text;
}

std::string Format(const char* pattern, long long value) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, pattern, value);
  return buffer;
}

double Cents(double value) {
  return std::round(value * 100.0) / 100.0;
}

bool Is(std::string_view table, std::string_view name) {
  return table == name;
}

// Shifts run eight hours; 60 records a shift for generated tables.
struct Clock {
  std::int64_t day;
  std::int64_t ms;
};
Clock At(std::size_t i) {
  const std::int64_t minutes = static_cast<std::int64_t>(i) * 8;  // one sale every 8 minutes
  return {kStartDate + minutes / (24 * 60), (6 * 60 + minutes % (24 * 60)) % (24 * 60) * 60000};
}

// A value for a field of a generated record, chosen by the field's name and type.
FieldValue Generated(const creators::TableSchema& schema, const engine::FieldDef& field,
                     std::size_t i) {
  const std::string& n = field.name;
  const auto k = static_cast<long long>(i);
  const Clock clock = At(i);
  const int pump = static_cast<int>(i % kPumps) + 1;
  const int hose = static_cast<int>((i / kPumps) % kHoses) + 1;
  const int grade = static_cast<int>((i + i / kPumps) % kGrades.size()) + 1;
  const double volume = 5.0 + static_cast<double>((i * 37) % 600) / 10.0;
  switch (field.type) {
    case FieldType::Short:
      if (n == "PumpNum") return std::int64_t{pump};
      if (n == "HoseNum") return std::int64_t{hose};
      if (n == "GradeNum") return std::int64_t{grade};
      if (n == "AttNum") return static_cast<std::int64_t>(i % kAttendants.size()) + 1;
      if (n == "PayNum") return static_cast<std::int64_t>(i % kPayTypes.size()) + 1;
      if (n == "DropType") return static_cast<std::int64_t>(i % 3) + 1;
      if (n == "LineNum" || n == "Items") return static_cast<std::int64_t>(i % 5) + 1;
      if (n == "PeriodNu") return std::int64_t{3};
      return static_cast<std::int64_t>(i % 100) + 1;
    case FieldType::LongInt:
    case FieldType::AutoInc:
      if (n == "ShiftNum") return std::int64_t{4000} + k / 60;
      if (n == "Sales" || n == "PayCount") return std::int64_t{1} + k % 50;
      if (n == "LinkNum") return std::int64_t{200001} + k;
      return std::int64_t{100001} + k;  // sale, transaction, receipt and line numbers
    case FieldType::Number:
      if (n == "Volume") return volume;
      if (n == "Qty" || n == "OpenQty" || n == "CloseQty") return static_cast<double>(i % 6 + 1);
      if (n.starts_with("Vol") || n.ends_with("Vol"))
        return 1000000.0 + volume * static_cast<double>(i);
      if (n.starts_with("Amt") || n.ends_with("Amt"))
        return 2000000.0 + volume * 22.5 * static_cast<double>(i);
      return static_cast<double>((i * 13) % 1000) / 10.0;
    case FieldType::Money:
      if (n == "Price") return kGradePrices[static_cast<std::size_t>(grade - 1)];
      if (n == "Amount" || n == "Total" || n == "Value")
        return Cents(volume * kGradePrices[static_cast<std::size_t>(grade - 1)]);
      if (n == "Tax") return Cents(volume * 2.9);
      if (n == "Change") return Cents(static_cast<double>(i % 20) * 0.5);
      return Cents(static_cast<double>((i * 7919) % 150000) / 100.0);
    case FieldType::Date:
      return clock.day;
    case FieldType::Time:
      if (n == "OutTime" || n == "EndTime") return (clock.ms + 8 * 3600000) % 86400000;
      return clock.ms;
    case FieldType::Timestamp:
      return static_cast<double>(clock.day) * 86400000.0 + static_cast<double>(clock.ms);
    case FieldType::Logical:
      return std::int64_t{i % 9 != 0};
    case FieldType::Alpha:
      break;
    default:  // the station's tables have no BCD, Bytes or BLOB fields
      return {};
  }
  std::string text;
  if (n == "TillNum")
    text = "FC  " + std::to_string(i % 2 + 1) + " - A";
  else if (n == "StockCode")
    text = Format("ST%04lld", 1 + k % static_cast<long long>(kStock.size()));
  else if (n == "ComboCode")
    text = Format("CMB%03lld", 1 + k % 6);
  else if (n == "DebNum" || n == "CODNum")
    text = Format("D%04lld", 1 + k % static_cast<long long>(kDebtors.size()));
  else if (n == "DebName" || n == "CODName")
    text = std::string(kDebtors[i % kDebtors.size()]);
  else if (n == "VNum")
    text = Format("CA %05lld", 10000 + (k * 7) % 90000);
  else if (n == "VName")
    text = (i % 2 ? "Toyota Hilux " : "Isuzu NPR ") + std::to_string(i % 9 + 1);
  else if (n == "TagNum")
    text = Format("TAG%08lld", 40000000 + k);
  else if (n == "PDesc")
    text = std::string(kPayTypes[i % kPayTypes.size()]);
  else if (n == "DDesc")
    text = std::string(std::array<std::string_view, 3>{"Cash Drop", "Cheque Drop", "Float"}[i % 3]);
  else if (n == "Reason")
    text = std::string(kReasons[i % kReasons.size()]);
  else if (n == "TranType" || n == "LinkType")
    text = (i % 4 == 0) ? "P" : "S";
  else if (n == "Ref" || n == "RefNum" || n == "OrderNum")
    text = Format("INV%06lld", 100001 + k);
  else if (n == "OTKNum")
    text = Format("OTK%07lld", 5000000 + k);
  else if (n == "Text")
    text = Format("Sale %lld  ", 100001 + k / 5) + std::string(kStock[i % kStock.size()]);
  else if (n == "Status")
    text = (i % 3 == 0) ? "B" : "I";
  else if (n == "Contact" || n == "DrvName")
    text = std::string(kAttendants[(i + 5) % kAttendants.size()]);
  else if (n == "PinNum" || n == "Password")
    text = Format("%04lld", (k * 7919 + 1234) % 10000);
  else if (n == "Email")
    text = Format("accounts%lld@example.co.za", k + 1);
  else if (n == "Phone" || n == "Fax")
    text = Format("021 555 %04lld", (k * 37) % 10000);
  else if (n == "Grades")
    text = "93,95,D50";
  else
    text = n + " " + std::to_string(i + 1);
  (void)schema;
  return Fit(std::move(text), field.size);
}

Record GeneratedRecord(const creators::TableSchema& schema, std::size_t i) {
  Record record;
  record.reserve(schema.def.fields.size());
  for (const auto& field : schema.def.fields) record.push_back(Generated(schema, field, i));
  return record;
}

// Master data: real rows of a station of this size, keyed uniquely.
std::vector<Record> Curated(const creators::TableSchema& s) {
  std::vector<Record> rows;
  const std::string_view t = s.table;
  const std::string_view f = s.folder;
  using I = std::int64_t;
  if (Is(t, "DUMMYDISP")) {
    rows.push_back({I{1}, std::string("D")});
  } else if (f == "DISPDATA" && Is(t, "DISPLAY")) {
    for (int p = 1; p <= kPumps; ++p)
      for (int h = 1; h <= kHoses; ++h) {
        const int grade = (p + h) % 5 + 1;
        const double volume = (p * 3 + h) % 7 == 0 ? 0.0 : 10.0 + p * 2.5 + h;
        rows.push_back({I{p}, I{h}, I{grade}, std::string(volume > 0 ? "B" : "I"), volume,
                        Cents(volume * kGradePrices[static_cast<std::size_t>(grade - 1)]),
                        kGradePrices[static_cast<std::size_t>(grade - 1)], I{p % 12 + 1},
                        static_cast<double>(kStartDate) * 86400000.0 + 36000000.0});
      }
  } else if (Is(t, "GRADE")) {
    for (std::size_t g = 0; g < kGrades.size(); ++g)
      rows.push_back({static_cast<I>(g + 1), std::string(kGrades[g]), kGradePrices[g],
                      Cents(kGradePrices[g] * 0.93), static_cast<I>(g + 1),
                      std::string(std::array<std::string_view, 5>{"Red", "Blue", "Yellow", "Black",
                                                                  "Green"}[g]),
                      I{1}});
  } else if (f == "CONFIGDATA" && Is(t, "PAYTYPE")) {
    for (std::size_t p = 0; p < kPayTypes.size(); ++p)
      rows.push_back({static_cast<I>(p + 1), std::string(kPayTypes[p]),
                      std::string(p == 0               ? "C"
                                  : (p == 2 || p == 5) ? "A"
                                                       : "O"),
                      I{p == 0}, I{p < 2}, I{p != 6}});
  } else if (Is(t, "PUMPCONF")) {
    for (int p = 1; p <= kPumps; ++p)
      for (int h = 1; h <= kHoses; ++h) {
        const int grade = (p + h) % 5 + 1;
        rows.push_back(
            {I{p}, I{h}, I{grade}, I{grade}, I{p * 10 + h}, std::string("GILBARCO"), I{1}});
      }
  } else if (Is(t, "TANKCONF")) {
    for (std::size_t g = 0; g < kGrades.size(); ++g)
      rows.push_back(
          {static_cast<I>(g + 1), static_cast<I>(g + 1), g < 3 ? 23000.0 : 9000.0,
           g < 3 ? 4000.0 : 1500.0, static_cast<I>(g + 1),
           "Tank " + std::to_string(g + 1) + " " + std::string(kGrades[g]).substr(0, 10)});
  } else if (Is(t, "TOTALISE")) {
    for (int p = 1; p <= kPumps; ++p)
      for (int h = 1; h <= kHoses; ++h)
        rows.push_back({I{p}, I{h}, 1250000.0 + p * 1000 + h * 17.5,
                        27400000.0 + p * 2200 + h * 385.0, I{4123}, kStartDate + 40});
  } else if (Is(t, "ATTEND")) {
    for (std::size_t a = 0; a < kAttendants.size(); ++a)
      rows.push_back({static_cast<I>(a + 1), std::string(kAttendants[a]),
                      Format("TAG%08lld", 31000000 + static_cast<long long>(a) * 7),
                      Format("%04lld", (static_cast<long long>(a) * 7919 + 1234) % 10000),
                      static_cast<I>(a < 2 ? 9 : 1), I{a != 11}});
  } else if (Is(t, "CREDMAST")) {
    constexpr std::array<std::string_view, 6> creditors = {
        "PetroSA Fuel Supply", "Coca-Cola Beverages", "Sasko Bakeries",
        "Castrol Lubricants",  "Vodacom Airtime",     "Easigas"};
    for (std::size_t c = 0; c < creditors.size(); ++c)
      rows.push_back({Format("C%04lld", static_cast<long long>(c) + 1), std::string(creditors[c]),
                      "PO Box " + std::to_string(100 + c * 37),
                      Format("011 555 %04lld", 1000 + static_cast<long long>(c)),
                      Cents(12500.0 * static_cast<double>(c + 1))});
  } else if (Is(t, "DEBTMAST")) {
    for (std::size_t d = 0; d < kDebtors.size(); ++d)
      rows.push_back({Format("D%04lld", static_cast<long long>(d) + 1), std::string(kDebtors[d]),
                      std::to_string(d * 3 + 1) + " Main Road", "Wesdorp",
                      Format("023 555 %04lld", 2000 + static_cast<long long>(d)),
                      Cents(5000.0 * static_cast<double>(d % 5 + 1)),
                      Cents(731.5 * static_cast<double>(d)), I{d == 6}});
  } else if (Is(t, "DEBTVECH")) {
    for (std::size_t d = 0; d < kDebtors.size(); ++d)
      for (int v = 0; v < 3; ++v)
        rows.push_back({Format("D%04lld", static_cast<long long>(d) + 1),
                        Format("CA %05lld", 10000 + static_cast<long long>(d) * 31 + v * 7),
                        std::string(v == 0   ? "Toyota Hilux"
                                    : v == 1 ? "Isuzu NPR"
                                             : "Nissan NP200") +
                            " " + std::to_string(d + 1),
                        std::string(v == 1 ? "D50" : "93,95"), Cents(2000.0 + v * 500.0)});
  } else if (Is(t, "STOCK")) {
    for (std::size_t i = 0; i < kStock.size(); ++i)
      rows.push_back({Format("ST%04lld", static_cast<long long>(i) + 1), std::string(kStock[i]),
                      static_cast<I>(i / 3 % kGroups.size() + 1),
                      Cents(9.99 + static_cast<double>(i) * 6.5),
                      Cents((9.99 + static_cast<double>(i) * 6.5) * 0.72),
                      static_cast<double>(12 + i * 5 % 40), 6.0,
                      Format("600%09lld", 100000 + static_cast<long long>(i) * 977)});
  } else if (Is(t, "STOGRP")) {
    for (std::size_t g = 0; g < kGroups.size(); ++g)
      rows.push_back({static_cast<I>(g + 1), std::string(kGroups[g]), g == 3 ? 0.0 : 15.0});
  } else if (Is(t, "COMPANY")) {
    rows.push_back({std::string("Wesdorp Motors Fuel Centre"), std::string("4120187654"),
                    std::string("12 Voortrekker Street"), std::string("Wesdorp 6850"),
                    std::string("023 555 0100"), I{3}, I{4123}});
  } else if (Is(t, "DROPTYPE")) {
    rows.push_back({I{1}, std::string("Cash Drop")});
    rows.push_back({I{2}, std::string("Cheque Drop")});
    rows.push_back({I{3}, std::string("Float")});
  }
  return rows;
}

bool IsBig(const creators::TableSchema& s) {
  const std::string_view t = s.table;
  return (s.folder == "HISTORY") ||
         (s.folder == "PERMDATA" && (t == "DEBTRANS" || t == "DEBTRANH" || t == "STOTRANS"));
}

}  // namespace

std::size_t RecordCount(const creators::TableSchema& schema, std::size_t scale) {
  if (!Curated(schema).empty()) return Curated(schema).size();
  if (IsBig(schema)) return scale;
  const std::string_view t = schema.table;
  if (t == "TOTEHIST") return scale / 10 + 16;
  if (t == "AUTOATT") return kPumps;
  if (t == "DEBTAGE" || t == "DEBTDET" || t == "COD" || t == "CODMAST" || t == "DEBTEMP" ||
      t == "DEBTREP")
    return kDebtors.size();
  if (schema.folder == "TEMPDATA") return 60;  // one busy shift so far
  return 40;
}

engine::RecordSource Records(const creators::TableSchema& schema, std::size_t count) {
  auto curated = std::make_shared<std::vector<Record>>(Curated(schema));
  auto next = std::make_shared<std::size_t>(0);
  const creators::TableSchema* s = &schema;
  return [curated, next, s, count]() -> std::optional<Record> {
    if (*next >= count) return std::nullopt;
    const std::size_t i = (*next)++;
    if (i >= curated->size()) return GeneratedRecord(*s, i);
    Record record = (*curated)[i];
    for (std::size_t f = 0; f < record.size() && f < s->def.fields.size(); ++f)
      if (auto* text = std::get_if<std::string>(&record[f]))
        *text = Fit(std::move(*text), s->def.fields[f].size);
    return record;
  };
}

}  // namespace zel::demostation
