// SPDX-License-Identifier: Apache-2.0
#include "seal.h"

#include <qrencode.h>

#include <algorithm>
#include <cctype>

#include "glps/seal.h"
#include "text.h"

namespace glps_tool {
namespace {

// Quiet zone around the code, in modules: readers find the code within two on a terminal.
const int kQuietZone = 2;

}  // namespace

std::vector<std::string> QrCodeLines(const std::string& text) {
  // Upper-case hexadecimal digits and '-' fit the alphanumeric mode, which makes a smaller code.
  std::string upper = text;
  std::transform(upper.begin(), upper.end(), upper.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  QRcode* code = QRcode_encodeString(upper.c_str(), 0, QR_ECLEVEL_M, QR_MODE_8, 0);
  if (code == nullptr) return {};
  const int width = code->width;
  const auto dark = [code, width](int x, int y) {
    x -= kQuietZone;
    y -= kQuietZone;
    return x >= 0 && y >= 0 && x < width && y < width && (code->data[y * width + x] & 1) != 0;
  };
  const int side = width + 2 * kQuietZone;
  std::vector<std::string> lines;
  for (int y = 0; y < side; y += 2) {
    // Black on white whatever the terminal's colours: a reader needs dark modules on light.
    std::string line = "\033[30;47m";
    for (int x = 0; x < side; ++x) {
      const bool top = dark(x, y);
      const bool bottom = y + 1 < side && dark(x, y + 1);
      line += top && bottom ? "\u2588" : top ? "\u2580" : bottom ? "\u2584" : " ";
    }
    line += "\033[0m";
    lines.push_back(line);
  }
  QRcode_free(code);
  return lines;
}

int RunSealInit(const SealInitOptions& options, std::ostream& out, std::ostream& err,
                bool outIsTerminal) {
  std::string key;
  std::string error;
  if (!KECGlpsSeal::Init(options.directory, &key, &error)) {
    err << "glps seal init: " << Printable(error) << '\n';
    return 1;
  }
  const std::string dir = Printable(options.directory);
  out << "sealing set up for " << dir << '\n'
      << "seal file:    " << KECGlpsSeal::SealFileName()
      << " (seal 0 covers the log as it is now; every save appends a seal)\n"
      << "sealing key:  " << KECGlpsSeal::KeyFileName()
      << " (mode 0600; every save replaces it by the next key)\n"
      << '\n'
      << "verification key: " << key << '\n';
  if (options.qr && outIsTerminal) {
    out << '\n';
    for (const std::string& line : QrCodeLines(key)) out << "  " << line << '\n';
  }
  out << '\n'
      << "The verification key is shown this once and stored nowhere. Give it to the auditors\n"
      << "and keep it away from this computer: whoever holds it can make seals for any save,\n"
      << "earlier ones included. Check the log with:\n"
      << "  glps verify " << dir << " --seal-key KEY\n";
  return 0;
}

}  // namespace glps_tool
