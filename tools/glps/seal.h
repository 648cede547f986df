// SPDX-License-Identifier: Apache-2.0
// `glps seal init`: sets up sealing of a log and hands the verification key out once.
#ifndef GLPS_TOOLS_SEAL_H_
#define GLPS_TOOLS_SEAL_H_

#include <ostream>
#include <string>
#include <vector>

namespace glps_tool {

struct SealInitOptions {
  std::string directory;
  bool qr = true;  // a QR code of the key, when standard output is a terminal
};

// The QR code of `text` (libqrencode, error correction level M) as lines of a terminal: two rows of
// modules per line in half blocks, dark modules black on white, with a quiet zone of two modules
// around. Empty when the text cannot be encoded.
std::vector<std::string> QrCodeLines(const std::string& text);

// Runs the subcommand: 0 when sealing was set up (the verification key printed on a line of its
// own, "verification key: ..."), 1 when it was refused or failed (the reason on `err`).
int RunSealInit(const SealInitOptions& options, std::ostream& out, std::ostream& err,
                bool outIsTerminal);

}  // namespace glps_tool

#endif  // GLPS_TOOLS_SEAL_H_
