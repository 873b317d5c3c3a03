#pragma once

#include <optional>

#include "core/operator.h"
#include "link/receiver_link.h"

namespace pelvaron {

// The receiver settings page's members (row indexes, -1 = no row).
struct ReceiverPageValues {
  int m_bCheckLine = 0;
  int m_nCheckInterval = -1;  // "1 мин", "5 мин", "10 мин", "30 мин"
  int m_nPickupRings = -1;    // "1 звонок" .. "5 звонков"
  int m_nMainFormat = 0;      // 0 "Ломир-Т", 1 "Contact-ID"
  int m_nFormatCount = 0;     // 0 "Один", 1 "Два"

  bool operator==(const ReceiverPageValues&) const = default;
};

// The page as the block read from the receiver fills it.
ReceiverPageValues PageFromBlock(const ParameterBlock& block);
// The block to write: bytes 0, 2 and 3 rebuilt from the page, 1 and 4 as read.
ParameterBlock BlockFromPage(const ParameterBlock& read, const ReceiverPageValues& page);

// The two texts of the progress window before attempt k of m.
inline constexpr char kExchangeText[] = "Идёт обмен информацией ...";
std::string AttemptText(int k, int m);

// The message for a failed phase's last result (1..5); the read phase's
// code-1 text differs from the write phase's by a space.
OperatorMessage ReadPhaseMessage(int result);
OperatorMessage WritePhaseMessage(int result);

// Runs up to `attempts` reads (at least one), announcing each attempt before it
// is made and waiting 400 ms after each failed one. Returns the last result.
int RunReadPhase(ReceiverLink& link, Operator& op, int attempts, ParameterBlock& block);
// The same for writes with read-back.
int RunWritePhase(ReceiverLink& link, Operator& op, int attempts, const ParameterBlock& block);

}  // namespace pelvaron
