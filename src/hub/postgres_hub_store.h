#pragma once

#include <memory>
#include <string>

#include "hub/hub_store.h"

namespace pelvaron {

// A PostgreSQL database through libpq; a lost connection is made again at
// the next call.
Result<std::unique_ptr<HubStore>> OpenPostgresHubStore(const std::string& url);

}  // namespace pelvaron
