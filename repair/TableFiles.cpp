#include "repair/TableFiles.h"

#include "ui/MainScreen.h"

namespace zel::repair {

std::string LivePath(const std::string& folder, const std::string& table,
                     const std::string& extension) {
  return "c:\\zelpos\\" + folder + "\\" + table + extension;
}

void DeleteTableFileSet(TForm1& form, const std::string& folder, const std::string& table) {
  form.AddLine(form.lst2, "Deleting Old Table " + folder + "\\" + table + " ....");
  form.SaveDamagedFiles(folder, table);

  auto& files = form.platform().files;
  // Set once: a missing file keeps the outcome of the file before it.
  bool deleted = false;
  for (const char* extension : kTableFileSet) {
    const std::string path = LivePath(folder, table, extension);
    if (files.FileExists(path)) deleted = files.DeleteFile(path);
    if (!deleted) form.AddLine(form.lst2, "Delete " + folder + "\\" + table + "\\Index ....Failed");
  }
  form.RepaintList(form.lst2);
}

}  // namespace zel::repair
