// SPDX-License-Identifier: Apache-2.0
// Writes the seed corpus of the fuzz targets: log.xml files, document sidecars and whole experiment
// log directories as the library writes them, and a few variants (a version-0 catalog, bare LF line
// ends, a damaged directory). The corpus in
// fuzz/corpus/ was made with this program:
//
//   glps_fuzz_make_seeds fuzz/corpus
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

#include "files/glps_file_html.h"
#include "glps/glps.h"
#include "log_dir_input.h"
#include "session/session_data_storage.h"
#include "support/host.h"
#include "support/records.h"
#include "support/temp_dir.h"

namespace fs = std::filesystem;

namespace {

void WriteFile(const fs::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
  if (!out) throw std::runtime_error("cannot write " + path.string());
}

std::string WithoutCr(std::string text) {
  std::string out;
  for (char c : text) {
    if (c != '\r') out += c;
  }
  return out;
}

// Replaces the one occurrence of `from`; the variant cannot be made otherwise.
std::string ReplaceOnce(const std::string& text, const std::string& from, const std::string& to) {
  const auto at = text.find(from);
  if (at == std::string::npos || text.find(from, at + 1) != std::string::npos) {
    throw std::runtime_error("seed variant: no single \"" + from + "\"");
  }
  return text.substr(0, at) + to + text.substr(at + from.size());
}

void MakeLogXmlSeeds(const fs::path& work, const fs::path& out) {
  fs::create_directories(out);
  {
    KECGlpsLogSessionDataStorage storage((work / "new.xml").string());
    if (!storage.Save()) throw std::runtime_error("save of a new log failed");
    WriteFile(out / "new-log.xml", glps_test::ReadFileBytes((work / "new.xml").string()));
  }
  KECGlpsLogSessionDataStorage storage((work / "full.xml").string());
  KECGlpsLogHeader& header = *storage.GetHeader();
  header.m_eContentType = static_cast<KCGenStandardFileHeader::EContentType>(12);
  header.m_usContentVersion = 3;
  header.m_tmCreation = KCGenTime::FromMicroseconds(1765349128123456);
  header.m_strUserCreation = "jdoe";
  header.m_tmModification = KCGenTime::FromMicroseconds(1765352728000000);
  header.m_strUserModification = "O'Neil & <lab>";
  header.m_strSource = "Titration 7\r\nsecond line";
  header.m_eDescription = static_cast<KCGenStandardFileHeader::EDescription>(1);
  header.m_strDescription = "  blanks \t ";
  header.m_guid = KCGenGUID("{D15149F8-F127-4781-B1F6-3C762D712E15}");
  KECGlpsLogMetaData& meta = *storage.GetMetaData();
  meta.m_strVersionOriginal = "4.0.1";
  meta.m_guidOriginal = KCGenGUID("{00000000-0000-0000-0000-000000000001}");
  meta.m_strExpName = "Titration 7";
  storage.GetCatalog()->m_lNextIndex = 42;
  storage.GetCatalog()->m_merCodingSchemeInfo = {false, 7};
  auto& records = *storage.GetFileData();
  records.push_back(glps_test::MakeRecord(Glps::FileLog, "GLP-Log-0001.html",
                                          "1B2M2Y8AsgTpgAmY7PhCfg==", 1048600, true));
  records.push_back(glps_test::MakeRecord(Glps::FileMetaData, "GLP-Log-0001.xml",
                                          "XUFAKrxLKna5cZ2REBfFkg==", 402, true));
  records.push_back(glps_test::MakeRecord(Glps::FileLog, "GLP-Log-0002.html", "", 0, true));
  records.push_back(glps_test::MakeRecord(Glps::FileIndexMain, "GLP-Main.html", "", 0, false));
  records.push_back(glps_test::MakeRecord(Glps::FileIndexMenu, "GLP-Menu.html", "", 0, false));
  records.push_back(glps_test::MakeRecord(Glps::FileLink, "spectrum & <raw>.csv",
                                          "ICy5YqxZB1uWSwcVLSNLcA==", std::int64_t{1} << 33, true));
  if (!storage.Save()) throw std::runtime_error("save of a full log failed");
  const std::string full = glps_test::ReadFileBytes((work / "full.xml").string());
  WriteFile(out / "full-log.xml", full);
  WriteFile(out / "full-log-lf.xml", WithoutCr(full));
  // A catalog as written before the coding-scheme pair existed: version 0, no pair.
  std::string v0 = ReplaceOnce(full, "class_id=\"6\" tracking_level=\"1\" version=\"1\"",
                               "class_id=\"6\" tracking_level=\"1\" version=\"0\"");
  const auto pairBegin = v0.find("<m_merCodingSchemeInfo");
  const std::string pairEnd = "</m_merCodingSchemeInfo>\r\n";
  const auto pairStop = v0.find(pairEnd);
  if (pairBegin == std::string::npos || pairStop == std::string::npos) {
    throw std::runtime_error("seed variant: no coding-scheme pair");
  }
  const auto lineBegin = v0.rfind('\n', pairBegin) + 1;
  v0.erase(lineBegin, pairStop + pairEnd.size() - lineBegin);
  // Class ids after the pair's move down by one.
  for (int id = 8; id <= 10; ++id) {
    v0 = ReplaceOnce(v0, "class_id=\"" + std::to_string(id) + "\"",
                     "class_id=\"" + std::to_string(id - 1) + "\"");
  }
  WriteFile(out / "catalog-v0.xml", v0);

  // Every seed must load, or the fuzzer would start from rejected files only.
  for (const char* name : {"new-log.xml", "full-log.xml", "full-log-lf.xml", "catalog-v0.xml"}) {
    KECGlpsLogSessionDataStorage check((out / name).string());
    if (!check.Load()) throw std::runtime_error(std::string("seed does not load: ") + name);
    if (check.GetFileData()->size() != (std::string(name) == "new-log.xml" ? 0u : records.size())) {
      throw std::runtime_error(std::string("seed loads other records: ") + name);
    }
  }
}

void MakeSidecarSeeds(const fs::path& work, const fs::path& out) {
  fs::create_directories(out);
  {
    KECGlpsFileHtml html((work / "empty.html").string(), "", 0, nullptr);
    if (!html.SaveMetaData()) throw std::runtime_error("save of an empty sidecar failed");
    WriteFile(out / "no-entities.xml", glps_test::ReadFileBytes((work / "empty.xml").string()));
  }
  KECGlpsFileHtml html((work / "doc.html").string(), "", 0, nullptr);
  const KCGenGUID a("{6F9619FF-8B86-D011-B42D-00C04FC964FF}");
  const KCGenGUID b("{00000000-0000-0000-0000-000000000000}");
  html.AddEntity(KECGlpsLogMetaDataEntity(static_cast<Glps::ELogEntity>(3), 17, a));
  html.AddEntity(KECGlpsLogMetaDataEntity(static_cast<Glps::ELogEntity>(3), 17, a));
  html.AddEntity(KECGlpsLogMetaDataEntity(static_cast<Glps::ELogEntity>(5), -1, b));
  if (!html.SaveMetaData()) throw std::runtime_error("save of a sidecar failed");
  const std::string three = glps_test::ReadFileBytes((work / "doc.xml").string());
  WriteFile(out / "three-entities.xml", three);
  WriteFile(out / "three-entities-lf.xml", WithoutCr(three));

  for (const char* name : {"no-entities.xml", "three-entities.xml", "three-entities-lf.xml"}) {
    fs::copy_file(out / name, work / "check.xml", fs::copy_options::overwrite_existing);
    KECGlpsFileHtml check((work / "check.html").string(), "", 0, nullptr);
    if (!check.LoadMetaData()) throw std::runtime_error(std::string("seed does not load: ") + name);
  }
}

// An experiment log written through the public interface: two openings, messages, an entity, a
// linked file; packed whole with its log info, and once more damaged.
void MakeLogDirectorySeeds(const fs::path& work, const fs::path& out) {
  fs::create_directories(out);
  const fs::path directory = work / "experiment";
  fs::create_directories(directory);
  glps_test::PrepareHost((work / "applog").string(), "analyst");
  KECGlpsServices* service = KECGlpsServices::Instance();
  const KECGlpsLogInfoExperiment experiment = glps_test::Experiment("Titration 7");
  KECGlpsLogInfo info;
  for (int opening = 0; opening < 2; ++opening) {
    unsigned int error = 0;
    bool opened = false;
    bool ok = service->LogExpInit(directory.string(), true, info, KECGlpsLogInfoCrash(), experiment,
                                  &error, &opened);
    ok = ok && service->LogExpMsg("Sample " + std::to_string(opening) + " weighed: 1.0032 g <ok>");
    if (opening == 0) {
      WriteFile(directory / "spectrum.csv", "nm;abs\n480;0.12\n");
      ok = ok && service->LogExpLink("spectrum.csv");
      ok = ok && service->LogExpMetaDataEntity(
                     KECGlpsLogMetaDataEntity(static_cast<Glps::ELogEntity>(3), 17,
                                              KCGenGUID("{6F9619FF-8B86-D011-B42D-00C04FC964FF}")));
    }
    ok = service->LogExpExit(&info) && ok;
    if (!ok) throw std::runtime_error("writing the experiment log failed");
  }
  glps_test::ReleaseHost();

  glps_fuzz::PackedDirectory packed;
  packed.logXml = glps_test::ReadFileBytes((directory / "log.xml").string());
  std::vector<fs::path> files;
  for (const auto& entry : fs::directory_iterator(directory)) files.push_back(entry.path());
  std::sort(files.begin(), files.end());
  for (const fs::path& file : files) {
    if (file.filename() == "log.xml") continue;
    packed.entries.push_back(
        {'f', file.filename().string(), glps_test::ReadFileBytes(file.string())});
  }
  glps_fuzz::PackedDirectory intact = packed;
  intact.entries.push_back({'i', info.m_strLogHash + ":" + std::to_string(info.m_nLogSize), ""});
  WriteFile(out / "intact.log", glps_fuzz::Pack(intact));

  // Damaged: a document grown, the linked file replaced by a link, a sidecar gone, strangers in
  // the directory, and an info that does not match.
  glps_fuzz::PackedDirectory damaged;
  damaged.logXml = packed.logXml;
  for (glps_fuzz::PackedEntry entry : packed.entries) {
    if (entry.name.size() > 4 && entry.name.compare(entry.name.size() - 4, 4, ".xml") == 0) {
      continue;
    }
    if (entry.name == "spectrum.csv") entry = {'l', entry.name, "GLP-Main.html"};
    if (entry.name.compare(0, 7, "GLP-Log") == 0) entry.content += "<p>appended later</p>";
    damaged.entries.push_back(entry);
  }
  damaged.entries.push_back({'f', "notes \x01\xff.txt", "not registered"});
  damaged.entries.push_back({'d', "subdirectory", ""});
  damaged.entries.push_back({'p', "pipe", ""});
  damaged.entries.push_back({'i', "AAAA:12", ""});
  WriteFile(out / "damaged.log", glps_fuzz::Pack(damaged));
  if (glps_fuzz::Unpack(glps_fuzz::Pack(damaged)).entries.size() != damaged.entries.size()) {
    throw std::runtime_error("a packed directory does not unpack to its entries");
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s <corpus directory>\n", argv[0]);
    return 2;
  }
  try {
    const fs::path out(argv[1]);
    const glps_test::TempDir work(fs::temp_directory_path().string(), "glps-seeds-");
    MakeLogXmlSeeds(work.path(), out / "log_xml");
    MakeSidecarSeeds(work.path(), out / "sidecar");
    MakeLogDirectorySeeds(work.path(), out / "verify_dir");
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
  return 0;
}
