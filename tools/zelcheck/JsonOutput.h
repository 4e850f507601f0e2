#pragma once
// zelcheck's --json output: one document on stdout, and the engine's errors as JSON.
#include <nlohmann/json.hpp>

#include "engine/EngineError.h"

namespace zel::zelcheck {

// {"code": 8961, "text": "Corrupt table/index header", "file": "/…/X.DB"}
nlohmann::json ErrorJson(const zel::engine::EngineError& error);

// Writes `document` to stdout, indented, with a final newline. File names and command lines
// need not be UTF-8 (Windows code pages, anything a process puts in its arguments): bytes that
// are not become U+FFFD rather than failing the output.
void PrintJson(const nlohmann::json& document);

}  // namespace zel::zelcheck
