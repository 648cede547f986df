// SPDX-License-Identifier: Apache-2.0
// Texts, the master clock, the base library, the restriction service and user names.
#include <pwd.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "glps/host/services.h"
#include "support/temp_dir.h"

namespace {

using glps_test::TempDir;

// ---- Texts --------------------------------------------------------------------------------------

TEST(Texts, KnownIdsHaveTextsAndUnknownIdsAPlaceholder) {
  for (unsigned id : {10050u, 18630u, 18631u, 18635u, 18701u, 18702u}) {
    const std::string text = Txts::GetString(id);
    EXPECT_FALSE(text.empty()) << id;
    EXPECT_EQ(text.find("[text"), std::string::npos) << id;
  }
  EXPECT_EQ(Txts::GetString(12345), "[text 12345]");
  EXPECT_EQ(Txts::GetString(0, {"a"}), "[text 0]");
  // The log name becomes part of file names.
  EXPECT_EQ(Txts::GetString(18630).find_first_of("/\\. "), std::string::npos);
}

TEST(Texts, ArgumentsReplacePlaceholdersOnce) {
  EXPECT_EQ(Txts::GetString(18701, {"Suite", "1.2"}), "Suite 1.2 started");
  EXPECT_EQ(Txts::GetString(18702, {"Suite", "1.2"}), "Suite 1.2 ended");
  // An argument that holds a placeholder is inserted as it is.
  EXPECT_EQ(Txts::GetString(18701, {"x%2", "%1"}), "x%2 %1 started");
  // A missing argument leaves its placeholder; extra arguments are ignored.
  EXPECT_EQ(Txts::GetString(18701, {"only"}), "only %2 started");
  EXPECT_EQ(Txts::GetString(18701, {"a", "b", "c"}), "a b started");
  EXPECT_EQ(Txts::GetString(18701, {}), Txts::GetString(18701));
}

// ---- Master clock -------------------------------------------------------------------------------

TEST(MasterClock, FillsThePresentTime) {
  const KCGenTime before(true);
  KCGenTime stamp;
  ASSERT_TRUE(KCTimeMasterClock::Instance()->GetTimeStamp(&stamp, false));
  const KCGenTime after(true);
  EXPECT_FALSE(stamp.IsNull());
  EXPECT_LE(before.GetMicroseconds(), stamp.GetMicroseconds());
  EXPECT_LE(stamp.GetMicroseconds(), after.GetMicroseconds());
  EXPECT_FALSE(KCTimeMasterClock::Instance()->GetTimeStamp(nullptr, false));
}

// ---- Base library: the application-log directory ------------------------------------------------

// Saves and restores the environment variables and the override that decide the directory.
class AppLogDirectory : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* name : kVariables) {
      const char* value = std::getenv(name);
      m_saved.push_back(value != nullptr ? std::make_pair(true, std::string(value))
                                         : std::make_pair(false, std::string()));
      unsetenv(name);
    }
    KECBaseFilesAndLocations::SetDirectoryAppLog("");
  }
  void TearDown() override {
    for (std::size_t i = 0; i < m_saved.size(); ++i) {
      if (m_saved[i].first) {
        setenv(kVariables[i], m_saved[i].second.c_str(), 1);
      } else {
        unsetenv(kVariables[i]);
      }
    }
    KECBaseFilesAndLocations::SetDirectoryAppLog("");
  }
  static bool IsDirectory(const std::string& path) { return std::filesystem::is_directory(path); }

  static constexpr const char* kVariables[] = {"GLPS_APPLOG_DIR", "XDG_STATE_HOME", "HOME"};
  std::vector<std::pair<bool, std::string>> m_saved;
  TempDir m_dir;
};

TEST_F(AppLogDirectory, ChosenInOrderAndCreated) {
  setenv("HOME", (m_dir / "home").c_str(), 1);
  EXPECT_EQ(KECBaseFilesAndLocations::GetDirectoryAppLog(),
            m_dir / "home/.local/state/Kelvara/applog");
  EXPECT_TRUE(IsDirectory(m_dir / "home/.local/state/Kelvara/applog"));

  setenv("XDG_STATE_HOME", "relative/ignored", 1);
  EXPECT_EQ(KECBaseFilesAndLocations::GetDirectoryAppLog(),
            m_dir / "home/.local/state/Kelvara/applog");

  setenv("XDG_STATE_HOME", (m_dir / "xdg").c_str(), 1);
  EXPECT_EQ(KECBaseFilesAndLocations::GetDirectoryAppLog(), m_dir / "xdg/Kelvara/applog");
  EXPECT_TRUE(IsDirectory(m_dir / "xdg/Kelvara/applog"));

  setenv("GLPS_APPLOG_DIR", (m_dir / "env/a/b").c_str(), 1);
  EXPECT_EQ(KECBaseFilesAndLocations::GetDirectoryAppLog(), m_dir / "env/a/b");
  EXPECT_TRUE(IsDirectory(m_dir / "env/a/b"));

  KECBaseFilesAndLocations::SetDirectoryAppLog(m_dir / "set/x");
  EXPECT_EQ(KECBaseFilesAndLocations::GetDirectoryAppLog(), m_dir / "set/x");
  EXPECT_TRUE(IsDirectory(m_dir / "set/x"));

  KECBaseFilesAndLocations::SetDirectoryAppLog("");
  EXPECT_EQ(KECBaseFilesAndLocations::GetDirectoryAppLog(), m_dir / "env/a/b");
}

// ---- Base library: default names ----------------------------------------------------------------

TEST(DefaultName, KnownForm) {
  EXPECT_EQ(KECBaseNameUtils::MakeDefaultName("GLP-Log-Kelvara", 1), "GLP-Log-Kelvara_0001");
  EXPECT_EQ(KECBaseNameUtils::MakeDefaultName("GLP-Log-exp.v2", 12), "GLP-Log-exp_v2_0012");
  EXPECT_EQ(KECBaseNameUtils::MakeDefaultName("run7", 12345), "run7_12345");
}

TEST(DefaultName, HostileBasesGiveDistinctPlainNamesInsideTheDirectory) {
  TempDir dir;
  const std::vector<std::string> bases = {
      "../../etc/x",
      "exp.v2",
      "",
      std::string(300, 'a'),
      "-rf",
      "..",
      ".",
      "/",
      "a\\b",
      std::string("nul\0byte", 8),
      "line\nbreak",
      "blank name",
      "Gr\xC3\xB6\xC3\x9F"
      "e",
      "exp1",
      "exp_0001",
      "GLP-Log-Kelvara",
      std::string(300, '.'),
  };
  const std::vector<unsigned> numbers = {0, 1, 2, 10, 9999, 10000, 123456, UINT_MAX};
  for (const std::string& base : bases) {
    std::set<std::string> names;
    for (unsigned number : numbers) {
      const std::string name = KECBaseNameUtils::MakeDefaultName(base, number);
      SCOPED_TRACE("base '" + base + "' number " + std::to_string(number) + " -> " + name);
      ASSERT_FALSE(name.empty());
      EXPECT_EQ(name.find_first_of(std::string("/\\.\0 \n", 6)), std::string::npos);
      EXPECT_NE(name[0], '-');
      const std::string file = KCGenFileUtils::MakeNameExtension(name, "html");
      EXPECT_EQ(file, name + ".html");  // the extension never cuts into the name
      EXPECT_LT(file.size(), 255u);
      const std::filesystem::path path = KCGenFileUtils::MakeNamePath(dir.path(), file);
      EXPECT_EQ(path.parent_path(), std::filesystem::path(dir.path()));
      EXPECT_EQ(path.filename(), file);
      names.insert(name);
    }
    EXPECT_EQ(names.size(), numbers.size()) << base;
  }
}

TEST(DefaultName, FilesForSeveralNumbersAreSeparateFilesInTheDirectory) {
  TempDir dir;
  for (unsigned number = 1; number <= 3; ++number) {
    const std::string file = KCGenFileUtils::MakeNameExtension(
        KECBaseNameUtils::MakeDefaultName("../../x.y", number), "html");
    ASSERT_TRUE(KCGenFileUtils::Create_File(KCGenFileUtils::MakeNamePath(dir.path(), file)));
  }
  std::size_t count = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
    EXPECT_TRUE(entry.is_regular_file());
    ++count;
  }
  EXPECT_EQ(count, 3u);
}

TEST(Product, Name) { EXPECT_STREQ(Qor::g_szKelvara, "Kelvara"); }

// ---- Restriction service and user names ---------------------------------------------------------

class HostSettings : public ::testing::Test {
 protected:
  void TearDown() override {
    KECQrmsServices::Instance()->ResetDefaults();
    KCGenUserInfo::Instance()->ClearOverrides();
  }
};

std::string SystemLogin() {
  struct passwd* pw = getpwuid(geteuid());
  return pw != nullptr ? pw->pw_name : std::string();
}

TEST_F(HostSettings, RestrictionServiceDefaults) {
  const KCRmsRestrictionManagerServiceBase* service = KECQrmsServices::Instance();
  EXPECT_TRUE(service->GetIsAllowed(Qrms::RightAppGlpLog));
  EXPECT_TRUE(service->GetIsAllowed(static_cast<Qrms::RightApp>(4711)));
  const std::vector<KCRmsUserInfo> users = service->GetAllUsers();
  ASSERT_EQ(users.size(), 1u);
  EXPECT_EQ(users[0].GetUserNameA(), SystemLogin());
  EXPECT_TRUE(users[0].IsAdmin());
  EXPECT_TRUE(service->GetUserEnabledRoleRestr(SystemLogin()).empty());

  // The default user follows the current user name that the host sets.
  KCGenUserInfo::Instance()->SetCurrentUserName("carol");
  ASSERT_EQ(service->GetAllUsers().size(), 1u);
  EXPECT_EQ(service->GetAllUsers()[0].GetUserNameA(), "carol");
}

TEST_F(HostSettings, RestrictionServiceSetters) {
  KECQrmsServices* service = KECQrmsServices::Instance();
  service->SetAllowed(Qrms::RightAppGlpLog, false);
  EXPECT_FALSE(service->GetIsAllowed(Qrms::RightAppGlpLog));
  EXPECT_TRUE(service->GetIsAllowed(static_cast<Qrms::RightApp>(4711)));
  service->SetAllowed(Qrms::RightAppGlpLog, true);
  EXPECT_TRUE(service->GetIsAllowed(Qrms::RightAppGlpLog));

  service->SetAllUsers({KCRmsUserInfo("alice", false), KCRmsUserInfo("bob", true)});
  const std::vector<KCRmsUserInfo> users = service->GetAllUsers();
  ASSERT_EQ(users.size(), 2u);
  EXPECT_EQ(users[0].GetUserNameA(), "alice");
  EXPECT_FALSE(users[0].IsAdmin());
  EXPECT_EQ(users[1].GetUserNameA(), "bob");
  EXPECT_TRUE(users[1].IsAdmin());
  service->SetAllUsers({});
  EXPECT_TRUE(service->GetAllUsers().empty());

  service->SetUserEnabledRoleRestr("alice", {"no-export", "read-only"});
  EXPECT_EQ(service->GetUserEnabledRoleRestr("alice"),
            (std::vector<std::string>{"no-export", "read-only"}));
  EXPECT_TRUE(service->GetUserEnabledRoleRestr("Alice").empty());
  EXPECT_TRUE(service->GetUserEnabledRoleRestr("bob").empty());

  service->ResetDefaults();
  EXPECT_TRUE(service->GetIsAllowed(Qrms::RightAppGlpLog));
  EXPECT_EQ(service->GetAllUsers().size(), 1u);
  EXPECT_TRUE(service->GetUserEnabledRoleRestr("alice").empty());
}

TEST_F(HostSettings, UserNamesFromTheSystemAndFromOverrides) {
  KCGenUserInfo* info = KCGenUserInfo::Instance();
  std::string name;
  EXPECT_TRUE(info->GetCurrentUserName(&name));
  EXPECT_EQ(name, SystemLogin());

  info->SetCurrentUserName("alice");
  EXPECT_TRUE(info->GetCurrentUserName(&name));
  EXPECT_EQ(name, "alice");
  info->SetCurrentUserName("");
  EXPECT_TRUE(info->GetCurrentUserName(&name));
  EXPECT_EQ(name, SystemLogin());

  std::string full = "stale";
  EXPECT_FALSE(info->GetFullUserName("no-such-login-glps-test", &full));
  EXPECT_EQ(full, "");

  info->SetFullUserName("alice", "Alice Example");
  EXPECT_TRUE(info->GetFullUserName("alice", &full));
  EXPECT_EQ(full, "Alice Example");

  // An empty override means: no full name, whatever the account says.
  info->SetFullUserName(SystemLogin(), "");
  full = "stale";
  EXPECT_FALSE(info->GetFullUserName(SystemLogin(), &full));
  EXPECT_EQ(full, "");
  EXPECT_FALSE(info->GetCurrentUserName(nullptr));
}

}  // namespace
