// SPDX-License-Identifier: Apache-2.0
#include "json_out.h"

#include <ctime>

#include "glps/host/gen.h"
#include "text.h"

namespace glps_tool {

Json JsonDocument() {
  Json json;
  json["schema_version"] = kJsonSchemaVersion;
  json["tool"] = {{"name", "glps"}, {"version", KCGenVersionInfo().GetProductVersionLong()}};
  return json;
}

void AddExactText(Json* object, const std::string& key, const std::string& bytes) {
  const bool utf8 = IsUtf8(bytes);
  (*object)[key] = utf8 ? bytes : ToUtf8Lossy(bytes);
  if (utf8) {
    (*object)[key + "_hex"] = nullptr;
  } else {
    static const char kDigits[] = "0123456789abcdef";
    std::string hex;
    for (unsigned char c : bytes) {
      hex += kDigits[c >> 4];
      hex += kDigits[c & 0x0F];
    }
    (*object)[key + "_hex"] = hex;
  }
}

std::string TimeOfCheck() {
  const std::time_t now = std::time(nullptr);
  std::tm utc{};
  gmtime_r(&now, &utc);
  char text[32];
  std::strftime(text, sizeof(text), "%Y-%m-%dT%H:%M:%SZ", &utc);
  return text;
}

void WriteJson(const Json& json, bool pretty, std::ostream& out) {
  out << json.dump(pretty ? 2 : -1, ' ', false, Json::error_handler_t::replace) << '\n';
}

}  // namespace glps_tool
