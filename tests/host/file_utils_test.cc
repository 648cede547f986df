// SPDX-License-Identifier: Apache-2.0
// KCGenFileUtils and KCGenCryptUtils::GetFileHash against real files in a temporary directory.
#include <openssl/evp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "glps/host/gen.h"
#include "support/temp_dir.h"

namespace {

using glps_test::ReadFileBytes;
using glps_test::TempDir;
using glps_test::WriteFileBytes;

// Bytes that are not all alike, so that a shifted or repeated chunk would show.
std::string PatternBytes(std::size_t size) {
  std::string bytes(size, '\0');
  std::uint32_t x = 12345;
  for (char& c : bytes) {
    x = x * 1103515245u + 12345u;
    c = static_cast<char>(x >> 24);
  }
  return bytes;
}

class FileUtils : public ::testing::Test {
 protected:
  TempDir m_dir;
};

TEST_F(FileUtils, ExistsAndSizeSeeOnlyRegularFiles) {
  WriteFileBytes(m_dir / "file", "12345");
  ASSERT_EQ(mkdir((m_dir / "dir").c_str(), 0755), 0);
  ASSERT_EQ(symlink((m_dir / "file").c_str(), (m_dir / "link").c_str()), 0);
  WriteFileBytes(m_dir / "empty", "");

  EXPECT_TRUE(KCGenFileUtils::FileExists(m_dir / "file"));
  EXPECT_TRUE(KCGenFileUtils::FileExists(m_dir / "empty"));
  EXPECT_FALSE(KCGenFileUtils::FileExists(m_dir / "missing"));
  EXPECT_FALSE(KCGenFileUtils::FileExists(m_dir / "dir"));
  EXPECT_FALSE(KCGenFileUtils::FileExists(m_dir / "link"));
  EXPECT_FALSE(KCGenFileUtils::FileExists(""));

  EXPECT_EQ(KCGenFileUtils::FileGetSize(m_dir / "file"), 5);
  EXPECT_EQ(KCGenFileUtils::FileGetSize(m_dir / "empty"), 0);
  EXPECT_EQ(KCGenFileUtils::FileGetSize(m_dir / "missing"), 0);
  EXPECT_EQ(KCGenFileUtils::FileGetSize(m_dir / "dir"), 0);
  EXPECT_EQ(KCGenFileUtils::FileGetSize(m_dir / "link"), 0);
}

TEST_F(FileUtils, ReadOnlyMeansAllWriteBitsClearEvenForRoot) {
  struct Case {
    mode_t mode;
    bool readOnly;
  };
  const std::vector<Case> cases = {
      {0444, true},  {0400, true},  {0555, true},  {0000, true},
      {0644, false}, {0200, false}, {0464, false}, {0446, false},
  };
  for (const Case& c : cases) {
    const std::string path = m_dir / "f";
    WriteFileBytes(path, "x");
    ASSERT_EQ(chmod(path.c_str(), c.mode), 0);
    EXPECT_EQ(KCGenFileUtils::FileIsReadOnly(path, true), c.readOnly) << std::oct << c.mode;
    if (c.readOnly) {
      EXPECT_TRUE(KCGenFileUtils::FileIsReadOnly(path, false)) << std::oct << c.mode;
    }
    chmod(path.c_str(), 0644);
    unlink(path.c_str());
  }
  EXPECT_FALSE(KCGenFileUtils::FileIsReadOnly(m_dir / "missing", true));
  EXPECT_FALSE(KCGenFileUtils::FileIsReadOnly(m_dir / "missing", false));
  // A link to a read-only file is not a read-only file.
  WriteFileBytes(m_dir / "ro", "x");
  chmod((m_dir / "ro").c_str(), 0444);
  ASSERT_EQ(symlink((m_dir / "ro").c_str(), (m_dir / "link").c_str()), 0);
  EXPECT_FALSE(KCGenFileUtils::FileIsReadOnly(m_dir / "link", true));
}

TEST_F(FileUtils, CopyCreatesAndOverwritesWithExactContent) {
  const std::string big = PatternBytes(3 * 64 * 1024 + 17);  // several chunks and a partial one
  WriteFileBytes(m_dir / "src", big);

  EXPECT_TRUE(KCGenFileUtils::Copy_File(m_dir / "src", m_dir / "new", false));
  EXPECT_EQ(ReadFileBytes(m_dir / "new"), big);

  // Overwriting a longer file leaves no stale tail.
  WriteFileBytes(m_dir / "small", "short");
  WriteFileBytes(m_dir / "longer", PatternBytes(500000));
  EXPECT_TRUE(KCGenFileUtils::Copy_File(m_dir / "small", m_dir / "longer", false));
  EXPECT_EQ(ReadFileBytes(m_dir / "longer"), "short");

  // An empty source gives an empty target.
  WriteFileBytes(m_dir / "empty", "");
  EXPECT_TRUE(KCGenFileUtils::Copy_File(m_dir / "empty", m_dir / "longer", false));
  EXPECT_EQ(ReadFileBytes(m_dir / "longer"), "");

  // failIfExists keeps an existing target and still copies to a new one.
  WriteFileBytes(m_dir / "kept", "kept");
  EXPECT_FALSE(KCGenFileUtils::Copy_File(m_dir / "small", m_dir / "kept", true));
  EXPECT_EQ(ReadFileBytes(m_dir / "kept"), "kept");
  EXPECT_TRUE(KCGenFileUtils::Copy_File(m_dir / "small", m_dir / "fresh", true));
  EXPECT_EQ(ReadFileBytes(m_dir / "fresh"), "short");
}

TEST_F(FileUtils, CopyFailuresLeaveFilesAsTheyWere) {
  WriteFileBytes(m_dir / "src", "source bytes");

  // Missing source: no target appears.
  EXPECT_FALSE(KCGenFileUtils::Copy_File(m_dir / "missing", m_dir / "t1", false));
  EXPECT_FALSE(KCGenFileUtils::FileExists(m_dir / "t1"));

  // Copying a file onto itself (by its own path, by another spelling, or through a hard link)
  // must not truncate it.
  EXPECT_FALSE(KCGenFileUtils::Copy_File(m_dir / "src", m_dir / "src", false));
  EXPECT_FALSE(KCGenFileUtils::Copy_File(m_dir / "src", m_dir.path() + "/./src", false));
  ASSERT_EQ(link((m_dir / "src").c_str(), (m_dir / "hard").c_str()), 0);
  EXPECT_FALSE(KCGenFileUtils::Copy_File(m_dir / "src", m_dir / "hard", false));
  EXPECT_EQ(ReadFileBytes(m_dir / "src"), "source bytes");

  // A read-only target is not overwritten, even by root.
  WriteFileBytes(m_dir / "ro", "read only");
  chmod((m_dir / "ro").c_str(), 0444);
  EXPECT_FALSE(KCGenFileUtils::Copy_File(m_dir / "src", m_dir / "ro", false));
  EXPECT_EQ(ReadFileBytes(m_dir / "ro"), "read only");

  // Neither end may be a symbolic link; the link's target stays untouched.
  WriteFileBytes(m_dir / "victim", "victim");
  ASSERT_EQ(symlink((m_dir / "victim").c_str(), (m_dir / "link").c_str()), 0);
  EXPECT_FALSE(KCGenFileUtils::Copy_File(m_dir / "src", m_dir / "link", false));
  EXPECT_EQ(ReadFileBytes(m_dir / "victim"), "victim");
  EXPECT_FALSE(KCGenFileUtils::Copy_File(m_dir / "link", m_dir / "t2", false));
  EXPECT_FALSE(KCGenFileUtils::FileExists(m_dir / "t2"));

  // A directory is neither source nor target; a missing target directory fails.
  ASSERT_EQ(mkdir((m_dir / "dir").c_str(), 0755), 0);
  EXPECT_FALSE(KCGenFileUtils::Copy_File(m_dir / "dir", m_dir / "t3", false));
  EXPECT_FALSE(KCGenFileUtils::Copy_File(m_dir / "src", m_dir / "dir", false));
  EXPECT_FALSE(KCGenFileUtils::Copy_File(m_dir / "src", m_dir / "nodir/t", false));
}

TEST_F(FileUtils, CreateMakesAnEmptyFileAndTruncates) {
  EXPECT_TRUE(KCGenFileUtils::Create_File(m_dir / "a"));
  EXPECT_TRUE(KCGenFileUtils::FileExists(m_dir / "a"));
  EXPECT_EQ(KCGenFileUtils::FileGetSize(m_dir / "a"), 0);

  WriteFileBytes(m_dir / "b", "content");
  EXPECT_TRUE(KCGenFileUtils::Create_File(m_dir / "b"));
  EXPECT_EQ(ReadFileBytes(m_dir / "b"), "");

  WriteFileBytes(m_dir / "victim", "victim");
  ASSERT_EQ(symlink((m_dir / "victim").c_str(), (m_dir / "link").c_str()), 0);
  EXPECT_FALSE(KCGenFileUtils::Create_File(m_dir / "link"));
  EXPECT_EQ(ReadFileBytes(m_dir / "victim"), "victim");

  WriteFileBytes(m_dir / "ro", "read only");
  chmod((m_dir / "ro").c_str(), 0444);
  EXPECT_FALSE(KCGenFileUtils::Create_File(m_dir / "ro"));
  EXPECT_EQ(ReadFileBytes(m_dir / "ro"), "read only");

  EXPECT_FALSE(KCGenFileUtils::Create_File(m_dir / "nodir/a"));
  EXPECT_FALSE(KCGenFileUtils::Create_File(""));
}

TEST_F(FileUtils, DeleteRemovesFilesAndTreatsMissingAsDeleted) {
  WriteFileBytes(m_dir / "a", "x");
  EXPECT_TRUE(KCGenFileUtils::Delete_File(m_dir / "a"));
  EXPECT_FALSE(KCGenFileUtils::FileExists(m_dir / "a"));
  EXPECT_TRUE(KCGenFileUtils::Delete_File(m_dir / "a"));
  EXPECT_TRUE(KCGenFileUtils::Delete_File(m_dir / "never-there"));

  ASSERT_EQ(mkdir((m_dir / "dir").c_str(), 0755), 0);
  EXPECT_FALSE(KCGenFileUtils::Delete_File(m_dir / "dir"));
  struct stat st;
  EXPECT_EQ(stat((m_dir / "dir").c_str(), &st), 0);

  WriteFileBytes(m_dir / "target", "x");
  ASSERT_EQ(symlink((m_dir / "target").c_str(), (m_dir / "link").c_str()), 0);
  EXPECT_TRUE(KCGenFileUtils::Delete_File(m_dir / "link"));
  EXPECT_TRUE(KCGenFileUtils::FileExists(m_dir / "target"));
  EXPECT_NE(lstat((m_dir / "link").c_str(), &st), 0);
}

TEST(FileNames, ExtractFileName) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"/a/b/c.html", "c.html"}, {"c.html", "c.html"}, {"a/b/", ""}, {"", ""}, {"/x", "x"},
  };
  for (const auto& c : cases) EXPECT_EQ(KCGenFileUtils::ExtractFileName(c.first), c.second);
}

TEST(FileNames, MakeNameExtension) {
  struct Case {
    std::string name, ext, expected;
  };
  const std::vector<Case> cases = {
      {"a/b.html", "xml", "a/b.xml"},
      {"a/b", "xml", "a/b.xml"},
      {"b.html", "xml", "b.xml"},
      {"b", "html", "b.html"},
      {"b.tar.gz", "xml", "b.tar.xml"},
      {"d.x/b", "xml", "d.x/b.xml"},  // a dot in a directory is not an extension
      {"d.x/b.y", "xml", "d.x/b.xml"},
      {".profile", "xml", ".profile.xml"},
      {"a/.profile", "xml", "a/.profile.xml"},
      {"b.html", ".xml", "b.xml"},
      {"b.html", "", "b"},
      {"b.", "xml", "b.xml"},
      {"GLP-Log-Kelvara_0001", "html", "GLP-Log-Kelvara_0001.html"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(KCGenFileUtils::MakeNameExtension(c.name, c.ext), c.expected)
        << c.name << " + " << c.ext;
  }
}

TEST(FileNames, MakeNamePath) {
  struct Case {
    std::string dir, name, expected;
  };
  const std::vector<Case> cases = {
      {"/log", "log.xml", "/log/log.xml"},
      {"/log/", "log.xml", "/log/log.xml"},
      {"/log//", "/log.xml", "/log/log.xml"},
      {"", "log.xml", "log.xml"},
      {"/", "log.xml", "/log.xml"},
      {"rel", "a", "rel/a"},
      {"/log", "", "/log/"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(KCGenFileUtils::MakeNamePath(c.dir, c.name), c.expected) << c.dir << " + " << c.name;
  }
}

// ---- KCGenCryptUtils ----------------------------------------------------------------------------

std::string Sha256Base64(const std::string& bytes) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  EVP_Digest(bytes.data(), bytes.size(), digest, &length, EVP_sha256(), nullptr);
  unsigned char text[100];
  const int n = EVP_EncodeBlock(text, digest, static_cast<int>(length));
  return std::string(reinterpret_cast<char*>(text), static_cast<std::size_t>(n));
}

// The output of a shell command, or "" when it fails.
std::string CommandOutput(const std::string& command) {
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return std::string();
  std::string out;
  char buffer[256];
  while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) out += buffer;
  if (pclose(pipe) != 0) return std::string();
  while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
  return out;
}

TEST_F(FileUtils, FileHashIsSha256InBase64) {
  KCGenCryptUtils* crypt = KCGenCryptUtils::Instance();
  crypt->InitCrypto();
  WriteFileBytes(m_dir / "empty", "");
  WriteFileBytes(m_dir / "abc", "abc");
  EXPECT_EQ(crypt->GetFileHash(m_dir / "empty"), "47DEQpj8HBSa+/TImW+5JCeuQeRkm5NMpJWZG3hSuFU=");
  EXPECT_EQ(crypt->GetFileHash(m_dir / "abc"), "ungWv48Bz+pBQUDeXa4iI7ADYaOWF3qctBD/YfIAFa0=");

  // Several read chunks and a partial one.
  const std::string big = PatternBytes(5 * 64 * 1024 + 123);
  WriteFileBytes(m_dir / "big", big);
  const std::string hash = crypt->GetFileHash(m_dir / "big");
  EXPECT_EQ(hash.size(), 44u);
  EXPECT_EQ(hash, Sha256Base64(big));
  const std::string cli =
      CommandOutput("openssl dgst -sha256 -binary '" + (m_dir / "big") + "' | base64 -w0");
  if (!cli.empty()) {
    EXPECT_EQ(hash, cli);
  }

  // One changed byte changes the hash; equal content in another file gives the same one.
  std::string changed = big;
  changed[100000] = static_cast<char>(changed[100000] ^ 1);
  WriteFileBytes(m_dir / "changed", changed);
  WriteFileBytes(m_dir / "same", big);
  EXPECT_NE(crypt->GetFileHash(m_dir / "changed"), hash);
  EXPECT_EQ(crypt->GetFileHash(m_dir / "same"), hash);
  crypt->ExitCrypto();
  EXPECT_EQ(crypt->GetFileHash(m_dir / "same"), hash);
}

TEST_F(FileUtils, FileHashIsEmptyWhenThereIsNoFileToRead) {
  KCGenCryptUtils* crypt = KCGenCryptUtils::Instance();
  ASSERT_EQ(mkdir((m_dir / "dir").c_str(), 0755), 0);
  ASSERT_EQ(mkfifo((m_dir / "fifo").c_str(), 0644), 0);  // must not block
  WriteFileBytes(m_dir / "file", "x");
  ASSERT_EQ(symlink((m_dir / "file").c_str(), (m_dir / "link").c_str()), 0);
  for (const char* name : {"missing", "dir", "fifo", "link"}) {
    EXPECT_EQ(crypt->GetFileHash(m_dir / name), "") << name;
  }
  EXPECT_EQ(crypt->GetFileHash(""), "");
}

}  // namespace
