// SPDX-License-Identifier: Apache-2.0
// The XML input archive behind every load: the end tag of a named element must carry the expected
// name, compared safely whatever the lengths of the two names. The lists of the archives: the text
// of the archive's own vectors.
#include "serialization/archive_io.h"

#include <sstream>
#include <string>
#include <vector>

#include <boost/serialization/nvp.hpp>
#include <boost/serialization/split_member.hpp>
#include <boost/serialization/vector.hpp>

#include "gtest/gtest.h"

namespace {

struct Probe {
  int value = 0;
  template <class Archive>
  void serialize(Archive& ar, const unsigned int /*version*/) {
    ar& boost::serialization::make_nvp("value", value);
  }
};

// A list written and read by archive_io's SaveList and LoadList.
struct ProbeList {
  std::vector<Probe> items;
  template <class Archive>
  void save(Archive& ar, const unsigned int /*version*/) const {
    glps::archive_io::SaveList(ar, items);
  }
  template <class Archive>
  void load(Archive& ar, const unsigned int /*version*/) {
    glps::archive_io::LoadList(ar, items);
  }
  BOOST_SERIALIZATION_SPLIT_MEMBER()
};

template <class T>
std::string ArchiveOf(const T& object) {
  std::ostringstream out;
  {
    boost::archive::xml_oarchive archive(out, 0);
    archive << boost::serialization::make_nvp("list", object);
  }
  return out.str();
}

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

// Files written with the archive's own vector serialization (and older files were) read as lists,
// and lists are written as the same text.
TEST(ArchiveLists, AreTheTextOfTheArchivesOwnVectors) {
  for (std::size_t size : {0, 1, 3}) {
    std::vector<Probe> values(size);
    for (std::size_t i = 0; i < size; ++i) values[i].value = static_cast<int>(7 * i + 1);
    const std::string vectorText = ArchiveOf(values);
    EXPECT_EQ(ArchiveOf(ProbeList{values}), vectorText) << size;

    ProbeList read;
    read.items.resize(5);
    ASSERT_TRUE(glps::archive_io::LoadXmlArchiveFromText(
        vectorText,
        [&read](glps::archive_io::XmlInputArchive& archive) {
          archive >> boost::serialization::make_nvp("list", read);
        }))
        << size;
    ASSERT_EQ(read.items.size(), size);
    for (std::size_t i = 0; i < size; ++i) EXPECT_EQ(read.items[i].value, values[i].value);
  }
}

}  // namespace
