#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/result.h"
#include "station/station_data.h"

namespace pelvaron {

// The plans as a table for spreadsheets (docs/plans.md): UTF-8 without BOM,
// RFC 4180, this header line, one row per key holder in calling order; a
// plan without key holders is one row with holder, name, role and phones
// empty. A plan's own columns are repeated on each of its rows. Several
// phones in one field are separated by "; ".
inline constexpr char kPlansCsvHeader[] = "address,priority,instructions,guard_group,guard_phone,holder,name,role,phones";

// Rows sorted by address, then priority, then holder; CR LF after every row.
// Reading what this wrote and writing it again gives the same bytes.
std::string WritePlansCsv(std::vector<ResponsePlan> plans);

// Every plan of a table, or the first bad row's message, which begins with
// its line in the file ("строка 12: ..."). A table may come with a BOM and
// LF line ends, its rows in any order, holder numbers with gaps; blank rows
// are skipped. A line break inside instructions is taken as LF. priorities:
// the names a default plan may have; empty for any word.
Result<std::vector<ResponsePlan>> ReadPlansCsv(std::string_view text, std::span<const std::string> priorities = {});

}  // namespace pelvaron
