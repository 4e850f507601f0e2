// The engine alone doing what Step 2 asks of it on a healthy station: every catalogue table
// opened under its primary index and each named index, session opened and closed around each
// open. Prints the wall time in milliseconds; exits 1 naming the first table that fails.
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "catalogue/Catalogue.h"
#include "engine/EngineError.h"
#include "engine/Session.h"
#include "engine/Table.h"

int main() {
  auto& session = zel::engine::Session::Default();
  zel::engine::Table table(session);
  int opens = 0;
  const auto start = std::chrono::steady_clock::now();
  for (const auto& entry : zel::catalogue::Entries()) {
    const std::string folder(entry.folder), name(entry.table);
    std::vector<std::string> indexes{""};  // the primary index, then the named ones
    for (std::string_view named : entry.namedIndexes)
      if (!named.empty()) indexes.emplace_back(named);
    for (const std::string& index : indexes) {
      try {
        session.Open();
        table.SetIndexName(index);
        table.SetDatabaseName(folder);
        table.SetTableName(name + ".db");
        table.Open();
        table.Close();
        session.Close();
        ++opens;
      } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\\%s index '%s': %s\n", folder.c_str(), name.c_str(), index.c_str(),
                     e.what());
        return 1;
      }
    }
  }
  const auto ms =
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start);
  std::printf("%d opens in %.1f ms\n", opens, ms.count());
  return 0;
}
