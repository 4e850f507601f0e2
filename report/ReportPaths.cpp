#include "report/ReportPaths.h"

namespace zel::report {

std::string WindowsPathOf(const std::filesystem::path& hostPath,
                          const std::filesystem::path& driveC) {
  const std::filesystem::path path = hostPath.lexically_normal();
  const std::filesystem::path root = driveC.lexically_normal();
  const std::filesystem::path relative = path.lexically_relative(root);
  if (path.is_relative() || relative.empty() || *relative.begin() == "..") return hostPath.string();
  std::string windows = "C:";
  for (const auto& part : relative) {
    if (part == "." || part.empty()) continue;
    windows += "\\" + part.string();
  }
  return relative == "." ? "C:\\" : windows;
}

}  // namespace zel::report
