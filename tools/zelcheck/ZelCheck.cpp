// zelcheck TABLE.DB [--index NAME]...   verify a table under its primary and named indexes
// zelcheck --info TABLE.DB              describe a table and the secondary indexes beside it
//
// Exit status: 0 all usable, 1 something unusable, 2 bad arguments or a file that cannot be
// read at all. Reads only: no lock files, nothing written.
#include <fcntl.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include "engine/EngineError.h"
#include "engine/Verifier.h"
#include "platform/DriveMapping.h"

namespace fs = std::filesystem;
using zel::engine::EngineError;

namespace {

constexpr int kUsable = 0;
constexpr int kUnusable = 1;
constexpr int kBadUse = 2;

void Usage(std::ostream& out) {
  out << "Usage: zelcheck TABLE.DB [--index NAME]...\n"
         "       zelcheck --info TABLE.DB\n"
         "       zelcheck --help\n"
         "\n"
         "Checks a Paradox table the way the table engine opens it: first under its primary\n"
         "index, then under each secondary index named with --index (by its stored name or\n"
         "field name, without regard to case). Prints 'usable' or the engine's error for each.\n"
         "--info prints the table's level, code page, sort order, record count, fields, key\n"
         "fields and the secondary indexes found beside it.\n"
         "\n"
         "TABLE.DB is a host path; a Windows path such as C:\\ZELPOS\\TEMPDATA\\X.DB is mapped\n"
         "into $WINEPREFIX/drive_c. Nothing is written and no lock files are made.\n"
         "\n"
         "Exit status: 0 all usable, 1 a table or index is unusable, 2 bad arguments or a file\n"
         "that cannot be read.\n";
}

fs::path HostPath(const std::string& arg) {
  const bool windows =
      arg.size() >= 2 && arg[1] == ':' && std::isalpha(static_cast<unsigned char>(arg[0]));
  return windows ? zel::platform::MapWindowsPath(arg) : fs::path(arg);
}

// A file that cannot be opened for reading at all is a usage problem, not a verdict.
bool Readable(const fs::path& path, std::string& why) {
  std::error_code ec;
  if (!fs::exists(path, ec)) {
    why = "no such file";
    return false;
  }
  if (!fs::is_regular_file(path, ec)) {
    why = "not a regular file";
    return false;
  }
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    why = std::strerror(errno);
    return false;
  }
  ::close(fd);
  return true;
}

std::string Hex(int v) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%02X", v);
  return buf;
}

int PrintInfo(const fs::path& table) {
  zel::engine::TableInfo info;
  try {
    info = zel::engine::DescribeTable(table);
  } catch (const EngineError& e) {
    std::cout << table.string() << ": " << e.what() << "\n";
    return kUnusable;
  }
  std::cout << "Table:       " << table.string() << "\n";
  std::cout << "Level:       " << info.level << " (version byte " << info.version << ")\n";
  std::cout << "Code page:   " << (info.codePage ? std::to_string(info.codePage) : "none") << "\n";
  std::cout << "Sort order:  " << (info.sortOrderId.empty() ? "-" : info.sortOrderId) << " ("
            << Hex(info.sortOrder) << ")\n";
  std::cout << "Records:     " << info.numRecords << "\n";
  std::cout << "Block size:  " << info.blockSize << "\n";
  std::cout << "Keyed:       " << (info.keyed ? "yes" : "no") << "\n";
  std::cout << "Encrypted:   " << (info.encrypted ? "yes" : "no") << "\n";
  std::cout << "Fields:      " << info.fields.size() << "\n";
  for (std::size_t i = 0; i < info.fields.size(); ++i) {
    const auto& f = info.fields[i];
    std::cout << "  " << (i + 1) << ". " << f.name << "  " << f.type << f.size << "\n";
  }
  std::cout << "Key fields:  " << info.keyFields;
  for (int i = 0; i < info.keyFields; ++i) {
    std::cout << (i == 0 ? " (" : ", ") << info.fields[i].name;
  }
  std::cout << (info.keyFields > 0 ? ")\n" : "\n");
  std::cout << "Secondary indexes: " << info.indexes.size() << "\n";
  for (const auto& x : info.indexes) {
    std::cout << "  " << x.xFile.filename().string() << "  ";
    if (!x.problem.empty()) {
      std::cout << "unreadable: " << x.problem << "\n";
      continue;
    }
    std::cout << "name \"" << x.name << "\"  " << (x.maintained ? "maintained" : "not maintained")
              << (x.caseInsensitive ? ", case-insensitive" : "") << "  fields:";
    for (const auto& f : x.fields) std::cout << " " << f.name << (f.descending ? " (desc)" : "");
    std::cout << "  tree: " << (x.yFile.empty() ? "missing" : x.yFile.filename().string()) << "\n";
  }
  return kUsable;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  bool info = false;
  std::string table;
  std::vector<std::string> indexes;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--help" || a == "-h") {
      Usage(std::cout);
      return kUsable;
    }
    if (a == "--info") {
      info = true;
    } else if (a == "--index") {
      if (i + 1 >= args.size() || args[i + 1].empty()) {
        std::cerr << "zelcheck: --index needs an index name\n";
        return kBadUse;
      }
      indexes.push_back(args[++i]);
    } else if (a.rfind("--index=", 0) == 0 && a.size() > 8) {
      indexes.push_back(a.substr(8));
    } else if (!a.empty() && a[0] == '-') {
      std::cerr << "zelcheck: unknown option " << a << "\n";
      Usage(std::cerr);
      return kBadUse;
    } else if (table.empty()) {
      table = a;
    } else {
      std::cerr << "zelcheck: one table at a time (" << table << ", " << a << ")\n";
      return kBadUse;
    }
  }
  if (table.empty()) {
    std::cerr << "zelcheck: no table given\n";
    Usage(std::cerr);
    return kBadUse;
  }
  if (info && !indexes.empty()) {
    std::cerr << "zelcheck: --info takes no --index\n";
    return kBadUse;
  }
  const fs::path path = HostPath(table);
  std::string why;
  if (!Readable(path, why)) {
    std::cerr << "zelcheck: cannot read " << path.string() << ": " << why << "\n";
    return kBadUse;
  }
  if (info) return PrintInfo(path);

  int status = kUsable;
  indexes.insert(indexes.begin(), std::string());
  for (const std::string& index : indexes) {
    std::cout << (index.empty() ? std::string("primary") : "index " + index) << ": ";
    try {
      zel::engine::VerifyTable(path, index);
      std::cout << "usable\n";
    } catch (const EngineError& e) {
      std::cout << e.what() << "\n";
      status = kUnusable;
    }
  }
  return status;
}
