// SPDX-License-Identifier: Apache-2.0
// The XML input archive behind every load: the end tag of a named element must carry the expected
// name, compared safely whatever the lengths of the two names.
#include "files/archive_io.h"

#include <sstream>
#include <string>

#include <boost/serialization/nvp.hpp>

#include "gtest/gtest.h"

namespace {

struct Probe {
  int value = 0;
  template <class Archive>
  void serialize(Archive& ar, const unsigned int /*version*/) {
    ar& boost::serialization::make_nvp("value", value);
  }
};

std::string ArchiveText(int value) {
  std::ostringstream out;
  {
    boost::archive::xml_oarchive archive(out, 0);
    Probe probe;
    probe.value = value;
    archive << boost::serialization::make_nvp("probe", probe);
  }
  return out.str();
}

bool LoadProbe(const std::string& text, Probe* probe) {
  return glps::archive_io::LoadXmlArchiveFromText(
      text, [probe](glps::archive_io::XmlInputArchive& archive) {
        archive >> boost::serialization::make_nvp("probe", *probe);
      });
}

std::string Renamed(std::string text, const std::string& name) {
  for (const std::string tag : {"<value>", "</value>"}) {
    const std::string::size_type at = text.find(tag);
    EXPECT_NE(at, std::string::npos) << tag;
    if (at == std::string::npos) break;
    text.replace(at, tag.size(), (tag[1] == '/' ? "</" : "<") + name + ">");
  }
  return text;
}

TEST(XmlInputArchive, ReadsTheElementUnderItsOwnName) {
  Probe probe;
  ASSERT_TRUE(LoadProbe(ArchiveText(42), &probe));
  EXPECT_EQ(probe.value, 42);
}

// Boost's own check indexed the expected name by the length of the name in the file: an end tag
// longer than "value" read past the end of that text (a crash for a long enough name).
TEST(XmlInputArchive, ElementUnderAnotherNameFailsWhateverItsLength) {
  const std::string text = ArchiveText(42);
  for (const std::string& name :
       {std::string("valueX"), std::string("valu"), std::string("v"), std::string("vaLue"),
        std::string("item"), std::string(100000, 'n')}) {
    Probe probe;
    EXPECT_FALSE(LoadProbe(Renamed(text, name), &probe)) << name.substr(0, 20);
  }
}

}  // namespace
