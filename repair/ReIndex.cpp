// Re-index: delete a table's index and validity files, then have its index creator rebuild them.
#include <array>
#include <string>

#include "catalogue/Catalogue.h"
#include "repair/TableFiles.h"
#include "run/MainScreen.h"

namespace {

// Numbers 0 and 1 of the named-index pairs come before number 2.
constexpr std::array<const char*, 8> kIndexFileSet = {".VAL", ".PX",  ".XG0", ".XG1",
                                                      ".YG0", ".YG1", ".XG2", ".YG2"};

}  // namespace

void TForm1::ReIndexTable(const std::string& folder, const std::string& table) {
  // Neither step reports to the caller: the next table test judges the result.
  try {
    DeleteIndexFiles(folder, table);
  } catch (...) {
  }
  try {
    CreateIndexFiles(folder, table);
  } catch (...) {
  }
}

void TForm1::DeleteIndexFiles(const std::string& folder, const std::string& table) {
  if (table.empty()) return;
  AddLine(lst2, "Deleting " + folder + "\\" + table + "\\Index ....Files");
  try {
    // Kept for the technician's undo; the re-index goes on when they cannot be.
    KeepIndexFiles(folder, table, {kIndexFileSet.begin(), kIndexFileSet.end()});
    zel::platform::DeletionBatch batch(platform().files);
    for (const char* extension : kIndexFileSet) {
      bool deleted = true;
      const std::string path = zel::repair::LivePath(folder, table, extension);
      if (platform().files.FileExists(path)) deleted = platform().files.DeleteFile(path);
      if (!deleted) AddLine(lst2, "Delete " + folder + "\\" + table + "\\Index ....Failed");
    }
    RepaintList(lst2);
  } catch (...) {
  }
}

void TForm1::CreateIndexFiles(const std::string& folder, const std::string& table) {
  try {
    if (table.empty()) return;
    AddLine(lst2, "Creating " + folder + "\\" + table + "\\Index ....Files");
    if (auto creator = zel::catalogue::IndexCreator(folder, table)) creator();
  } catch (...) {
  }
}
