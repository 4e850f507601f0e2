#pragma once
// The Index creator library: rebuilds a ZelPos table's primary and named indexes from
// its records. Each entry point takes nothing, returns
// nothing and never lets a failure escape; a failure is reported on stderr.
#include "creators/CreatorExport.h"

// Every entry point of the library, for binding and for tests: X(name).
#define ZEL_INDEX_ENTRY_POINTS(X) \
  X(CreateAttendIndex)            \
  X(CreateCreditorsIndex)         \
  X(CreateDebtMastIndex)          \
  X(CreateDebtTransIndex)         \
  X(CreateDebtVechIndex)          \
  X(CreateDisplayIndex)           \
  X(CreateGradeIndex)             \
  X(CreatePayTypeIndex)           \
  X(CreatePumpConfigIndex)        \
  X(CreateStockIndex)             \
  X(CreateStoGrpIndex)            \
  X(CreateTankConfIndex)          \
  X(CreateTotaliseIndex)

extern "C" {
#define ZEL_DECLARE_INDEX_ENTRY(name) ZEL_CREATOR_API void ZEL_CREATOR_CALL name();
ZEL_INDEX_ENTRY_POINTS(ZEL_DECLARE_INDEX_ENTRY)
#undef ZEL_DECLARE_INDEX_ENTRY
}
