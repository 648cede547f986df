// SPDX-License-Identifier: Apache-2.0
// The glps command: `glps demo`, `glps verify`, `glps show`, `glps log`, `glps pdf`,
// `glps seal init`, `glps help`.
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <clocale>
#include <cstdlib>
#include <iostream>
#include <string>
#include <tuple>
#include <vector>

#include "demo.h"
#include "files.h"
#include "glps/host/gen.h"
#include "log.h"
#include "pdf.h"
#include "seal.h"
#include "show.h"
#include "verify.h"

namespace {

const char kUsage[] =
    "usage: glps demo DIR [--messages N] [--runs N] [--crash] [--tamper] [--experiment NAME]\n"
    "       glps verify DIR... [--recursive] [--info HASH:SIZE | --info-file FILE]\n"
    "                   [--seal-key KEY | --seal-key-file FILE] [--require-info] [--json]\n"
    "                   [--quiet] [--no-progress] [--jobs N]\n"
    "       glps show DIR [--json] [--quiet]\n"
    "       glps log DIR [--csv | --json] [--from TIME] [--to TIME] [--grep REGEX] [-i]\n"
    "                   [--info HASH:SIZE] [--seal-key KEY | --seal-key-file FILE]\n"
    "       glps pdf DIR -o FILE.pdf [--info HASH:SIZE] [--seal-key KEY | --seal-key-file FILE]\n"
    "                   [--time TIME] [--quiet] [--no-progress]\n"
    "       glps seal init DIR [--no-qr]\n"
    "       glps help [COMMAND] | --help | --version | COMMAND --help\n";

const char kExitStatuses[] =
    "Exit status:\n"
    "  0  intact and authenticated: every protected file as recorded, log.xml matches the\n"
    "     info or the seals checked with --seal-key, the trail consistent (demo, show, log,\n"
    "     seal init: done)\n"
    "  1  not intact: a file or log.xml differs, the trail is not consistent, or a seal\n"
    "     fails (--seal-key); with --require-info also a log that neither an info nor its\n"
    "     seals authenticate (demo: a call into the library failed; seal init: refused)\n"
    "  2  usage error\n"
    "  3  consistent but not authenticated: as 0, but neither an info nor the verification\n"
    "     key of a sealed log was given for log.xml\n"
    "  4  cannot be read: the directory or its log.xml cannot be read, or log.xml is damaged\n"
    "  5  tamper recorded: intact now (or consistent, without an info), but the trail holds\n"
    "     tamper entries: the library found the log changed outside the trail earlier and\n"
    "     took the change in\n"
    "log exits with the verdict's status as verify gives it. Of several logs, the worst\n"
    "status counts, in the order 4, 1, 5, 3, 0.\n";

const char kVerifyDescription[] =
    "Checks log directories without changing anything: every file log.xml records against its\n"
    "recorded size and fingerprint (MD5), log.xml against the info the host kept (its SHA-256\n"
    "hash and size), and, needing no info, the trail's consistency: message numbers without\n"
    "gaps or repeats, the catalog's last number, documents' recorded parts ending on an entry,\n"
    "unrecorded documents and index pages naming unrecorded files. Nothing is created, written,\n"
    "locked or deleted; the log's lock file (log.lock) is never opened.\n"
    "\n"
    "A sealed log (glps seal init) is checked with its verification key (--seal-key): every\n"
    "seal, every byte the seals sealed, and log.xml against the last seal. The result gives the\n"
    "number of seals and the time of the last: a seal file cut at its end cannot be told from\n"
    "one that ends there, so compare them with what else is known of the log.\n"
    "\n"
    "File statuses: intact, modified, grown-intact (longer, the recorded part intact: an\n"
    "unsaved tail), grown-modified, shrunk, missing, not-regular, unreadable (with the reason),\n"
    "multiply-linked, bad-name, unprotected (index pages, not checked).";

std::string Version() { return KCGenVersionInfo().GetProductVersionLong(); }

}  // namespace

int main(int argc, char** argv) {
  // The texts read back from logs are UTF-8: --grep matches characters, not bytes.
  std::setlocale(LC_CTYPE, "C.UTF-8");
  CLI::App app("The command of the glps audit-trail library.", "glps");
  app.set_version_flag("--version", "glps " + Version(), "show the version and exit");
  app.set_help_flag("-h,--help", "show this help and exit");
  app.footer(kExitStatuses);
  app.require_subcommand(0, 1);

  glps_tool::DemoOptions demo;
  CLI::App* demoCommand = app.add_subcommand(
      "demo",
      "run a small host that writes an application log and an experiment log into DIR, "
      "continuing them from run to run");
  demoCommand->add_option("DIR", demo.directory, "the demo's directory")->required();
  demoCommand
      ->add_option("--messages", demo.messages,
                   "sample messages per run (default 20; about 10000 fill a document past 1 MiB)")
      ->check(CLI::Range(0, 10000000));
  demoCommand->add_option("--runs", demo.runs, "runs of the host (default 1)")
      ->check(CLI::Range(1, 1000));
  demoCommand->add_flag("--crash", demo.crash, "the first run reports a crash of the previous one");
  demoCommand->add_flag("--tamper", demo.tamper,
                        "after the last run, change one byte of the experiment log's document");
  demoCommand
      ->add_option("--experiment", demo.experiment, "the experiment (default \"Titration 7\")")
      ->check(
          [](const std::string& name) {
            return glps_tool::IsUsableExperimentName(name)
                       ? std::string()
                       : std::string("wants a name with at least one letter or digit");
          },
          "NAME");

  glps_tool::VerifyOptions verify;
  bool noProgress = false;
  CLI::App* verifyCommand = app.add_subcommand(
      "verify", "check log directories, with or without the host's info, read-only");
  verifyCommand->footer(std::string(kVerifyDescription) + "\n\n" + kExitStatuses);
  verifyCommand->add_option("DIR", verify.directories, "log directories (with -r: roots)")
      ->required();
  verifyCommand->add_flag("-r,--recursive", verify.recursive,
                          "verify every log directory at or below each DIR, in parallel");
  CLI::Option* info = verifyCommand->add_option(
      "--info", verify.info, "the info the host kept for the one log: HASH:SIZE of its log.xml");
  verifyCommand
      ->add_option("--info-file", verify.infoFile,
                   "infos of many logs, a line each: \"HASH:SIZE PATH\" or the demo's state file")
      ->excludes(info);
  CLI::Option* verifySealKey =
      verifyCommand->add_option("--seal-key", verify.sealKey,
                                "the verification key of a sealed log (one log): check its seals");
  std::string verifySealKeyFile;
  verifyCommand
      ->add_option("--seal-key-file", verifySealKeyFile,
                   "as --seal-key, the key read from FILE (\"-\": standard input), out of sight of "
                   "the machine's other users, who can read a command line")
      ->excludes(verifySealKey);
  verifyCommand->add_flag("--require-info", verify.requireInfo,
                          "a log that neither an info nor its seals authenticate fails (exit "
                          "status 1) instead of 3");
  verifyCommand->add_flag("--json", verify.json,
                          "write JSON (docs/json.md); with many logs, one object per line");
  verifyCommand->add_flag("-q,--quiet", verify.quiet, "print nothing; the exit status only");
  verifyCommand->add_flag("--no-progress", noProgress, "no progress on a terminal");
  verifyCommand->add_option("-j,--jobs", verify.jobs, "logs verified at once (default: cores)")
      ->check(CLI::Range(1, 256));

  std::string showDirectory;
  bool showJson = false;
  bool showQuiet = false;
  CLI::App* showCommand = app.add_subcommand(
      "show", "print a log's header, metadata, catalog and file records from its log.xml");
  showCommand->add_option("DIR", showDirectory, "the log directory")->required();
  showCommand->add_flag("--json", showJson, "write JSON (docs/json.md)");
  showCommand->add_flag("-q,--quiet", showQuiet, "print nothing; the exit status only");

  glps_tool::LogOptions log;
  bool csv = false;
  bool logJson = false;
  CLI::App* logCommand = app.add_subcommand(
      "log", "print a log's entries in order, read back from its documents as it is verified");
  logCommand->footer(
      "Reads the entries from the very bytes the verification fingerprints and marks every entry\n"
      "whose bytes are not intact: (MODIFIED) in a recorded part that differs from its record,\n"
      "(UNSAVED) in a tail after the recorded part, (UNRECORDED) in a document no record holds.\n"
      "The verdict follows the entries; one other than intact also goes to standard error. The\n"
      "entries are written as they are read: --json writes JSON Lines (the log, each entry, the\n"
      "summary). CSV cells that would start a formula begin with an apostrophe.\n"
      "\n" +
      std::string(kExitStatuses));
  logCommand->add_option("DIR", log.directory, "the log directory")->required();
  CLI::Option* csvOption = logCommand->add_flag("--csv", csv, "write CSV (RFC 4180)");
  logCommand->add_flag("--json", logJson, "write JSON Lines (docs/json.md)")->excludes(csvOption);
  logCommand->add_option("--from", log.from,
                         "entries from this time on: YYYY-MM-DD[THH:MM[:SS]][Z|+HH:MM]");
  logCommand->add_option("--to", log.to, "entries up to this time (a date: to its end)");
  logCommand->add_option("--grep", log.grep,
                         "entries whose message, context, user or details match the regular "
                         "expression (POSIX extended)");
  logCommand->add_flag("-i,--ignore-case", log.ignoreCase, "--grep ignores letter case");
  logCommand->add_option("--info", log.info,
                         "the info the host kept for the log: HASH:SIZE of its log.xml");
  CLI::Option* logSealKey = logCommand->add_option(
      "--seal-key", log.sealKey, "the verification key of a sealed log: its seals are checked");
  std::string logSealKeyFile;
  logCommand
      ->add_option("--seal-key-file", logSealKeyFile,
                   "as --seal-key, the key read from FILE (\"-\": standard input)")
      ->excludes(logSealKey);
  logCommand->add_flag("-q,--quiet", log.quiet, "print nothing; the exit status only");

  glps_tool::PdfOptions pdf;
  CLI::App* pdfCommand = app.add_subcommand(
      "pdf", "write a complete, printable copy of a log's trail as one PDF, read-only");
  pdfCommand->description(
      "Writes one PDF of the whole trail: a first page with the log, its time range, the numbers\n"
      "of documents, entries, crash and tamper entries, the verdict of glps verify (with the\n"
      "info or the seal key if given, \"not authenticated\" if not), the SHA-256 of log.xml and\n"
      "room to sign;\n"
      "then every entry of every document in order, crash, extra-note and tamper entries set\n"
      "apart; then the file records and the linked files. Every page names the log and the\n"
      "document and is numbered \"N of M\". The same log and the same --time give the same\n"
      "bytes.\n"
      "\n"
      "Exit status: 0 the copy was written (whatever its verdict), 1 it could not be written,\n"
      "2 usage error, 4 the log cannot be read.");
  pdfCommand->add_option("DIR", pdf.directory, "the log directory")->required();
  pdfCommand
      ->add_option("-o,--output", pdf.output, "the PDF file to write (\"-\": standard output)")
      ->required();
  pdfCommand->add_option("--info", pdf.info,
                         "the info the host kept for the log: HASH:SIZE of its log.xml");
  CLI::Option* pdfSealKey = pdfCommand->add_option(
      "--seal-key", pdf.sealKey,
      "the verification key of a sealed log: the copy states its seals' check");
  std::string pdfSealKeyFile;
  pdfCommand
      ->add_option("--seal-key-file", pdfSealKeyFile,
                   "as --seal-key, the key read from FILE (\"-\": standard input)")
      ->excludes(pdfSealKey);
  pdfCommand->add_option("--time", pdf.time,
                         "the time of the copy: seconds since 1970 or YYYY-MM-DDTHH:MM[:SS]Z "
                         "(default: $SOURCE_DATE_EPOCH, else now)");
  pdfCommand->add_flag("-q,--quiet", pdf.quiet, "print nothing; the exit status only");
  bool pdfNoProgress = false;
  pdfCommand->add_flag("--no-progress", pdfNoProgress, "no progress on a terminal");

  glps_tool::SealInitOptions sealInit;
  bool noQr = false;
  CLI::App* sealCommand = app.add_subcommand("seal", "set up the sealing of a log");
  sealCommand->require_subcommand(1);
  CLI::App* sealInitCommand = sealCommand->add_subcommand(
      "init",
      "seal a log: every later save appends a seal, which glps verify --seal-key checks with the "
      "verification key printed now");
  sealInitCommand->footer(
      "Sets up sealing of the log in DIR (an existing directory; it may hold no log yet), which\n"
      "no host may have open: writes the seal file log.seal with seal 0 over the log as it is\n"
      "now and the first sealing key log.seal-key (mode 0600), and prints the verification key\n"
      "once, on a line beginning \"verification key: \", and on a terminal as a QR code. The key\n"
      "is stored nowhere: give it to the auditors and keep it away from this computer.\n"
      "\n"
      "Exit status: 0 sealing was set up, 1 it was refused or failed, 2 usage error.");
  sealInitCommand->add_option("DIR", sealInit.directory, "the log directory")->required();
  sealInitCommand->add_flag("--no-qr", noQr, "no QR code, even on a terminal");

  std::string helpTopic;
  CLI::App* helpCommand = app.add_subcommand("help", "show the help of glps or of a command");
  helpCommand->add_option("COMMAND", helpTopic, "demo, verify, show, log, pdf or seal");

  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp&) {
    CLI::App* shown = &app;
    for (CLI::App* command : {demoCommand, verifyCommand, showCommand, logCommand, pdfCommand,
                              sealCommand, sealInitCommand}) {
      if (command->parsed()) shown = command;
    }
    std::cout << shown->help();
    return 0;
  } catch (const CLI::CallForVersion& e) {
    std::cout << e.what() << '\n';
    return 0;
  } catch (const CLI::ParseError& e) {
    std::cerr << "glps: " << e.what() << '\n' << kUsage;
    return 2;
  }

  // A key read from a file stands where --seal-key would have put it.
  for (const auto& [command, file, key] :
       {std::make_tuple(verifyCommand, &verifySealKeyFile, &verify.sealKey),
        std::make_tuple(logCommand, &logSealKeyFile, &log.sealKey),
        std::make_tuple(pdfCommand, &pdfSealKeyFile, &pdf.sealKey)}) {
    std::string error;
    if (command->parsed() && !file->empty() && !glps_tool::ReadKeyFile(*file, key, &error)) {
      std::cerr << "glps " << command->get_name() << ": --seal-key-file: " << error << '\n'
                << kUsage;
      return 2;
    }
  }

  int status = 0;
  if (demoCommand->parsed()) {
    status = glps_tool::RunDemo(demo, std::cout, std::cerr);
  } else if (verifyCommand->parsed()) {
    verify.progress = !noProgress;
    status = glps_tool::RunVerify(verify, std::cout, std::cerr, isatty(STDERR_FILENO) == 1);
    if (status == 2) std::cerr << kUsage;
  } else if (showCommand->parsed()) {
    status = glps_tool::RunShow(showDirectory, showJson, showQuiet, std::cout, std::cerr);
  } else if (logCommand->parsed()) {
    log.format = csv       ? glps_tool::LogOptions::Format::kCsv
                 : logJson ? glps_tool::LogOptions::Format::kJson
                           : glps_tool::LogOptions::Format::kText;
    status = glps_tool::RunLog(log, std::cout, std::cerr);
    if (status == 2) std::cerr << kUsage;
  } else if (pdfCommand->parsed()) {
    pdf.progress = !pdfNoProgress;
    status = glps_tool::RunPdf(pdf, std::getenv("SOURCE_DATE_EPOCH"), std::cout, std::cerr,
                               isatty(STDERR_FILENO) == 1);
    if (status == 2) std::cerr << kUsage;
  } else if (sealInitCommand->parsed()) {
    sealInit.qr = !noQr;
    status = glps_tool::RunSealInit(sealInit, std::cout, std::cerr, isatty(STDOUT_FILENO) == 1);
  } else if (helpCommand->parsed()) {
    if (helpTopic.empty()) {
      std::cout << app.help();
      return 0;
    }
    // `help seal` shows its one subcommand, `seal init`.
    for (CLI::App* command :
         {demoCommand, verifyCommand, showCommand, logCommand, pdfCommand, sealInitCommand}) {
      if (command->get_name() == helpTopic ||
          (command == sealInitCommand && (helpTopic == "seal" || helpTopic == "seal init"))) {
        std::cout << command->help();
        return 0;
      }
    }
    std::cerr << "glps: no command '" << helpTopic << "'\n" << kUsage;
    return 2;
  } else {
    std::cerr << "glps: no command given\n" << kUsage;
    return 2;
  }
  std::cout.flush();
  if (!std::cout) {
    std::cerr << "glps: cannot write the output\n";
    return 4;
  }
  return status;
}
