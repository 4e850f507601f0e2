#pragma once
// The files and folders of a station that a run makes or replaces, relative to drive C:: what an
// earlier run started as root may have left owned by root (Linux only).
#include <string>
#include <vector>

#include "catalogue/Catalogue.h"
#include "platform/posix/GiveBackFiles.h"

namespace zel {

inline std::vector<platform::StationEntry> FilesRunsMake() {
  std::vector<platform::StationEntry> entries = {
      {"ZelPos", false},        // the folder itself, where a root run made it
      {"PDOXUSRS.NET", false},  // the engine's network control file
      {"ZelPos\\ZelUtil.Log", false},
      {"ZelPos\\ZelUtil.Reports", true},
      {"ZelPos\\ZelUtil.Damaged", true},
  };
  for (const std::string_view folder : catalogue::CheckOrder())
    entries.push_back({"ZelPos\\" + std::string(folder), true});
  return entries;
}

}  // namespace zel
