// Binds the catalogue's creator names to the entry points of the Files and Index libraries.
// They are linked directly, so the program cannot start without both libraries.
#include <string_view>
#include <utility>

#include "catalogue/Catalogue.h"
#include "creators/Files.h"
#include "creators/Index.h"

namespace zel::catalogue {
namespace {

using Binding = std::pair<std::string_view, CreatorProc>;

#define ZEL_BIND_ENTRY(name) Binding{#name, &::name},
constexpr Binding kFilesEntries[] = {ZEL_FILES_ENTRY_POINTS(ZEL_BIND_ENTRY)};
constexpr Binding kIndexEntries[] = {ZEL_INDEX_ENTRY_POINTS(ZEL_BIND_ENTRY)};
#undef ZEL_BIND_ENTRY

template <std::size_t N>
CreatorProc Bound(const Binding (&bindings)[N], std::string_view name) {
  if (name.empty()) return nullptr;
  for (const auto& [entryName, proc] : bindings)
    if (entryName == name) return proc;
  return nullptr;
}

}  // namespace

CreatorProc TableCreator(std::string_view folder, std::string_view table) {
  const TableEntry* entry = FindEntry(folder, table);
  return entry ? Bound(kFilesEntries, entry->tableCreator) : nullptr;
}

CreatorProc IndexCreator(std::string_view folder, std::string_view table) {
  const TableEntry* entry = FindEntry(folder, table);
  return entry ? Bound(kIndexEntries, entry->indexCreator) : nullptr;
}

}  // namespace zel::catalogue
