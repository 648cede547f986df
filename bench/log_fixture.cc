// SPDX-License-Identifier: Apache-2.0
#include "log_fixture.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <system_error>

#include <boost/make_shared.hpp>

#include "crypto/md5_hash.h"
#include "filemanager/file_manager_data.h"
#include "files/glps_file_html.h"
#include "glps/host/gen.h"
#include "glps/host/services.h"
#include "session/session_data_storage.h"
#include "support/records.h"
#include "support/stored_records.h"
#include "support/temp_dir.h"

namespace glps_bench {
namespace {

const unsigned kTextLogName = 18630;

// Writes the file and returns its fingerprint text.
std::string WriteFingerprinted(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out.close();
  if (!out) throw std::runtime_error("cannot write " + path);
  return glps_test::Fingerprint(bytes);
}

// `size` bytes of entries as the service writes them: prefix, message, line break. With `number`,
// the entries are numbered from *number on, and *number is left at the next.
std::string DocumentContent(const std::string& name, std::int64_t size,
                            std::int64_t* number = nullptr) {
  std::string text = "<I>(" + name + ")<BR><BR></I>";
  static const std::string kEntry =
      "&nbsp; 2024-05-01&nbsp; 10:11:12 +02:00&nbsp; tester&nbsp; "
      "<B>Sample S-0042 weighed: 12.3456 g on balance B-07 (checked).</B><BR>\n";
  text.reserve(static_cast<std::size_t>(size));
  while (static_cast<std::int64_t>(text.size()) < size) {
    text += number != nullptr ? std::to_string((*number)++) : std::string("1234");
    text += kEntry;
  }
  text.resize(static_cast<std::size_t>(size));
  return text;
}

// The sidecar of a document without entities, as the document writes it.
std::string EmptySidecar(const std::string& scratch) {
  std::filesystem::create_directories(scratch);
  const std::string path = scratch + "/sidecar-template.html";
  {
    KECGlpsFileHtml document(path, std::string(), 0, nullptr);
    if (!document.SaveMetaData()) throw std::runtime_error("cannot write a sidecar");
  }
  const std::string text = glps_test::ReadFileBytes(scratch + "/sidecar-template.xml");
  RemoveTree(scratch);
  return text;
}

}  // namespace

std::string ExperimentBaseName(const std::string& experiment) {
  return Txts::GetString(kTextLogName) + "-" + experiment;
}

LogFixture MakeLog(const std::string& directory, const std::string& experiment, unsigned documents,
                   std::int64_t documentSize, std::int64_t lastSize, bool numbered) {
  RemoveTree(directory);
  std::filesystem::create_directories(directory);
  LogFixture log;
  log.directory = directory;
  log.experiment = experiment;

  const std::string sidecar = EmptySidecar(directory + "/.template");
  auto files = boost::make_shared<std::vector<KECGlpsFileManagerData>>();
  const std::string baseName = ExperimentBaseName(experiment);
  // Documents of one size share their content; only the caption differs, which is not worth a
  // fresh buffer per document.
  std::string content;
  std::int64_t contentSize = -1;
  std::int64_t number = 1;
  for (unsigned i = 0; i < documents; ++i) {
    const std::string name = KCGenFileUtils::MakeNameExtension(
        KECBaseNameUtils::MakeDefaultName(baseName, i + 1), "html");
    const std::int64_t size = i + 1 == documents ? lastSize : documentSize;
    if (size != contentSize || numbered) {
      content = DocumentContent(name, size, numbered ? &number : nullptr);
      contentSize = size;
    }
    const std::string path = directory + "/" + name;
    files->push_back(
        glps_test::MakeRecord(Glps::FileLog, name, WriteFingerprinted(path, content), size, true));
    log.protectedFiles.push_back(path);
    log.protectedBytes += size;
    log.documentBytes += size;

    const std::string sidecarName = KCGenFileUtils::MakeNameExtension(name, "xml");
    const std::string sidecarPath = directory + "/" + sidecarName;
    files->push_back(glps_test::MakeRecord(Glps::FileMetaData, sidecarName,
                                           WriteFingerprinted(sidecarPath, sidecar),
                                           static_cast<std::int64_t>(sidecar.size()), true));
    log.protectedFiles.push_back(sidecarPath);
    log.protectedBytes += static_cast<std::int64_t>(sidecar.size());
    // The index pages are registered by the opening that starts the second document.
    if (i == 1) {
      files->push_back(glps_test::MakeRecord(Glps::FileIndexMain, "GLP-Main.html", "", 0, false));
      files->push_back(glps_test::MakeRecord(Glps::FileIndexMenu, "GLP-Menu.html", "", 0, false));
    }
  }
  log.records = files->size();
  log.lastDocumentSize = lastSize;

  const std::string logXml = directory + "/log.xml";
  KECGlpsLogSessionDataStorage storage(logXml);
  storage.PutFileData(files);
  if (!storage.Save()) throw std::runtime_error("cannot write " + logXml);
  log.info = storage.GetLogInfo();
  log.logXmlBytes = log.info.m_nLogSize;
  return log;
}

std::string MakeScratchDirectory() {
  const char* base = std::getenv("GLPS_BENCH_DIR");
  return glps_test::MakeTempDirectory((base != nullptr && *base != '\0')
                                          ? std::string(base)
                                          : std::filesystem::temp_directory_path().string(),
                                      "glps-bench-");
}

}  // namespace glps_bench
