#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "core/result.h"
#include "hub/web/web_db.h"

namespace pelvaron {

// Who may use the web console: viewer sees, operator also handles alarms,
// manager also manages users.
enum class Role { Viewer, Operator, Manager };

std::optional<Role> RoleNamed(std::string_view name);
std::string_view RoleName(Role role);

struct WebUser {
  std::string name;
  Role role = Role::Viewer;
  std::string stamp;  // the password's hash at sign-in: a change ends the session
};

// The users table in the hub's database: names, roles and Argon2id hashes of
// the passwords (never the passwords themselves).
class UserStore {
 public:
  // Creates the table when it is missing.
  static Result<UserStore> Open(WebDb& db);
  // Over a database whose connections make the table themselves
  // (OpenWebDbWhenReachable with MakeTable).
  static UserStore Over(WebDb& db) { return UserStore(db); }
  static Result<> MakeTable(WebDb& db);

  // Refused when the name is taken or not a proper name.
  Result<> Add(const std::string& name, Role role, std::string_view password);
  Result<> Remove(const std::string& name);
  Result<> SetPassword(const std::string& name, std::string_view password);
  // The user when name and password match; nothing otherwise (also when the
  // database fails: the cause goes to problem).
  // The user as the table has it now (removed: nothing; the cause of a
  // failure goes to problem).
  std::optional<WebUser> Current(const std::string& name, Problem* problem = nullptr);
  std::optional<WebUser> SignIn(const std::string& name, std::string_view password, Problem* problem = nullptr);

 private:
  explicit UserStore(WebDb& db) : db_(&db) {}
  WebDb* db_;
};

// A user's name: 1 to 64 characters, no control characters (it goes into the
// consoles' records as the operator).
bool IsUserName(std::string_view name);

}  // namespace pelvaron
