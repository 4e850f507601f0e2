#include "technician/RebuildStructure.h"

#include <algorithm>
#include <chrono>
#include <fstream>
#include <system_error>

#include "catalogue/Catalogue.h"
#include "creators/Schemas.h"
#include "engine/EngineError.h"
#include "engine/ParadoxFormat.h"
#include "engine/TableWriter.h"
#include "engine/Verifier.h"
#include "platform/AsciiCase.h"
#include "platform/DriveMapping.h"
#include "technician/RebuildTable.h"

namespace zel::technician {
namespace fs = std::filesystem;
namespace {

using platform::AsciiUpper;

// The catalogue's definition of the table, written empty in a temporary folder.
std::shared_ptr<const fs::path> WriteCatalogueTemplate(const StationTable& st, fs::path& db) {
  const creators::TableSchema* schema = creators::FindSchema(st.folder, st.table);
  if (!schema) return nullptr;
  std::error_code ec;
  const fs::path base = fs::temp_directory_path(ec);
  if (ec) return nullptr;
  const auto unique = std::chrono::steady_clock::now().time_since_epoch().count();
  for (int n = 0; n < 100; ++n) {
    const fs::path dir = base / ("zelcheck-template-" + st.table + "-" + std::to_string(unique) +
                                 "-" + std::to_string(n));
    if (!fs::create_directory(dir, ec)) continue;
    auto owned = std::shared_ptr<const fs::path>(new fs::path(dir), [](const fs::path* p) {
      std::error_code ignored;
      fs::remove_all(*p, ignored);
      delete p;
    });
    db = dir / (st.table + ".DB");
    engine::CreateTable(db, schema->def);
    return owned;
  }
  return nullptr;
}

// The secondary indexes as the writer is asked for them; refuses what it cannot make.
std::vector<engine::SecondaryIndexDef> IndexDefinitions(const engine::TableInfo& info) {
  std::vector<engine::SecondaryIndexDef> defs;
  for (const engine::SecondaryIndexInfo& x : info.indexes) {
    const std::string file = x.xFile.string();
    if (!x.problem.empty())
      throw RebuildRefused("the index file's header cannot be read (" + x.problem +
                               "), so its definition is unknown; give a template with --like",
                           file);
    if (!x.maintained)
      throw RebuildRefused("index \"" + x.name +
                               "\" is not maintained, and the writer makes maintained indexes only",
                           file);
    engine::SecondaryIndexDef d;
    d.name = x.name;
    d.caseInsensitive = x.caseInsensitive;
    const std::string ext = AsciiUpper(x.xFile.extension().string());
    d.forceNamed = ext.rfind(".XG", 0) == 0;
    for (const engine::FieldInfo& f : x.fields) {
      if (f.descending)
        throw RebuildRefused("index \"" + x.name + "\" sorts field \"" + f.name +
                                 "\" descending, which the writer does not make",
                             file);
      if (f.type == 'A' && info.sortOrder != engine::px::kSortAscii)
        throw RebuildRefused("index \"" + x.name + "\" sorts the text of \"" + f.name +
                                 "\" under sort order \"" + info.sortOrderId +
                                 "\", whose collation the writer does not know",
                             file);
      d.fields.push_back(f.name);
    }
    defs.push_back(std::move(d));
  }
  return defs;
}

// The table-definition counter the rebuilt table must carry: the one its .VAL was made for
// (level 4 and later), else its own header's; 0 when neither can be read.
int DefinitionCount(const fs::path& db, const engine::TableInfo* own) {
  for (const fs::path& file : engine::ExistingTableFiles(db)) {
    if (AsciiUpper(file.extension().string()) != ".VAL") continue;
    std::ifstream in(file, std::ios::binary);
    unsigned char head[2] = {};
    if (in.read(reinterpret_cast<char*>(head), 2) && head[1] >= 0x05) return head[0];
  }
  if (!own) return 0;
  std::ifstream in(db, std::ios::binary);
  std::vector<std::uint8_t> bytes(0x10000);
  in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  bytes.resize(static_cast<std::size_t>(in.gcount()));
  engine::px::Header h;
  std::string problem;
  return engine::px::ParseHeader(bytes, h, problem) ? h.changeCount2 : 0;
}

}  // namespace

StationTable FindStationTable(const fs::path& db) {
  StationTable st;
  const fs::path folder = db.parent_path();
  const fs::path pos = folder.parent_path();
  if (!platform::SameNameIgnoringCase(pos.filename().string(), "ZELPOS")) return st;
  const std::string table = AsciiUpper(db.stem().string());
  for (const std::string_view f : catalogue::CheckOrder()) {
    if (!platform::SameNameIgnoringCase(folder.filename().string(), std::string(f))) continue;
    if (!catalogue::FindEntry(f, table) && !creators::FindSchema(f, table)) return st;
    st.folder = std::string(f);
    st.table = table;
    st.posFolder = pos;
  }
  return st;
}

RebuildStructure FindRebuildStructure(const fs::path& db, const fs::path& like) {
  RebuildStructure s;
  engine::TableInfo info;
  fs::path source = db;
  bool own = true;
  try {
    info = engine::DescribeTable(db);
    s.from = "the table";
  } catch (const engine::EngineError& e) {
    own = false;
    s.headerProblem = e.Message();
  }
  const StationTable st = FindStationTable(db);
  if (!own) {
    if (!like.empty()) {
      source = like;
      s.from = like.string();
    } else if (!st.folder.empty()) {
      try {
        s.templateFolder = WriteCatalogueTemplate(st, source);
      } catch (const std::exception& e) {
        throw RebuildRefused(
            std::string("the catalogue's definition could not be written: ") + e.what(),
            db.string());
      }
      if (!s.templateFolder)
        throw RebuildRefused("the header cannot be read (" + s.headerProblem +
                                 ") and the catalogue's definition could not be written",
                             db.string());
      s.from = "the catalogue's definition of " + st.folder + "\\" + st.table;
    } else {
      throw RebuildRefused("the header cannot be read (" + s.headerProblem +
                               "); give a healthy table of the same kind with --like",
                           db.string());
    }
    try {
      info = engine::DescribeTable(source);
    } catch (const engine::EngineError& e) {
      throw RebuildRefused("the template cannot be read: " + e.Message(), source.string());
    }
    s.like = source;
  }
  if (info.encrypted) throw RebuildRefused("the table is encrypted", source.string());
  s.blockSize = info.blockSize;
  s.definitionCount = DefinitionCount(db, own ? &info : nullptr);

  // An index file whose header is gone: the template's or the catalogue's definitions serve.
  const bool indexUnreadable = std::any_of(info.indexes.begin(), info.indexes.end(),
                                           [](const auto& x) { return !x.problem.empty(); });
  if (own && indexUnreadable && !like.empty()) {
    try {
      const engine::TableInfo t = engine::DescribeTable(like);
      info.indexes = t.indexes;
    } catch (const engine::EngineError& e) {
      throw RebuildRefused("the template cannot be read: " + e.Message(), like.string());
    }
  }
  const creators::TableSchema* schema =
      st.folder.empty() ? nullptr : creators::FindSchema(st.folder, st.table);
  if (own && indexUnreadable && like.empty() && schema) {
    std::erase_if(info.indexes, [](const auto& x) { return !x.problem.empty(); });
  }
  s.indexes = IndexDefinitions(info);
  // A catalogue table keeps every index ZelPos opens it by, also one whose files were lost, in
  // the catalogue's order (which numbers its files); the table's own definitions go first.
  if (schema) {
    std::vector<engine::SecondaryIndexDef> ordered;
    for (const engine::SecondaryIndexDef& d : schema->def.indexes) {
      const auto it = std::find_if(s.indexes.begin(), s.indexes.end(), [&](const auto& x) {
        return platform::SameNameIgnoringCase(x.name, d.name);
      });
      ordered.push_back(it != s.indexes.end() ? *it : d);
    }
    for (const engine::SecondaryIndexDef& x : s.indexes) {
      const bool listed = std::any_of(ordered.begin(), ordered.end(), [&](const auto& o) {
        return platform::SameNameIgnoringCase(o.name, x.name);
      });
      if (!listed) ordered.push_back(x);
    }
    s.indexes = std::move(ordered);
  }
  return s;
}

}  // namespace zel::technician
