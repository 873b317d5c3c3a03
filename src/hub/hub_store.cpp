#include "hub/hub_store.h"

#include "hub/postgres_hub_store.h"
#include "hub/sqlite_hub_store.h"

namespace pelvaron {

bool IsPostgresUrl(const std::string& where) {
  return where.rfind("postgresql://", 0) == 0 || where.rfind("postgres://", 0) == 0;
}

Result<std::unique_ptr<HubStore>> OpenHubStore(const std::string& where) {
  if (IsPostgresUrl(where)) return OpenPostgresHubStore(where);
  return OpenSqliteHubStore(where);
}

}  // namespace pelvaron
