// SPDX-License-Identifier: Apache-2.0
// The seal file's format and the cryptography under it: known answers, lines read back, and lines
// that are not the writer's own refused.
#include "seal/seal_format.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "crypto/seal_crypto.h"
#include "glps/host/gen.h"

namespace {

using glps::crypto::SecretKey;
namespace seal = glps::seal;

SecretKey KeyOfBytes(unsigned char first) {
  unsigned char bytes[SecretKey::kSize];
  for (std::size_t i = 0; i < sizeof(bytes); ++i) bytes[i] = static_cast<unsigned char>(first + i);
  SecretKey key;
  key.Assign(bytes);
  return key;
}

TEST(SealCrypto, KnownAnswers) {
  // HMAC-SHA-256 with a 32-byte key (as `openssl dgst -sha256 -mac HMAC` computes it).
  const std::string data = "what do ya want for nothing?";
  EXPECT_EQ(glps::crypto::HmacSha256Hex(KeyOfBytes(0), data.data(), data.size()),
            "099805f4ac310786968565c098db515cc50862b420ae31e20238312344bed36a");

  // HKDF-Expand: RFC 5869, test case 1 (its PRK, info and output).
  const unsigned char prk[] = {0x07, 0x77, 0x09, 0x36, 0x2c, 0x2e, 0x32, 0xdf, 0x0d, 0xdc, 0x3f,
                               0x0d, 0xc4, 0x7b, 0xba, 0x63, 0x90, 0xb6, 0xc7, 0x3b, 0xb5, 0x0f,
                               0x9c, 0x31, 0x22, 0xec, 0x84, 0x4a, 0xd7, 0xc2, 0xb3, 0xe5};
  SecretKey key;
  key.Assign(prk);
  const std::string info = "\xf0\xf1\xf2\xf3\xf4\xf5\xf6\xf7\xf8\xf9";
  unsigned char okm[42];
  ASSERT_TRUE(glps::crypto::HkdfExpand(key, info, okm, sizeof(okm)));
  static const char kDigits[] = "0123456789abcdef";
  std::string hex;
  for (unsigned char c : okm) hex += std::string{kDigits[c >> 4], kDigits[c & 15]};
  EXPECT_EQ(hex,
            "3cb25f25faacd57a90434f64d0362f2a2d2d0a90cf1a5a4c5db02d56ecc4c5bf34007208d5b887185865");

  glps::crypto::Sha256Hash sha256;
  sha256.Update("abc", 3);
  EXPECT_EQ(sha256.FinishText(), "ungWv48Bz+pBQUDeXa4iI7ADYaOWF3qctBD/YfIAFa0=");
  EXPECT_FALSE(sha256.Update("d", 1));  // ended
}

TEST(SealCrypto, KeysStepOneWayAndNameTheirLog) {
  const SecretKey k0 = KeyOfBytes(7);
  SecretKey k1, again;
  ASSERT_TRUE(seal::NextKey(k0, &k1));
  ASSERT_TRUE(seal::NextKey(k0, &again));
  EXPECT_TRUE(k1.Equals(again));
  EXPECT_FALSE(k1.Equals(k0));
  EXPECT_EQ(seal::LogIdOf(k0).size(), 32u);
  EXPECT_NE(seal::LogIdOf(k0), seal::LogIdOf(k1));

  // The verification key as people handle it, and back.
  const std::string text = seal::VerificationKeyText(k0);
  EXPECT_EQ(text, "0708090a-0b0c0d0e-0f101112-13141516-1718191a-1b1c1d1e-1f202122-23242526");
  SecretKey read;
  ASSERT_TRUE(seal::ParseVerificationKey(text, &read));
  EXPECT_TRUE(read.Equals(k0));
  std::string loose = text;
  for (char& c : loose) c = (c == '-') ? ' ' : static_cast<char>(std::toupper(c));
  ASSERT_TRUE(seal::ParseVerificationKey(loose, &read));
  EXPECT_TRUE(read.Equals(k0));
  const std::string bad[] = {
      std::string(), text.substr(1), text + "0", text + "g",
      "0708090a:0b0c0d0e-0f101112-13141516-1718191a-1b1c1d1e-1f202122-23242526"};
  for (const std::string& text : bad) {
    EXPECT_FALSE(seal::ParseVerificationKey(text, &read)) << text;
  }
}

seal::SealLine SampleLine() {
  seal::SealLine line;
  line.number = 12;
  line.time = "2026-12-10T15:10:24.000123Z";
  line.logXml.m_strLogHash = "GuQSkkUBNwvsq+2+FtoWpBiO7IM285hjJeqoXErCPMA=";
  line.logXml.m_nLogSize = 2691;
  seal::SealedFile document{Glps::FileLog, "GLP-Log-E_0001.html", 1947,
                            "1B2M2Y8AsgTpgAmY7PhCfg==", ""};
  // A name with blanks, separators, a percent sign and bytes that are not ASCII.
  seal::SealedFile link{Glps::FileLink, "run 7: 100% \xc2\xb5g,=.csv", 123,
                        "kAFQmDzST7DWlj99KOF/cg==", "ungWv48Bz+pBQUDeXa4iI7ADYaOWF3qctBD/YfIAFa0="};
  line.changed = {document, link};
  line.gone = {"old name.csv"};
  line.bound = true;
  line.binding.header = "n4bQgYhMfWWaL+qgxVrQFaO/TxsrC4Is0V1sFbDwCgg=";
  line.binding.documents = 3;
  line.binding.documentsHash = "47DEQpj8HBSa+/TImW+5JCeuQeRkm5NMpJWZG3hSuFU=";
  line.mac = std::string(64, 'a');
  return line;
}

TEST(SealFormat, LinesReadBackAsWritten) {
  const seal::SealLine line = SampleLine();
  const std::string text = seal::SealLineText(line);
  EXPECT_EQ(text.find('\n'), std::string::npos);
  EXPECT_NE(text.find("file=link:run%207%3A%20100%25%20%C2%B5g%2C%3D.csv:123:"), std::string::npos)
      << text;
  seal::SealLine read;
  std::string covered;
  ASSERT_TRUE(seal::ParseSealLine(text, &read, &covered)) << text;
  EXPECT_EQ(covered, seal::SealText(line));
  EXPECT_EQ(read.number, line.number);
  EXPECT_EQ(read.time, line.time);
  EXPECT_EQ(read.logXml, line.logXml);
  ASSERT_EQ(read.changed.size(), 2u);
  EXPECT_EQ(read.changed[0], line.changed[0]);
  EXPECT_EQ(read.changed[1], line.changed[1]);
  EXPECT_EQ(read.gone, line.gone);
  EXPECT_TRUE(read.bound);
  EXPECT_EQ(read.binding, line.binding);
  EXPECT_EQ(read.mac, line.mac);

  // Seal 0 of a directory without log.xml, in the form before the binding and with it.
  seal::SealLine empty;
  empty.time = line.time;
  empty.mac = line.mac;
  ASSERT_TRUE(seal::ParseSealLine(seal::SealLineText(empty), &read, nullptr));
  EXPECT_EQ(read.logXml, KECGlpsLogInfo());
  EXPECT_TRUE(read.changed.empty());
  EXPECT_FALSE(read.bound);
  empty.bound = true;
  empty.binding = seal::BindingOf(nullptr, {});
  const std::string bound = seal::SealLineText(empty);
  EXPECT_NE(bound.find(" xml=- head=- docs=0:47DEQpj8HBSa+/TImW+5JCeuQeRkm5NMpJWZG3hSuFU= mac="),
            std::string::npos)
      << bound;
  ASSERT_TRUE(seal::ParseSealLine(bound, &read, nullptr));
  EXPECT_TRUE(read.bound);
  EXPECT_EQ(read.binding, empty.binding);

  std::string id;
  EXPECT_TRUE(seal::ParseHeaderLine(seal::HeaderLine(std::string(32, 'c')), &id));
  EXPECT_EQ(id, std::string(32, 'c'));
  EXPECT_FALSE(seal::ParseHeaderLine("glps-seal 2 log=" + std::string(32, 'c'), &id));
  EXPECT_FALSE(seal::ParseHeaderLine(seal::HeaderLine(std::string(31, 'c')), &id));
}

TEST(SealFormat, EachKindKeepsTheSpellingOfTheSealsAlreadyWritten) {
  struct Case {
    Glps::EFileType kind;
    const char* field;
  };
  const Case cases[] = {
      {Glps::FileNone, "file=none:"},
      {Glps::FileLog, "file=log:"},
      {Glps::FileMetaData, "file=metadata:"},
      {Glps::FileIndexMain, "file=index-main:"},
      {Glps::FileIndexMenu, "file=index-menu:"},
      {Glps::FileLink, "file=link:"},
      {static_cast<Glps::EFileType>(99), "file=kind99:"},
      {static_cast<Glps::EFileType>(-5), "file=kind-5:"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.field);
    seal::SealLine line = SampleLine();
    line.changed = {{c.kind, "a.bin", 1, "kAFQmDzST7DWlj99KOF/cg==", ""}};
    const std::string text = seal::SealLineText(line);
    EXPECT_NE(text.find(std::string(" ") + c.field + "a.bin:1:"), std::string::npos) << text;
    seal::SealLine read;
    ASSERT_TRUE(seal::ParseSealLine(text, &read, nullptr)) << text;
    ASSERT_EQ(read.changed.size(), 1u);
    EXPECT_EQ(read.changed[0].kind, c.kind);
  }
}

TEST(SealFormat, OnlyTheWritersOwnSpellingIsASeal) {
  const std::string good = seal::SealLineText(SampleLine());
  const auto replaced = [&good](const std::string& from, const std::string& to) {
    std::string text = good;
    const std::size_t at = text.find(from);
    return at == std::string::npos ? std::string("(not found: " + from + ")")
                                   : text.replace(at, from.size(), to);
  };
  const std::string bad[] = {
      "",
      good.substr(0, good.size() - 1),              // MAC cut short
      replaced(" mac=", " mac=A"),                  // upper-case MAC digit
      replaced("seal=12", "seal=012"),              // leading zero
      replaced("seal=12", "seal=-12"),              // negative number
      replaced("seal=12 ", "seal=12  "),            // two blanks
      replaced(" time=", " when="),                 // unknown field
      replaced(":2691", ":02691"),                  // size with a leading zero
      replaced("file=log:", "file=document:"),      // unknown kind
      replaced("%20", "%2a"),                       // lower-case escape
      replaced("%20", "%41"),                       // escaped letter
      replaced("%3A", ":"),                         // separator unescaped
      replaced("gone=old%20name.csv", "gone="),     // empty name
      replaced(":1947:", ":19x7:"),                 // size not a number
      replaced(" file=log:", " gone=x file=log:"),  // fields out of order
      good + " extra",                              // a field after the MAC
      replaced(" docs=3:", " docs=03:"),            // document count with a leading zero
      replaced(" docs=3:", " docs=3"),              // no separator
      replaced(" docs=3:47DEQpj8HBSa+/TImW+5JCeuQeRkm5NMpJWZG3hSuFU=", ""),  // head= alone
      replaced(" head=n4bQgYhMfWWaL+qgxVrQFaO/TxsrC4Is0V1sFbDwCgg=", ""),    // docs= alone
      replaced(" file=log:", " head=- file=log:"),                           // the binding twice
  };
  for (const std::string& text : bad) {
    seal::SealLine read;
    EXPECT_FALSE(seal::ParseSealLine(text, &read, nullptr)) << text;
  }
}

// Each field of the header changes its hash: a change of any of them after a seal is found.
TEST(SealFormat, TheHeaderHashTakesEveryField) {
  KECGlpsLogHeader base;
  base.m_eContentType = static_cast<KCGenStandardFileHeader::EContentType>(534);
  base.m_usContentVersion = 410;
  base.m_tmCreation.SetMicroseconds(1796000000000000);
  base.m_strUserCreation = "analyst";
  base.m_guid = KCGenGUID("{D15149F8-F127-4781-B1F6-3C762D712E15}");
  const std::string hash = seal::HeaderHash(base);
  ASSERT_EQ(hash.size(), 44u);
  EXPECT_EQ(seal::HeaderHash(KECGlpsLogHeader(base)), hash);

  const std::pair<const char*, std::function<void(KECGlpsLogHeader&)>> changes[] = {
      {"content type",
       [](KECGlpsLogHeader& h) {
         h.m_eContentType = static_cast<KCGenStandardFileHeader::EContentType>(533);
       }},
      {"content version", [](KECGlpsLogHeader& h) { h.m_usContentVersion = 411; }},
      {"creation time", [](KECGlpsLogHeader& h) { h.m_tmCreation.SetMicroseconds(1); }},
      {"creation time null", [](KECGlpsLogHeader& h) { h.m_tmCreation.SetNull(); }},
      {"creating user", [](KECGlpsLogHeader& h) { h.m_strUserCreation = "analyst2"; }},
      {"modification time", [](KECGlpsLogHeader& h) { h.m_tmModification.SetMicroseconds(5); }},
      {"modifying user", [](KECGlpsLogHeader& h) { h.m_strUserModification = "x"; }},
      {"source", [](KECGlpsLogHeader& h) { h.m_strSource = "x"; }},
      {"description kind",
       [](KECGlpsLogHeader& h) {
         h.m_eDescription = static_cast<KCGenStandardFileHeader::EDescription>(1);
       }},
      {"description", [](KECGlpsLogHeader& h) { h.m_strDescription = "x"; }},
      {"GUID", [](KECGlpsLogHeader& h) { h.m_guid = KCGenGUID(); }},
      // A value cannot take the place of the next field: values are spelled as names are.
      {"creating user holding the next field",
       [](KECGlpsLogHeader& h) { h.m_strUserCreation = "analyst\nm_tmModification=null"; }},
  };
  for (const auto& [what, change] : changes) {
    KECGlpsLogHeader changed = base;
    change(changed);
    EXPECT_NE(seal::HeaderHash(changed), hash) << what;
  }
}

// The documents' hash binds their names in record order; the hashes of every prefix, taken in one
// pass, are those of the shorter lists.
TEST(SealFormat, TheDocumentsHashBindsTheirOrder) {
  const auto records = [](const std::vector<std::string>& documents) {
    std::vector<KECGlpsFileManagerData> list;
    for (const std::string& name : documents) {
      KECGlpsFileManagerData document;
      document.m_eType = Glps::FileLog;
      document.m_strFileName = name;
      list.push_back(document);
      KECGlpsFileManagerData sidecar = document;
      sidecar.m_eType = Glps::FileMetaData;
      sidecar.m_strFileName = name + ".xml";
      list.push_back(sidecar);
    }
    return list;
  };
  const std::vector<std::string> names = {"a.html", "b.html", "c d.html"};
  EXPECT_EQ(seal::DocumentNames(records(names)), names);
  const std::map<std::int64_t, std::string> hashes =
      seal::DocumentsHashes(names, {3, 0, 2, 1, 4, -1});
  EXPECT_EQ(hashes.size(), 4u);  // 0 to 3: a count beyond the names has none
  for (std::int64_t count = 0; count <= 3; ++count) {
    const seal::LogBinding binding = seal::BindingOf(
        nullptr, records(std::vector<std::string>(names.begin(), names.begin() + count)));
    EXPECT_EQ(binding.documents, count);
    EXPECT_EQ(hashes.at(count), binding.documentsHash) << count;
  }
  EXPECT_NE(seal::BindingOf(nullptr, records({"b.html", "a.html", "c d.html"})).documentsHash,
            hashes.at(3));
  EXPECT_NE(seal::BindingOf(nullptr, records({"a.html", "bc.html", "d.html"})).documentsHash,
            hashes.at(3));
}

TEST(SealFormat, ChangesFoldIntoTheStateTheyCameFrom) {
  seal::SealState before;
  before["a.html"] = {Glps::FileLog, "a.html", 10, "x", ""};
  before["b.xml"] = {Glps::FileMetaData, "b.xml", 5, "y", ""};
  before["gone.csv"] = {Glps::FileLink, "gone.csv", 1, "z", "s"};
  seal::SealState now = before;
  now["a.html"].size = 20;
  now["a.html"].md5 = "x2";
  now.erase("gone.csv");
  now["new.csv"] = {Glps::FileLink, "new.csv", 3, "w", "t"};
  seal::SealLine line;
  seal::SetChanges(before, now, &line);
  ASSERT_EQ(line.changed.size(), 2u);  // a.html and new.csv; b.xml unchanged
  EXPECT_EQ(line.changed[0].name, "a.html");
  EXPECT_EQ(line.changed[1].name, "new.csv");
  EXPECT_EQ(line.gone, std::vector<std::string>{"gone.csv"});
  seal::FoldSeal(line, &before);
  EXPECT_EQ(before, now);
}

}  // namespace
