#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "core/operator.h"
#include "objects/object_registry.h"

namespace pelvaron {

// Text limits of the card's edit controls, in characters.
inline constexpr std::size_t kCardAddressLimit = 4;
inline constexpr std::size_t kCardPeriodLimit = 4;
inline constexpr std::size_t kCardCommentLimit = 100;
inline constexpr std::size_t kCardLoopTypeLimit = 100;
inline constexpr std::size_t kCardStateLimit = 200;

// The object card's state without its widgets. One instance lives for the
// whole run (the window owns it); every opening sets the members anew.
// Texts are UTF-8.
struct ObjectCard {
  int m_nSlot = -1;  // -1: a new object; else the slot being edited
  std::string m_strAddress;
  std::string m_strPeriod;
  std::string m_strComment;
  int m_bControl = 0;
  std::string m_strLoop1Type;
  std::string m_strLoop2Type;
  std::string m_strState;  // shown only
  // Set to 1 when the card registered a new object, to 0 when it stored an
  // edited one; read by the new-object command after the card closes.
  int bNewObjectAdded = 0;

  // True when m_nSlot names a slot of the table; anything else is a new object.
  bool Editing() const { return m_nSlot >= 1 && m_nSlot <= kLastObjectSlot; }

  // 1 when another used slot than m_nSlot already has this address, else 0.
  int FindDuplicateAddress(const ObjectTable& table, std::string_view address) const;
};

enum class CardResult { Ok, Cancel };

// "0001".."9999": exactly four decimal digits, not all zero.
bool IsValidObjectAddress(std::string_view address);
// "2h", "180m", "2H", "001h": the period in minutes, or nothing when the text
// is not 2..4 characters of digits (not all zero) and a final h or m.
std::optional<int> ParseControlPeriod(std::string_view period);

// Opening: fills the members from slot m_nSlot, or empty for a new object.
void OpenObjectCard(ObjectCard& card, const ObjectTable& table);

// "Зарегистрировать объект": tests the address, the period, the texts and the
// duplicate address in this order. On the first failure returns the message
// to show over the card (exclamation icon) and changes nothing; on success
// writes the record (the first free slot for a new object) and returns nothing:
// the card then closes with CardResult::Ok. The caller refreshes and saves.
std::optional<OperatorMessage> RegisterObjectCard(ObjectCard& card, ObjectRegistry& registry);

// "Удалить объект", asked with CardDeleteQuestion() first: removes the edited
// object and returns true (the card closes with CardResult::Ok); on a card for
// a new object does nothing and returns false (the card stays open).
bool DeleteObjectFromCard(const ObjectCard& card, ObjectRegistry& registry);

// The card's question before deleting (Yes and No, question icon).
OperatorMessage CardDeleteQuestion();

}  // namespace pelvaron
