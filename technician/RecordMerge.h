#pragma once
// Which salvaged records a put-back adds to a live table: the live records stay as they are; a
// salvaged record identical to one present is not added again (a heap: each live copy answers
// for one salvaged copy), and for a keyed table one whose key is present with other values (in
// the live table, or added before it) is a key violation.
#include <cstddef>
#include <vector>

#include "engine/TableDefinition.h"

namespace zel::technician {

struct MergePlan {
  std::vector<std::size_t> added;           // indexes into the salvaged records, in their order
  std::vector<std::size_t> keyViolations;   // keyed: the key is present with other values
  std::vector<std::size_t> alreadyPresent;  // an identical record is present
};

MergePlan PlanMerge(const std::vector<engine::Record>& live,
                    const std::vector<engine::Record>& salvaged, int keyFields);

}  // namespace zel::technician
