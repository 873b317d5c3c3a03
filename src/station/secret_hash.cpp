#include "station/secret_hash.h"

#include <sodium.h>

namespace pelvaron {
namespace {

bool SodiumReady() {
  // Safe to call from any thread, and again: 1 when it was ready already.
  static const bool ready = sodium_init() >= 0;
  return ready;
}

}  // namespace

Result<std::string> HashSecret(std::string_view secret) {
  if (!SodiumReady()) return Problem{"Библиотека шифрования libsodium не готова к работе", {}, 0};
  char hash[crypto_pwhash_STRBYTES];
  if (crypto_pwhash_str(hash, secret.data(), secret.size(), crypto_pwhash_OPSLIMIT_INTERACTIVE,
                        crypto_pwhash_MEMLIMIT_INTERACTIVE) != 0) {
    // Argon2id asks for 64 MiB: its only failure is not getting them.
    return Problem{"Не хватает памяти, чтобы зашифровать ПИН-код или пароль; закройте другие программы и повторите", {},
                   0};
  }
  return std::string(hash);
}

bool SecretMatches(const std::string& hash, std::string_view secret) {
  return SodiumReady() && crypto_pwhash_str_verify(hash.c_str(), secret.data(), secret.size()) == 0;
}

}  // namespace pelvaron
