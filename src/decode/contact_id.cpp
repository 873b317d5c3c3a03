// Placeholder until the Contact ID table lands.
#include "decode/contact_id.h"

namespace pelvaron {
std::string ContactIdEventText(int, int) { return {}; }
}  // namespace pelvaron
