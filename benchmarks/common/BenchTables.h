// The benchmarks' table: level 7, keyed on a Long; fields Long, Alpha 20, Short, Money, Date
// (38-byte records); named indexes ByName (Alpha 20) and GroupDay (Short + Date).
#pragma once

#include "engine/TableDefinition.h"
#include "engine/TableWriter.h"

namespace zel::bench {

engine::TableDef Definition(bool withIndexes = true);

// `records` records, their keys arriving in a scrambled order so that the writer has to sort.
engine::RecordSource Records(long records);

}  // namespace zel::bench
