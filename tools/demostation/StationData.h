#pragma once
// Realistic records for a demo fuel station: curated master data (grades, pumps, attendants,
// debtors, stock...) and generated shift and history records. Deterministic: the same table and
// count always give the same records.
#include <cstddef>
#include <string_view>

#include "creators/Schemas.h"
#include "engine/TableWriter.h"

namespace zel::demostation {

// How many records the table gets at the given scale: the big history and transaction tables
// get `scale` records, the rest a size a station of this kind has.
std::size_t RecordCount(const creators::TableSchema& schema, std::size_t scale);

// Streams `count` records of the table, fitting its schema field by field.
engine::RecordSource Records(const creators::TableSchema& schema, std::size_t count);

}  // namespace zel::demostation
