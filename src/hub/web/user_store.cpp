#include "hub/web/user_store.h"

#include <array>

#include "station/secret_hash.h"

namespace pelvaron {

namespace {

constexpr std::array<std::pair<Role, std::string_view>, 3> kRoles{{
    {Role::Viewer, "viewer"},
    {Role::Operator, "operator"},
    {Role::Manager, "manager"},
}};

constexpr std::size_t kMinPassword = 8;

}  // namespace

std::optional<Role> RoleNamed(std::string_view name) {
  for (const auto& [role, text] : kRoles) {
    if (text == name) return role;
  }
  return {};
}

std::string_view RoleName(Role role) {
  for (const auto& [r, text] : kRoles) {
    if (r == role) return text;
  }
  return "viewer";
}

bool IsUserName(std::string_view name) {
  if (name.empty() || name.size() > 64) return false;
  for (const char c : name) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return false;
  }
  return true;
}

Result<> UserStore::MakeTable(WebDb& db) {
  Result<std::vector<WebDb::Row>> made =
      db.Query("CREATE TABLE IF NOT EXISTS users(name TEXT PRIMARY KEY, role TEXT NOT NULL, hash TEXT NOT NULL)");
  if (!made) return made.problem();
  return {};
}

Result<UserStore> UserStore::Open(WebDb& db) {
  if (Result<> made = MakeTable(db); !made) return made.problem();
  return UserStore(db);
}

Result<> UserStore::Add(const std::string& name, Role role, std::string_view password) {
  if (!IsUserName(name)) return Problem{"Имя пользователя должно быть от 1 до 64 символов, без управляющих символов"};
  if (password.size() < kMinPassword)
    return Problem{"Пароль слишком короткий: нужно не меньше " + std::to_string(kMinPassword) + " символов"};
  Result<std::string> hash = HashSecret(password);
  if (!hash) return hash.problem();
  Result<std::vector<WebDb::Row>> added = db_->Query(
      "INSERT INTO users(name, role, hash) VALUES ($1, $2, $3) ON CONFLICT DO NOTHING RETURNING name",
      {name, std::string(RoleName(role)), *hash});
  if (!added) return added.problem();
  if (added->empty()) return Problem{"Пользователь " + name + " уже есть; пароль меняет --user passwd"};
  return {};
}

Result<> UserStore::Remove(const std::string& name) {
  Result<std::vector<WebDb::Row>> removed = db_->Query("DELETE FROM users WHERE name = $1 RETURNING name", {name});
  if (!removed) return removed.problem();
  if (removed->empty()) return Problem{"Пользователя " + name + " нет"};
  return {};
}

Result<> UserStore::SetPassword(const std::string& name, std::string_view password) {
  if (password.size() < kMinPassword)
    return Problem{"Пароль слишком короткий: нужно не меньше " + std::to_string(kMinPassword) + " символов"};
  Result<std::string> hash = HashSecret(password);
  if (!hash) return hash.problem();
  Result<std::vector<WebDb::Row>> changed =
      db_->Query("UPDATE users SET hash = $2 WHERE name = $1 RETURNING name", {name, *hash});
  if (!changed) return changed.problem();
  if (changed->empty()) return Problem{"Пользователя " + name + " нет"};
  return {};
}

std::optional<WebUser> UserStore::SignIn(const std::string& name, std::string_view password, Problem* problem) {
  Result<std::vector<WebDb::Row>> found = db_->Query("SELECT role, hash FROM users WHERE name = $1", {name});
  if (!found) {
    if (problem != nullptr) *problem = found.problem();
    return {};
  }
  if (found->empty()) {
    // As long as a wrong password, so the answer's time does not tell who exists.
    SecretMatches("$argon2id$v=19$m=65536,t=2,p=1$c29tZXNhbHRzb21lc2FsdA$"
                  "AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA",
                  password);
    return {};
  }
  const WebDb::Row& row = found->front();
  const std::optional<Role> role = RoleNamed(row[0]);
  if (!role || !SecretMatches(row[1], password)) return {};
  return WebUser{name, *role, row[1]};
}

std::optional<WebUser> UserStore::Current(const std::string& name, Problem* problem) {
  Result<std::vector<WebDb::Row>> found = db_->Query("SELECT role, hash FROM users WHERE name = $1", {name});
  if (!found) {
    if (problem != nullptr) *problem = found.problem();
    return {};
  }
  if (found->empty()) return {};
  const std::optional<Role> role = RoleNamed(found->front()[0]);
  if (!role) return {};
  return WebUser{name, *role, found->front()[1]};
}

}  // namespace pelvaron
