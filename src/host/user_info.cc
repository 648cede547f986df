// SPDX-License-Identifier: Apache-2.0
// KCGenUserInfo: login and full names from the system's account database, with host overrides.
#include <errno.h>
#include <pwd.h>
#include <time.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

#include "glps/host/gen.h"

namespace {

// Calls lookup (a getpw*_r call) with a buffer that grows while the call reports ERANGE; the
// visitor gets the entry when one was found. False when there is no entry or the lookup failed.
template <class Lookup, class Visit>
bool WithPasswdEntry(Lookup lookup, Visit visit) {
  const long hint = sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buffer(hint > 0 ? static_cast<std::size_t>(hint) : 4096);
  for (;;) {
    struct passwd pw;
    struct passwd* result = nullptr;
    const int rc = lookup(&pw, buffer.data(), buffer.size(), &result);
    if (rc == ERANGE && buffer.size() < (1u << 20)) {
      buffer.resize(buffer.size() * 2);
      continue;
    }
    if (rc != 0 || result == nullptr) return false;
    visit(*result);
    return true;
  }
}

// The account name last found for an effective user id. A login name does not change while the
// process runs, so the account database (a file read, or a name service) is asked once per user id
// instead of for every message.
struct AccountName {
  bool found = false;
  uid_t uid = 0;
  std::string name;
};
AccountName g_account;

// The effective user id, asked of the system at most once a second per thread instead of for every
// message: it changes only when the process switches users (seteuid), and such a switch counts
// within a second.
uid_t EffectiveUserId() {
  thread_local bool t_bKnown = false;
  thread_local time_t t_lAskedInSecond = 0;
  thread_local uid_t t_uid = 0;
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC_COARSE, &now);
  if (!t_bKnown || now.tv_sec != t_lAskedInSecond) {
    t_uid = geteuid();
    t_lAskedInSecond = now.tv_sec;
    t_bKnown = true;
  }
  return t_uid;
}

}  // namespace

KCGenUserInfo* KCGenUserInfo::Instance() {
  static KCGenUserInfo instance;
  return &instance;
}

KCGenUserInfo::KCGenUserInfo() = default;
KCGenUserInfo::~KCGenUserInfo() = default;

bool KCGenUserInfo::GetCurrentUserName(std::string* name) const {
  if (name == nullptr) return false;
  if (!m_strCurrentUserName.empty()) {
    *name = m_strCurrentUserName;
    return true;
  }
  const uid_t uid = EffectiveUserId();
  if (g_account.found && g_account.uid == uid) {
    *name = g_account.name;
    return true;
  }
  std::string found;
  WithPasswdEntry([uid](struct passwd* pw, char* buf, std::size_t size,
                        struct passwd** result) { return getpwuid_r(uid, pw, buf, size, result); },
                  [&found](const struct passwd& pw) {
                    if (pw.pw_name != nullptr) found = pw.pw_name;
                  });
  // Only an account found is kept: a lookup that failed (say, a name service that did not answer)
  // is tried again next time.
  if (!found.empty()) {
    g_account.found = true;
    g_account.uid = uid;
    g_account.name = found;
  }
  if (found.empty()) {
    const char* user = std::getenv("USER");
    found = user != nullptr && *user != '\0' ? std::string(user) : std::to_string(uid);
  }
  *name = found;
  return !found.empty();
}

bool KCGenUserInfo::GetFullUserName(const std::string& login, std::string* fullName) const {
  if (fullName == nullptr) return false;
  fullName->clear();
  const auto it = m_mapFullNames.find(login);
  if (it != m_mapFullNames.end()) {
    *fullName = it->second;
    return !fullName->empty();
  }
  if (login.empty()) return false;
  std::string gecos;
  WithPasswdEntry(
      [&login](struct passwd* pw, char* buf, std::size_t size, struct passwd** result) {
        return getpwnam_r(login.c_str(), pw, buf, size, result);
      },
      [&gecos](const struct passwd& pw) {
        if (pw.pw_gecos != nullptr) gecos = pw.pw_gecos;
      });
  *fullName = gecos.substr(0, gecos.find(','));
  return !fullName->empty();
}

void KCGenUserInfo::SetCurrentUserName(const std::string& name) { m_strCurrentUserName = name; }

void KCGenUserInfo::SetFullUserName(const std::string& login, const std::string& fullName) {
  m_mapFullNames[login] = fullName;
}

void KCGenUserInfo::ClearOverrides() {
  m_strCurrentUserName.clear();
  m_mapFullNames.clear();
}
