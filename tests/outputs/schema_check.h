#pragma once

// The part of JSON Schema that docs/events.schema.json and the discovery
// schema use (type, required, properties, additionalProperties: false,
// items, enum, const, minimum, maxLength, pattern, allOf with if/then), so
// that the tests read what the outputs write as any consumer would. Debian
// has no validator for nlohmann-json; the few keywords are checked here.

#include <string>
#include <vector>

#include "support/strict_json.h"

namespace pelvaron::testing {

// What in value does not agree with schema (empty when all does).
std::vector<std::string> CheckSchema(const Json& schema, const Json& value, const std::string& where = "$");

// docs/events.schema.json, read once.
const Json& EventSchema();
// tests/outputs/ha_discovery.schema.json: by component ("binary_sensor", "sensor").
const Json& DiscoverySchema();

}  // namespace pelvaron::testing
