// SPDX-License-Identifier: Apache-2.0
// The JSON of the glps command (docs/json.md): every document carries the schema's version, the
// tool's name and version; texts from log directories are given so that no byte is lost.
#ifndef GLPS_TOOLS_JSON_OUT_H_
#define GLPS_TOOLS_JSON_OUT_H_

#include <nlohmann/json.hpp>

#include <ostream>
#include <string>

namespace glps_tool {

using Json = nlohmann::ordered_json;

// The version of the JSON documents' schema (docs/json.md). Raised when a field changes its
// meaning or type, or goes; new fields do not raise it.
constexpr int kJsonSchemaVersion = 2;

// The members every document starts with: "schema_version" and "tool" (name and version).
Json JsonDocument();

// Adds `key` (the text as valid UTF-8: every byte that is not part of valid UTF-8 shown as U+FFFD)
// and `key`_hex (the bytes in lower-case hexadecimal when the text is not valid UTF-8, else null),
// so that a name is given exactly whatever its bytes.
void AddExactText(Json* object, const std::string& key, const std::string& bytes);

// The present time as "YYYY-MM-DDTHH:MM:SSZ" (UTC).
std::string TimeOfCheck();

// Writes the document: indented when `pretty`, else on one line; a line end follows.
void WriteJson(const Json& json, bool pretty, std::ostream& out);

}  // namespace glps_tool

#endif  // GLPS_TOOLS_JSON_OUT_H_
