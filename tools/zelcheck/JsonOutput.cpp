#include "tools/zelcheck/JsonOutput.h"

#include <iostream>

namespace zel::zelcheck {

nlohmann::json ErrorJson(const zel::engine::EngineError& error) {
  return {{"code", error.Code()}, {"text", error.Message()}, {"file", error.File()}};
}

void PrintJson(const nlohmann::json& document) {
  std::cout << document.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << "\n";
}

}  // namespace zel::zelcheck
