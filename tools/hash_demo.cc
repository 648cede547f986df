// Opens a fingerprinted file in a fresh temporary directory, appends a few lines to it piece by
// piece, prints its path, size and fingerprint, and checks the fingerprint against a second,
// independent opening of the same file. Exit status 0 when everything agrees.
#include <cstdlib>
#include <filesystem>
#include <cstdint>
#include <iostream>
#include <string>
#include <system_error>
#include <utility>

#include "files/glps_file_hashed.h"

namespace {

// Removes the directory and what is in it when the program leaves main.
class ScopedDirectory {
 public:
  explicit ScopedDirectory(std::string path) : m_strPath(std::move(path)) {}
  ~ScopedDirectory() {
    std::error_code ec;
    std::filesystem::remove_all(m_strPath, ec);
  }
  ScopedDirectory(const ScopedDirectory&) = delete;
  ScopedDirectory& operator=(const ScopedDirectory&) = delete;

 private:
  std::string m_strPath;
};

int Fail(const std::string& what) {
  std::cerr << "glps_hash_demo: " << what << "\n";
  return 1;
}

}  // namespace

int main() {
  std::error_code ec;
  std::string pattern =
      (std::filesystem::temp_directory_path(ec) / "glps-hash-demo-XXXXXX").string();
  if (ec || mkdtemp(pattern.data()) == nullptr) return Fail("cannot create a temporary directory");
  ScopedDirectory cleanup(pattern);
  const std::string path = pattern + "/demo-log.html";

  const char* lines[] = {
      "<HTML><BODY>\r\n",
      "  1  2026-01-01  run started\r\n",
      "  2  2026-01-01  sample 17 weighed: 12.5 mg\r\n",
      "  3  2026-01-01  run ended\r\n",
  };

  std::string hash;
  std::int64_t size = 0;
  {
    KECGlpsFileHashed file(path);
    if (!file.IsOpen()) return Fail("cannot open " + path);
    for (const char* line : lines) {
      const std::string text(line);
      // Each line in two pieces, to show that the digest grows with every write.
      const std::string::size_type half = text.size() / 2;
      for (const std::string& piece : {text.substr(0, half), text.substr(half)}) {
        const KECGlpsIoResult result = file.Write(piece);
        if (!result.first || result.second != piece.size()) return Fail("write failed");
      }
      std::cout << "after " << text.size() << " more bytes: " << file.GetHash() << "\n";
    }
    if (!file.Flush()) return Fail("flush failed");
    hash = file.GetHash();
    size = file.GetSize();
  }

  std::cout << "file:        " << path << "\n"
            << "size:        " << size << " bytes\n"
            << "fingerprint: " << hash << "\n";

  KECGlpsFileHashed check(path, hash, size, false);
  if (!check.IsOpen()) return Fail("cannot reopen " + path);
  if (check.IsTampered() || check.GetHash() != hash) return Fail("fingerprints differ on reopening");
  std::cout << "reopened:    " << check.GetHash() << " (matches)\n";
  return 0;
}
