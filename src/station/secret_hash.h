#pragma once

#include <string>
#include <string_view>

#include "core/result.h"

namespace pelvaron {

// An operator's PIN or password kept as libsodium's Argon2id string (with its
// salt and limits in it), at the interactive limits: a sign-in takes a tenth
// of a second, a guess at a stolen file as long. The secret itself is never
// kept, nor put into any message.
Result<std::string> HashSecret(std::string_view secret);
// Whether secret is the one hash was made of; false for a hash that is no such string.
bool SecretMatches(const std::string& hash, std::string_view secret);

}  // namespace pelvaron
