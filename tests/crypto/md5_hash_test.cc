// SPDX-License-Identifier: Apache-2.0
#include "crypto/md5_hash.h"

#include <string>

#include "gtest/gtest.h"

namespace {

using glps::crypto::Base64Decode;
using glps::crypto::Base64Encode;
using glps::crypto::Md5Hash;

TEST(Md5HashTest, KnownDigestsAsFingerprintText) {
  Md5Hash empty;
  ASSERT_TRUE(empty.IsValid());
  EXPECT_EQ(empty.FingerprintText(), "1B2M2Y8AsgTpgAmY7PhCfg==");

  Md5Hash abc;
  EXPECT_TRUE(abc.Update("abc", 3));
  EXPECT_EQ(abc.FingerprintText(), "kAFQmDzST7DWlj99KOF/cg==");
}

TEST(Md5HashTest, ReadingTheDigestDoesNotEndIt) {
  Md5Hash hash;
  hash.Update("a", 1);
  const std::string afterA = hash.FingerprintText();
  EXPECT_EQ(hash.FingerprintText(), afterA);
  hash.Update("bc", 2);
  hash.Update("", 0);
  EXPECT_EQ(hash.FingerprintText(), "kAFQmDzST7DWlj99KOF/cg==");
  EXPECT_NE(afterA, "kAFQmDzST7DWlj99KOF/cg==");

  // Into a string that held something longer: replaced whole.
  std::string text(40, '?');
  EXPECT_TRUE(hash.FingerprintText(&text));
  EXPECT_EQ(text, "kAFQmDzST7DWlj99KOF/cg==");
}

TEST(Md5HashTest, Base64UsesTheStandardAlphabetAndPadding) {
  EXPECT_EQ(Base64Encode("", 0), "");
  EXPECT_EQ(Base64Encode("f", 1), "Zg==");
  EXPECT_EQ(Base64Encode("fo", 2), "Zm8=");
  EXPECT_EQ(Base64Encode("foobar", 6), "Zm9vYmFy");
  const unsigned char high[] = {0xfb, 0xff, 0xbf};
  EXPECT_EQ(Base64Encode(high, 3), "+/+/");
  // Longer than one encoder line of 64 characters: still one line.
  const std::string text = Base64Encode(std::string(100, 'x').data(), 100);
  EXPECT_EQ(text.size(), 136u);
  EXPECT_EQ(text.find_first_of("\r\n "), std::string::npos);
}

// Decoding takes back exactly what encoding writes, and refuses any other text.
TEST(Md5HashTest, Base64DecodingTakesBackWhatEncodingWrote) {
  for (const std::string& bytes : {std::string(), std::string("f"), std::string("fo"),
                                   std::string("foo"), std::string("\xff\xfe\0\x01", 4)}) {
    std::string decoded = "unchanged";
    EXPECT_TRUE(Base64Decode(Base64Encode(bytes.data(), bytes.size()), &decoded));
    EXPECT_EQ(decoded, bytes);
  }
  for (const char* text : {"Zg=", "Zg", "Z===", "Zm9v YmFy", " Zm8=", "Zm8=\n", "Zm=8", "Zm8*"}) {
    std::string decoded = "unchanged";
    EXPECT_FALSE(Base64Decode(text, &decoded)) << text;
    EXPECT_EQ(decoded, "unchanged");
  }
}

}  // namespace
