#include "PowerLoss.h"

#include <fstream>
#include <map>
#include <sstream>
#include <stdexcept>
#include <system_error>
#include <vector>

namespace zelfault {
namespace {

namespace fs = std::filesystem;

struct Entry {
  std::size_t index = 0;
  std::string type;
  std::string seq;
  std::string path;
  std::string path2;
  bool had = false;
};

std::vector<Entry> ReadJournal(const fs::path& dir) {
  std::ifstream in(dir / "journal");
  if (!in) throw std::runtime_error("no power-loss journal in " + dir.string());
  std::vector<Entry> entries;
  std::string line;
  while (std::getline(in, line)) {
    std::vector<std::string> f;
    std::stringstream fields(line);
    for (std::string field; std::getline(fields, field, '\t');) f.push_back(field);
    if (f.size() < 3) continue;  // the line the kill cut short
    Entry e{entries.size(), f[0], f[1], f[2], {}, false};
    if (f.size() > 3) e.path2 = f[3];
    if (f.size() > 4) e.had = f[4] == "1";
    entries.push_back(e);
  }
  return entries;
}

bool Exists(const fs::path& p) {
  std::error_code ec;
  return fs::exists(fs::symlink_status(p, ec));
}

// Each file's first bytes not synced since, following renames: the data goes with the file.
int RollBackData(const fs::path& dir, const std::vector<Entry>& entries) {
  std::map<std::string, std::string> pending;  // current name -> kept bytes ("" = none: new)
  for (const Entry& e : entries) {
    if (e.type == "W") {
      if (!pending.count(e.path)) pending[e.path] = (dir / (e.seq + ".data")).string();
    } else if (e.type == "C") {
      pending[e.path] = "";
    } else if (e.type == "S" || e.type == "U") {
      pending.erase(e.path);
    } else if (e.type == "R") {
      const auto from = pending.find(e.path);
      if (from != pending.end())
        pending[e.path2] = from->second;
      else
        pending.erase(e.path2);
      pending.erase(e.path);
    }
  }
  int rolledBack = 0;
  for (const auto& [path, kept] : pending) {
    std::error_code ec;
    if (!fs::is_regular_file(fs::symlink_status(path, ec))) continue;
    std::string bytes;
    if (!kept.empty()) {
      std::ifstream in(kept, std::ios::binary);
      bytes.assign(std::istreambuf_iterator<char>(in), {});
    }
    // Written in place, so the file keeps its inode and its other names.
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot roll back " + path);
    ++rolledBack;
  }
  return rolledBack;
}

// A folder's entries are durable once the folder was synced after them; a rename is durable
// once either of its folders was.
bool Durable(const Entry& e, const std::vector<Entry>& entries) {
  const std::string parent = fs::path(e.path).parent_path().string();
  const std::string parent2 =
      e.path2.empty() ? std::string() : fs::path(e.path2).parent_path().string();
  const bool renameLike = e.type == "R" || e.type == "L";
  const std::string& own = renameLike ? parent2 : parent;
  for (std::size_t i = e.index + 1; i < entries.size(); ++i)
    if (entries[i].type == "Y" &&
        (entries[i].path == own || (e.type == "R" && entries[i].path == parent)))
      return true;
  return false;
}

int UndoEntries(const fs::path& dir, const std::vector<Entry>& entries) {
  int undone = 0;
  for (auto it = entries.rbegin(); it != entries.rend(); ++it) {
    const Entry& e = *it;
    if (e.type == "W" || e.type == "S" || e.type == "Y" || Durable(e, entries)) continue;
    std::error_code ec;
    const fs::path path(e.path), path2(e.path2);
    const fs::path old = dir / (e.seq + ".old");
    if (e.type == "R") {
      if (Exists(path2) && fs::is_directory(path.parent_path(), ec) && !Exists(path))
        fs::rename(path2, path, ec);
      if (e.had && !Exists(path2)) fs::create_hard_link(old, path2, ec);
    } else if (e.type == "U") {
      if (!Exists(path) && fs::is_directory(path.parent_path(), ec))
        fs::create_hard_link(old, path, ec);
    } else if (e.type == "C") {
      if (fs::is_regular_file(fs::symlink_status(path, ec))) fs::remove(path, ec);
    } else if (e.type == "M") {
      fs::remove_all(path, ec);
    } else if (e.type == "D") {
      if (fs::is_directory(path.parent_path(), ec)) fs::create_directory(path, ec);
    } else if (e.type == "L") {
      fs::remove(path2, ec);
    }
    ++undone;
  }
  return undone;
}

}  // namespace

PowerLossOutcome ApplyPowerLoss(const fs::path& journalDir, PowerLossKind kind) {
  const std::vector<Entry> entries = ReadJournal(journalDir);
  PowerLossOutcome outcome;
  if (kind != PowerLossKind::Entries) outcome.filesRolledBack = RollBackData(journalDir, entries);
  if (kind != PowerLossKind::Data) outcome.entriesUndone = UndoEntries(journalDir, entries);
  return outcome;
}

}  // namespace zelfault
