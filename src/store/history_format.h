#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "store/event_store.h"

namespace pelvaron {

// The history as text, the same from pelvaron-history and the history
// window's export. UTF-8, one event a line, in the order given.

// A priority's title by its name ("fire" -> "Пожар"); the name when not given.
using PriorityTitle = std::function<std::string(const std::string& name)>;

// Columns for a terminal: number, time, address, priority, text, and the
// acknowledgement of an alarm.
std::string FormatHistoryTable(const std::vector<StoredEvent>& events, const PriorityTitle& title = {});
// RFC 4180: a header line, then one line per event, CR LF.
std::string FormatHistoryCsv(const std::vector<StoredEvent>& events, const PriorityTitle& title = {});
// For a spreadsheet of a Russian station: a UTF-8 byte order mark, ';'
// between fields, Russian headers, the columns of the history window, times
// as the windows show them, addresses kept as text ("0012", not 12) and no
// field read as a formula.
std::string FormatHistorySpreadsheet(const std::vector<StoredEvent>& events, const PriorityTitle& title = {});
// JSON Lines: one object per event.
std::string FormatHistoryJson(const std::vector<StoredEvent>& events);

// "2026-12-07 10:22:20" of an ISO time text: what the operator reads.
std::string ReadableTime(const std::string& isoTime);
// "07.12.2026 10:22:20": local time as the windows show it to the operator.
std::string OperatorTime(std::int64_t time);
// ISO 8601 local time of calendar seconds.
std::string IsoTimeOf(std::int64_t time);

// Local calendar seconds of a time typed on a command line:
// "2026-12-07[ T]10:30[:15]" or "07.12.2026[ 10:30[:15]]"; a date alone is
// its first second, or its last when endOfDay. Nothing for anything else.
std::optional<std::int64_t> ParseTimeArgument(const std::string& text, bool endOfDay);

// The forms an address typed by the operator may have been stored in: "12"
// is also "0012" (decimal addresses are shown with four digits).
std::vector<std::string> AddressForms(const std::string& typed);

}  // namespace pelvaron
