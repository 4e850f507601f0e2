#include "tools/zelcheck/VerifyCommand.h"

#include <iostream>
#include <string>
#include <vector>

#include "engine/EngineError.h"
#include "engine/Verifier.h"
#include "tools/zelcheck/ExitStatus.h"
#include "tools/zelcheck/JsonOutput.h"
#include "tools/zelcheck/ShownText.h"
#include "tools/zelcheck/TargetPaths.h"

namespace zel::zelcheck {

int RunVerify(const Options& options) {
  const std::filesystem::path path = HostPath(options.target);
  std::string why;
  if (!ReadableFile(path, why)) {
    std::cerr << "zelcheck: cannot read " << Shown(path.string()) << ": " << Shown(why) << "\n";
    return kBadUse;
  }
  std::vector<std::string> indexes = options.indexes;
  indexes.insert(indexes.begin(), std::string());  // the primary first

  int status = kUsable;
  nlohmann::json results = nlohmann::json::array();
  for (const std::string& index : indexes) {
    nlohmann::json result = {{"index", index}, {"usable", true}, {"error", nullptr}};
    std::string line = "usable";
    try {
      zel::engine::VerifyTable(path, index);
    } catch (const zel::engine::EngineError& e) {
      result["usable"] = false;
      result["error"] = ErrorJson(e);
      line = e.what();
      status = kUnusable;
    }
    if (options.json) {
      results.push_back(std::move(result));
    } else {
      std::cout << (index.empty() ? std::string("primary") : "index " + index) << ": "
                << Shown(line) << "\n";
    }
  }
  if (options.json)
    PrintJson({{"file", path.string()}, {"usable", status == kUsable}, {"indexes", results}});
  return status;
}

}  // namespace zel::zelcheck
