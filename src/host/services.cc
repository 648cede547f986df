// SPDX-License-Identifier: Apache-2.0
// The master clock, the base library and the restriction service.
#include <cstdlib>

#include "glps/host/services.h"
#include "host/posix_util.h"

namespace Qor {
const char g_szKelvara[] = "Kelvara";
}  // namespace Qor

// --- Master clock ----------------------------------------------------------------------------

KCTimeMasterClock* KCTimeMasterClock::Instance() {
  static KCTimeMasterClock instance;
  return &instance;
}

KCTimeMasterClock::KCTimeMasterClock() = default;
KCTimeMasterClock::~KCTimeMasterClock() = default;

bool KCTimeMasterClock::GetTimeStamp(KCGenTime* time, bool /*flag*/) const {
  if (time == nullptr) return false;
  time->SetNow();
  return true;
}

// --- Base library ----------------------------------------------------------------------------

namespace {

// The directory set by the host; empty for the default.
std::string& AppLogDirectoryOverride() {
  static std::string directory;
  return directory;
}

std::string NonEmptyEnv(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? std::string(value) : std::string();
}

constexpr std::size_t kMaxBaseLength = 200;

}  // namespace

std::string KECBaseFilesAndLocations::GetDirectoryAppLog() {
  std::string directory = AppLogDirectoryOverride();
  if (directory.empty()) directory = NonEmptyEnv("GLPS_APPLOG_DIR");
  if (directory.empty()) {
    const std::string product = std::string("/") + Qor::g_szKelvara + "/applog";
    const std::string state = NonEmptyEnv("XDG_STATE_HOME");
    // Relative values are invalid for XDG variables and are ignored.
    if (!state.empty() && state[0] == '/') {
      directory = state + product;
    } else {
      const std::string home = glpshost::HomeDirectory();
      if (home.empty()) return std::string();
      directory = home + "/.local/state" + product;
    }
  }
  glpshost::MakeDirectories(directory);
  return directory;
}

void KECBaseFilesAndLocations::SetDirectoryAppLog(const std::string& directory) {
  AppLogDirectoryOverride() = directory;
}

std::string KECBaseNameUtils::MakeDefaultName(const std::string& base, unsigned number) {
  std::string name;
  for (char c : base.substr(0, kMaxBaseLength)) {
    const bool safe = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                      c == '_' || c == '-';
    name += safe ? c : '_';
  }
  if (name.empty()) name = "log";
  // A leading '-' would read as an option to command-line tools.
  if (name[0] == '-') name[0] = '_';
  // The number follows the last '_' of the name, so equal bases with different numbers never
  // give equal names, whatever digits the base ends in.
  std::string digits = std::to_string(number);
  if (digits.size() < 4) digits.insert(0, 4 - digits.size(), '0');
  return name + "_" + digits;
}

// --- Restriction service ---------------------------------------------------------------------

KCRmsUserInfo::KCRmsUserInfo(const std::string& login, bool admin)
    : m_strLogin(login), m_bAdmin(admin) {}

std::string KCRmsUserInfo::GetUserNameA() const { return m_strLogin; }

bool KCRmsUserInfo::IsAdmin() const { return m_bAdmin; }

KCRmsRestrictionManagerServiceBase::~KCRmsRestrictionManagerServiceBase() = default;

KECQrmsServices* KECQrmsServices::Instance() {
  static KECQrmsServices instance;
  return &instance;
}

KECQrmsServices::KECQrmsServices() : m_bUsersSet(false) {}
KECQrmsServices::~KECQrmsServices() = default;

bool KECQrmsServices::GetIsAllowed(Qrms::RightApp right) const {
  const auto it = m_mapAllowed.find(static_cast<std::int32_t>(right));
  return it == m_mapAllowed.end() || it->second;
}

std::vector<KCRmsUserInfo> KECQrmsServices::GetAllUsers() const {
  if (m_bUsersSet) return m_vUsers;
  std::string login;
  KCGenUserInfo::Instance()->GetCurrentUserName(&login);
  return {KCRmsUserInfo(login, true)};
}

std::vector<std::string> KECQrmsServices::GetUserEnabledRoleRestr(const std::string& user) const {
  const auto it = m_mapRoleRestr.find(user);
  return it != m_mapRoleRestr.end() ? it->second : std::vector<std::string>();
}

void KECQrmsServices::SetAllowed(Qrms::RightApp right, bool allowed) {
  m_mapAllowed[static_cast<std::int32_t>(right)] = allowed;
}

void KECQrmsServices::SetAllUsers(const std::vector<KCRmsUserInfo>& users) {
  m_vUsers = users;
  m_bUsersSet = true;
}

void KECQrmsServices::SetUserEnabledRoleRestr(const std::string& user,
                                              const std::vector<std::string>& restrictions) {
  m_mapRoleRestr[user] = restrictions;
}

void KECQrmsServices::ResetDefaults() {
  m_mapAllowed.clear();
  m_vUsers.clear();
  m_bUsersSet = false;
  m_mapRoleRestr.clear();
}
