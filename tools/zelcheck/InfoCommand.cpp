#include "tools/zelcheck/InfoCommand.h"

#include <cstdio>
#include <iostream>
#include <string>

#include "engine/EngineError.h"
#include "engine/Verifier.h"
#include "tools/zelcheck/ExitStatus.h"
#include "tools/zelcheck/ShownText.h"
#include "tools/zelcheck/TargetPaths.h"

namespace zel::zelcheck {
namespace {

std::string Hex(int v) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%02X", v);
  return buf;
}

}  // namespace

int RunInfo(const Options& options) {
  const std::filesystem::path table = HostPath(options.target);
  std::string why;
  if (!ReadableFile(table, why)) {
    std::cerr << "zelcheck: cannot read " << Shown(table.string()) << ": " << Shown(why) << "\n";
    return kBadUse;
  }
  zel::engine::TableInfo info;
  try {
    info = zel::engine::DescribeTable(table);
  } catch (const zel::engine::EngineError& e) {
    std::cout << Shown(table.string()) << ": " << Shown(e.what()) << "\n";
    return kUnusable;
  }
  std::cout << "Table:       " << Shown(table.string()) << "\n";
  std::cout << "Level:       " << info.level << " (version byte " << info.version << ")\n";
  std::cout << "Code page:   " << (info.codePage ? std::to_string(info.codePage) : "none") << "\n";
  std::cout << "Sort order:  " << (info.sortOrderId.empty() ? "-" : Shown(info.sortOrderId)) << " ("
            << Hex(info.sortOrder) << ")\n";
  std::cout << "Records:     " << info.numRecords << "\n";
  std::cout << "Block size:  " << info.blockSize << "\n";
  std::cout << "Keyed:       " << (info.keyed ? "yes" : "no") << "\n";
  std::cout << "Encrypted:   " << (info.encrypted ? "yes" : "no") << "\n";
  std::cout << "Fields:      " << info.fields.size() << "\n";
  for (std::size_t i = 0; i < info.fields.size(); ++i) {
    const auto& f = info.fields[i];
    std::cout << "  " << (i + 1) << ". " << Shown(f.name) << "  " << f.type << f.size << "\n";
  }
  std::cout << "Key fields:  " << info.keyFields;
  for (int i = 0; i < info.keyFields; ++i) {
    std::cout << (i == 0 ? " (" : ", ") << Shown(info.fields[i].name);
  }
  std::cout << (info.keyFields > 0 ? ")\n" : "\n");
  std::cout << "Secondary indexes: " << info.indexes.size() << "\n";
  for (const auto& x : info.indexes) {
    std::cout << "  " << Shown(x.xFile.filename().string()) << "  ";
    if (!x.problem.empty()) {
      std::cout << "unreadable: " << Shown(x.problem) << "\n";
      continue;
    }
    std::cout << "name \"" << Shown(x.name) << "\"  "
              << (x.maintained ? "maintained" : "not maintained")
              << (x.caseInsensitive ? ", case-insensitive" : "") << "  fields:";
    for (const auto& f : x.fields)
      std::cout << " " << Shown(f.name) << (f.descending ? " (desc)" : "");
    std::cout << "  tree: " << (x.yFile.empty() ? "missing" : Shown(x.yFile.filename().string()))
              << "\n";
  }
  return kUsable;
}

}  // namespace zel::zelcheck
