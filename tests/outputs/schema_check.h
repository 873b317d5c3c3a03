#pragma once

// The part of JSON Schema that docs/events.schema.json and the discovery
// schema use (type, required, properties, additionalProperties: false,
// items, enum, const, minimum, maxLength, pattern, allOf with if/then), on
// values of the tests' strict JSON reader, so that the tests read what the
// outputs write as any consumer would, without a library for it. Duplicate
// keys need no check here: the reader refuses them.

#include <string>
#include <vector>

#include "support/json_parse.h"

namespace pelvaron::testing {

// What in value does not agree with schema (empty when all does).
std::vector<std::string> CheckSchema(const JsonValue& schema, const JsonValue& value, const std::string& where = "$");

// docs/events.schema.json, read once.
const JsonValue& EventSchema();
// tests/outputs/ha_discovery.schema.json: by component ("binary_sensor", "sensor").
const JsonValue& DiscoverySchema();

}  // namespace pelvaron::testing
