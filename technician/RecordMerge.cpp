#include "technician/RecordMerge.h"

#include <map>

namespace zel::technician {

MergePlan PlanMerge(const std::vector<engine::Record>& live,
                    const std::vector<engine::Record>& salvaged, int keyFields) {
  MergePlan plan;
  if (keyFields > 0) {
    std::map<engine::Record, const engine::Record*> byKey;
    for (const engine::Record& r : live)
      byKey.emplace(engine::Record(r.begin(), r.begin() + keyFields), &r);
    for (std::size_t i = 0; i < salvaged.size(); ++i) {
      const engine::Record& r = salvaged[i];
      const auto [it, added] = byKey.emplace(engine::Record(r.begin(), r.begin() + keyFields), &r);
      if (added)
        plan.added.push_back(i);
      else if (*it->second == r)
        plan.alreadyPresent.push_back(i);
      else
        plan.keyViolations.push_back(i);
    }
    return plan;
  }
  std::map<engine::Record, std::size_t> copies;
  for (const engine::Record& r : live) ++copies[r];
  for (std::size_t i = 0; i < salvaged.size(); ++i) {
    const auto it = copies.find(salvaged[i]);
    if (it != copies.end() && it->second > 0) {
      --it->second;
      plan.alreadyPresent.push_back(i);
    } else {
      plan.added.push_back(i);
    }
  }
  return plan;
}

}  // namespace zel::technician
