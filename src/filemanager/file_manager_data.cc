// SPDX-License-Identifier: Apache-2.0
#include "filemanager/file_manager_data.h"

KECIGlpsFileManager::~KECIGlpsFileManager() = default;

namespace glps {

bool IsPlainFileName(const std::string& name) {
  if (name.empty() || name == "." || name == "..") return false;
  return name.find_first_of(std::string("/\\\0", 3)) == std::string::npos;
}

}  // namespace glps
