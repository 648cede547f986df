// SPDX-License-Identifier: Apache-2.0
// Services of the host product: texts by numeric id, the master clock, the base library
// (directories, default names, the product name) and the restriction service (users, roles,
// rights).
//
// This is the reference build of these names, libglpshost.so. It is meant for one host thread:
// none of the classes locks, and the singletons must not be used from two threads at once.
#ifndef GLPS_HOST_SERVICES_H_
#define GLPS_HOST_SERVICES_H_

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "glps/export.h"
#include "glps/host/gen.h"

// The text service.
namespace Txts {
// The text with the id; an unknown id gives a visible placeholder naming it, "[text 12345]".
GLPSHOST_API std::string GetString(unsigned id);
// The text with its place holders "%1" ... "%9" replaced by the arguments (the first argument for
// "%1"). The text is scanned once, so an argument that itself contains "%2" is inserted as it is.
// A place holder without an argument stays as it is.
GLPSHOST_API std::string GetString(unsigned id, const std::vector<std::string>& arguments);
}  // namespace Txts

// The time library's master clock. A singleton owned by the library; reached through Instance().
// This build reads the system clock.
class GLPSHOST_API KCTimeMasterClock {
 public:
  static KCTimeMasterClock* Instance();

  // Fills the time with the present time. The flag is accepted for the host's interface and has no
  // effect here. False only for a null pointer.
  bool GetTimeStamp(KCGenTime* time, bool flag) const;

  KCTimeMasterClock(const KCTimeMasterClock&) = delete;
  KCTimeMasterClock& operator=(const KCTimeMasterClock&) = delete;

 private:
  KCTimeMasterClock();
  ~KCTimeMasterClock();
};

// The base library: the application's directories.
class GLPSHOST_API KECBaseFilesAndLocations {
 public:
  // The directory of the application log, created (with its parents) when missing: the directory
  // set with SetDirectoryAppLog, else $GLPS_APPLOG_DIR, else $XDG_STATE_HOME/<product>/applog (when
  // that is an absolute path), else $HOME/.local/state/<product>/applog with the home directory
  // from $HOME or the user's account. <product> is Qor::g_szKelvara. The empty text when no home
  // directory can be found at all. The text is returned even when the directory cannot be created.
  static std::string GetDirectoryAppLog();
  // Sets the directory of the application log; the empty text returns to the default above.
  static void SetDirectoryAppLog(const std::string& directory);
};

// The base library: default names.
class GLPSHOST_API KECBaseNameUtils {
 public:
  // A plain file name made of the base and the number: "<base>_<number>", the number written in
  // decimal with at least four digits ("GLP-Log-Kelvara_0001"). Every byte of the base outside
  // [A-Za-z0-9_-] becomes '_' (so the name has no '/', no '.', no blank and no control character),
  // a leading '-' becomes '_', an empty base becomes "log", and the base is cut to 200 bytes.
  // Different numbers always give different names for the same base, and the result never has an
  // extension, so MakeNameExtension only appends.
  static std::string MakeDefaultName(const std::string& base, unsigned number);
};

// The product.
namespace Qor {
// The product name, "Kelvara".
GLPSHOST_API extern const char g_szKelvara[];
}  // namespace Qor

// Rights of the restriction service.
namespace Qrms {
enum RightApp : std::int32_t {
  RightAppNone = 0,
  // Whether the application log is kept.
  RightAppGlpLog = 11001,
};
}  // namespace Qrms

// A user known to the restriction service. A plain value.
class GLPSHOST_API KCRmsUserInfo {
 public:
  KCRmsUserInfo(const std::string& login, bool admin);
  // The login name.
  std::string GetUserNameA() const;
  bool IsAdmin() const;

 private:
  std::string m_strLogin;
  bool m_bAdmin;
};

// The interface of the restriction service.
class GLPSHOST_API KCRmsRestrictionManagerServiceBase {
 public:
  virtual ~KCRmsRestrictionManagerServiceBase();
  // True when the right is granted to the running user.
  virtual bool GetIsAllowed(Qrms::RightApp right) const = 0;
  // The users the service knows.
  virtual std::vector<KCRmsUserInfo> GetAllUsers() const = 0;
  // The names of the role restrictions enabled for the user.
  virtual std::vector<std::string> GetUserEnabledRoleRestr(const std::string& user) const = 0;
};

// The restriction service. A singleton owned by the library; reached through Instance().
// By default every right is granted, the only user is the process's user (the name that
// KCGenUserInfo::GetCurrentUserName gives at the time of the call) as an administrator, and no user
// has role restrictions. The host (or a test) changes this with the setters.
class GLPSHOST_API KECQrmsServices : public KCRmsRestrictionManagerServiceBase {
 public:
  static KECQrmsServices* Instance();

  bool GetIsAllowed(Qrms::RightApp right) const override;
  std::vector<KCRmsUserInfo> GetAllUsers() const override;
  std::vector<std::string> GetUserEnabledRoleRestr(const std::string& user) const override;

  void SetAllowed(Qrms::RightApp right, bool allowed);
  // Replaces the default user list; from then on exactly these users are known.
  void SetAllUsers(const std::vector<KCRmsUserInfo>& users);
  void SetUserEnabledRoleRestr(const std::string& user,
                               const std::vector<std::string>& restrictions);
  // Returns to the defaults described above.
  void ResetDefaults();

  KECQrmsServices(const KECQrmsServices&) = delete;
  KECQrmsServices& operator=(const KECQrmsServices&) = delete;

 private:
  KECQrmsServices();
  ~KECQrmsServices() override;

  // Rights not in the map are granted.
  std::map<std::int32_t, bool> m_mapAllowed;
  // Used only when m_bUsersSet.
  std::vector<KCRmsUserInfo> m_vUsers;
  bool m_bUsersSet;
  std::map<std::string, std::vector<std::string>> m_mapRoleRestr;
};

#endif  // GLPS_HOST_SERVICES_H_
