#include <sqlite3.h>

#include "core/control_characters.h"
#include "station/secret_hash.h"
#include "station/station_checks.h"
#include "station/station_sql.h"
#include "station/station_store.h"
#include "store/text_search.h"

namespace pelvaron {
namespace {

Problem Refused(std::string text) {
  return Problem{std::move(text), {}, 0};
}

std::string Quoted(const std::string& name) {
  return "«" + ShowControlCharacters(name) + "»";
}

Problem NotListed(const std::string& name) {
  return Refused("Оператора " + Quoted(name) + " нет в списке операторов.");
}

}  // namespace

Result<std::string> StationStore::StoredName(const std::string& name) {
  SqlStatement s;
  int rc = Statement("SELECT name FROM operators", s);
  if (rc != SQLITE_OK) return Failed(rc, "не читается");
  const std::string wanted = FoldCase(name);
  while ((rc = sqlite3_step(s.get())) == SQLITE_ROW) {
    std::string stored = ColumnText(s.get(), 0);
    if (FoldCase(stored) == wanted) return stored;
  }
  if (rc != SQLITE_DONE) return Failed(rc, "не читается");
  return std::string();
}

int StationStore::OtherSeniors(const std::string& name) {
  SqlStatement s;
  int rc = Statement("SELECT count(*) FROM operators WHERE senior <> 0 AND name <> ?1", s);
  if (rc == SQLITE_OK) rc = BindText(s.get(), 1, name);
  if (rc == SQLITE_OK) rc = sqlite3_step(s.get());
  if (rc != SQLITE_ROW) return -rc;
  return sqlite3_column_int(s.get(), 0) > 0 ? 1 : 0;
}

Result<std::vector<OperatorAccount>> StationStore::Operators() {
  SqlStatement s;
  int rc = Statement("SELECT name, senior FROM operators ORDER BY name", s);
  std::vector<OperatorAccount> list;
  while (rc == SQLITE_OK && (rc = sqlite3_step(s.get())) == SQLITE_ROW) {
    list.push_back(OperatorAccount{ColumnText(s.get(), 0), sqlite3_column_int(s.get(), 1) != 0});
    rc = SQLITE_OK;
  }
  if (rc != SQLITE_DONE) return Failed(rc, "не читается");
  return list;
}

Result<> StationStore::AddOperator(const std::string& name, const std::string& secret, bool senior) {
  if (Result<> checked = CheckOperatorName(name); !checked) return checked;
  if (Result<> checked = CheckNewSecret(secret); !checked) return checked;
  // Argon2id takes its tenth of a second before the store is locked.
  Result<std::string> hash = HashSecret(secret);
  if (!hash) return hash.problem();
  SqlTransaction transaction(db_.get());
  if (const int rc = transaction.Begin(); rc != SQLITE_OK) return Failed(rc, "не записывается");
  Result<std::string> stored = StoredName(name);
  if (!stored) return stored.problem();
  if (!stored->empty()) {
    return Refused("Оператор " + Quoted(*stored) + " уже есть в списке; выберите другое имя.");
  }
  const int seniors = OtherSeniors(name);
  if (seniors < 0) return Failed(-seniors, "не читается");
  if (!senior && seniors == 0) {
    return Refused("В списке операторов нет старшего: сначала добавьте старшего оператора, чтобы было кому править "
                   "список и планы.");
  }
  SqlStatement s;
  int rc = Statement("INSERT INTO operators(name, senior, secret_hash) VALUES(?1, ?2, ?3)", s);
  if (rc == SQLITE_OK) rc = BindText(s.get(), 1, name);
  if (rc == SQLITE_OK) rc = sqlite3_bind_int(s.get(), 2, senior ? 1 : 0);
  if (rc == SQLITE_OK) rc = BindText(s.get(), 3, *hash);
  if (rc == SQLITE_OK) rc = sqlite3_step(s.get()) == SQLITE_DONE ? SQLITE_OK : sqlite3_errcode(db_.get());
  if (rc == SQLITE_OK) rc = transaction.Commit();
  return rc == SQLITE_OK ? Result<>() : Failed(rc, "не записывается");
}

Result<> StationStore::RemoveOperator(const std::string& name) {
  SqlTransaction transaction(db_.get());
  if (const int rc = transaction.Begin(); rc != SQLITE_OK) return Failed(rc, "не записывается");
  Result<std::string> stored = StoredName(name);
  if (!stored) return stored.problem();
  if (stored->empty()) return NotListed(name);
  // The last senior may go only with the whole list.
  SqlStatement s;
  int rc = Statement("SELECT count(*), max(senior <> 0 AND name = ?1) FROM operators", s);
  if (rc == SQLITE_OK) rc = BindText(s.get(), 1, *stored);
  if (rc == SQLITE_OK) rc = sqlite3_step(s.get());
  if (rc != SQLITE_ROW) return Failed(rc, "не читается");
  const bool others = sqlite3_column_int(s.get(), 0) > 1;
  const bool isSenior = sqlite3_column_int(s.get(), 1) != 0;
  const int seniors = OtherSeniors(*stored);
  if (seniors < 0) return Failed(-seniors, "не читается");
  if (others && isSenior && seniors == 0) {
    return Refused(Quoted(*stored) +
                   " — последний старший оператор в списке; сначала сделайте старшим другого оператора.");
  }
  rc = Statement("DELETE FROM operators WHERE name = ?1", s);
  if (rc == SQLITE_OK) rc = BindText(s.get(), 1, *stored);
  if (rc == SQLITE_OK) rc = sqlite3_step(s.get()) == SQLITE_DONE ? SQLITE_OK : sqlite3_errcode(db_.get());
  if (rc == SQLITE_OK) rc = transaction.Commit();
  return rc == SQLITE_OK ? Result<>() : Failed(rc, "не записывается");
}

Result<> StationStore::SetSenior(const std::string& name, bool senior) {
  SqlTransaction transaction(db_.get());
  if (const int rc = transaction.Begin(); rc != SQLITE_OK) return Failed(rc, "не записывается");
  Result<std::string> stored = StoredName(name);
  if (!stored) return stored.problem();
  if (stored->empty()) return NotListed(name);
  const int seniors = OtherSeniors(*stored);
  if (seniors < 0) return Failed(-seniors, "не читается");
  if (!senior && seniors == 0) {
    return Refused(Quoted(*stored) +
                   " — последний старший оператор в списке; сначала сделайте старшим другого оператора.");
  }
  SqlStatement s;
  int rc = Statement("UPDATE operators SET senior = ?2 WHERE name = ?1", s);
  if (rc == SQLITE_OK) rc = BindText(s.get(), 1, *stored);
  if (rc == SQLITE_OK) rc = sqlite3_bind_int(s.get(), 2, senior ? 1 : 0);
  if (rc == SQLITE_OK) rc = sqlite3_step(s.get()) == SQLITE_DONE ? SQLITE_OK : sqlite3_errcode(db_.get());
  if (rc == SQLITE_OK) rc = transaction.Commit();
  return rc == SQLITE_OK ? Result<>() : Failed(rc, "не записывается");
}

Result<> StationStore::SetSecret(const std::string& name, const std::string& secret) {
  if (Result<> checked = CheckNewSecret(secret); !checked) return checked;
  Result<std::string> hash = HashSecret(secret);
  if (!hash) return hash.problem();
  SqlTransaction transaction(db_.get());
  if (const int rc = transaction.Begin(); rc != SQLITE_OK) return Failed(rc, "не записывается");
  Result<std::string> stored = StoredName(name);
  if (!stored) return stored.problem();
  if (stored->empty()) return NotListed(name);
  SqlStatement s;
  int rc = Statement("UPDATE operators SET secret_hash = ?2 WHERE name = ?1", s);
  if (rc == SQLITE_OK) rc = BindText(s.get(), 1, *stored);
  if (rc == SQLITE_OK) rc = BindText(s.get(), 2, *hash);
  if (rc == SQLITE_OK) rc = sqlite3_step(s.get()) == SQLITE_DONE ? SQLITE_OK : sqlite3_errcode(db_.get());
  if (rc == SQLITE_OK) rc = transaction.Commit();
  return rc == SQLITE_OK ? Result<>() : Failed(rc, "не записывается");
}

Result<std::optional<OperatorAccount>> StationStore::CheckSecret(const std::string& name, const std::string& secret) {
  Result<std::string> stored = StoredName(name);
  if (!stored) return stored.problem();
  if (stored->empty()) return std::optional<OperatorAccount>();
  SqlStatement s;
  int rc = Statement("SELECT secret_hash, senior FROM operators WHERE name = ?1", s);
  if (rc == SQLITE_OK) rc = BindText(s.get(), 1, *stored);
  if (rc == SQLITE_OK) rc = sqlite3_step(s.get());
  if (rc == SQLITE_DONE) return std::optional<OperatorAccount>();
  if (rc != SQLITE_ROW) return Failed(rc, "не читается");
  if (!SecretMatches(ColumnText(s.get(), 0), secret)) return std::optional<OperatorAccount>();
  return std::optional<OperatorAccount>(OperatorAccount{*stored, sqlite3_column_int(s.get(), 1) != 0});
}

}  // namespace pelvaron
