#include "outputs/event_record.h"

#include <nlohmann/json.hpp>

#include "events/event.h"

namespace pelvaron {

bool LooksLikeEvent(std::string_view record) {
  const nlohmann::json json = nlohmann::json::parse(record, nullptr, false);
  if (!json.is_object()) return false;
  const auto seq = json.find("seq");
  const auto kind = json.find("kind");
  if (seq == json.end() || !seq->is_number_unsigned() || kind == json.end() || !kind->is_string()) return false;
  const auto& name = kind->get_ref<const std::string&>();
  for (EventKind k : AllEventKinds()) {
    if (EventKindName(k) == name) return true;
  }
  return false;
}

}  // namespace pelvaron
