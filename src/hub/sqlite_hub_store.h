#pragma once

#include <memory>
#include <string>

#include "hub/hub_store.h"

namespace pelvaron {

// hub.sqlite: WAL, so that readers (the web, pelvaron-history's like) never
// wait for the writer.
Result<std::unique_ptr<HubStore>> OpenSqliteHubStore(const std::string& path);

}  // namespace pelvaron
