// SPDX-License-Identifier: Apache-2.0
// The program of the test DlopenTest.LibraryMapsNoRenderingLibrary, a process of its own that
// nothing has loaded the PDF copy's libraries into. It loads the host module (and with it
// libglps.so), writes a log and verifies it, and prints one line per stage: its name, a colon, and
// the rendering libraries then mapped (libglps-pdf.so, Pango, Cairo, GLib, the font libraries), by
// file name.
//   rendering_maps HOST_MODULE LOG_DIRECTORY
#include <dlfcn.h>

#include <cstdio>
#include <fstream>
#include <regex>
#include <set>
#include <string>

namespace {

std::set<std::string> RenderingLibrariesMapped() {
  static const std::regex kRendering(
      "(libglps-pdf|libpango|libcairo|libglib-|libgobject-|libharfbuzz|libfontconfig|libfreetype|"
      "libpixman)[^/]*$");
  std::set<std::string> names;
  std::ifstream maps("/proc/self/maps");
  std::string line;
  while (std::getline(maps, line)) {
    std::smatch match;
    if (std::regex_search(line, match, kRendering)) names.insert(match.str(0));
  }
  return names;
}

void Stage(const std::string& name) {
  std::string line = name + ":";
  for (const std::string& library : RenderingLibrariesMapped()) line += " " + library;
  std::printf("%s\n", line.c_str());
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: rendering_maps HOST_MODULE LOG_DIRECTORY\n");
    return 2;
  }
  Stage("start");
  void* module = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
  if (module == nullptr) {
    std::fprintf(stderr, "%s\n", dlerror());
    return 1;
  }
  Stage("loaded");
  auto writeLog = reinterpret_cast<bool (*)(const char*)>(dlsym(module, "glps_module_write_log"));
  auto verify = reinterpret_cast<int (*)(const char*)>(dlsym(module, "glps_module_verify"));
  if (writeLog == nullptr || verify == nullptr) {
    std::fprintf(stderr, "the host module lacks a function\n");
    return 1;
  }
  Stage(writeLog(argv[2]) ? "written" : "not written");
  Stage("verdict " + std::to_string(verify(argv[2])));
  return 0;
}
