#pragma once

// The part of JSON Schema that docs/events.schema.json uses (type, required,
// properties, items, enum, const, minimum, pattern, allOf with if/then), on
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

}  // namespace pelvaron::testing
