#pragma once
// The Files creator library: builds a new empty ZelPos table, with all its index files,
// in its data folder when the table is absent. Each entry point takes nothing, returns
// nothing and never lets a failure escape; a failure is reported on stderr.
#include "creators/CreatorExport.h"

// Every entry point of the library, for binding and for tests: X(name).
#define ZEL_FILES_ENTRY_POINTS(X) \
  X(CreateAttendant)              \
  X(CreateAttLogPerm)             \
  X(CreateAttLogTemp)             \
  X(CreateAutoSale)               \
  X(CreateCashPay)                \
  X(CreateCOD)                    \
  X(CreateCODMast)                \
  X(CreateCODVehicle)             \
  X(CreateComboSales)             \
  X(CreateCompany)                \
  X(CreateCreditors1)             \
  X(CreateDebtAge)                \
  X(CreateDebtDet)                \
  X(CreateDebTemp)                \
  X(CreateDebtors1)               \
  X(CreateDebtors2)               \
  X(CreateDebtors3)               \
  X(CreateDebtors3H)              \
  X(CreateDebtorsOTK)             \
  X(CreateDebTransTemp)           \
  X(CreateDispData)               \
  X(CreateDrivers)                \
  X(CreateDropFile)               \
  X(CreateDropType)               \
  X(CreateEnd)                    \
  X(CreateGrade)                  \
  X(CreateGroups)                 \
  X(CreateLinkFile)               \
  X(CreateLogin)                  \
  X(CreatePayTemp)                \
  X(CreatePayTempPerm)            \
  X(CreatePayType)                \
  X(CreatePayTypeTemp)            \
  X(CreatePumpConfig)             \
  X(CreatePumpHist)               \
  X(CreatePumpHistTemp)           \
  X(CreatePumpSale)               \
  X(CreateReceipt)                \
  X(CreateRefund)                 \
  X(CreateRepRec)                 \
  X(CreateSaleMast)               \
  X(CreateSaleTemp)               \
  X(CreateSaleVoid)               \
  X(CreateShift)                  \
  X(CreateSpecialSundry)          \
  X(CreateSpecialSundry1)         \
  X(CreateStock)                  \
  X(CreateStockCom)               \
  X(CreateStoTrans)               \
  X(CreateStoVal)                 \
  X(CreateSundryDetails)          \
  X(CreateSundryHistory)          \
  X(CreateSundryTempData)         \
  X(CreateTankConfig)             \
  X(CreateTempAutoAtt)            \
  X(CreateTotalisers)             \
  X(CreateToteHist)               \
  X(CreateToteLog)                \
  X(CreateWarehouse)

extern "C" {
#define ZEL_DECLARE_FILES_ENTRY(name) ZEL_CREATOR_API void ZEL_CREATOR_CALL name();
ZEL_FILES_ENTRY_POINTS(ZEL_DECLARE_FILES_ENTRY)
#undef ZEL_DECLARE_FILES_ENTRY
}
