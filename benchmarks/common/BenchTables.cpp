#include "benchmarks/common/BenchTables.h"

#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>

namespace zel::bench {

using namespace zel::engine;

TableDef Definition(bool withIndexes) {
  TableDef d;
  d.level = 7;
  d.keyFieldCount = 1;
  d.fields = {{"ID", FieldType::LongInt, 0},
              {"Name", FieldType::Alpha, 20},
              {"Group", FieldType::Short, 0},
              {"Amount", FieldType::Money, 0},
              {"Day", FieldType::Date, 0}};
  if (withIndexes)
    d.indexes = {{"ByName", {"Name"}, false, false}, {"GroupDay", {"Group", "Day"}, false, false}};
  return d;
}

RecordSource Records(long records) {
  auto next = std::make_shared<long>(0);
  return [next, records]() -> std::optional<Record> {
    if (*next == records) return std::nullopt;
    ++*next;
    const long id = (*next * 7919) % records + 1;
    char name[21];
    std::snprintf(name, sizeof name, "customer %09ld", (id * 104729) % 1000003);
    return Record{std::int64_t{id}, std::string(name), std::int64_t{id % 97}, id * 0.25,
                  std::int64_t{730000 + id % 3650}};
  };
}

}  // namespace zel::bench
