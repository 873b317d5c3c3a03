// An object's openings and closings, read from the frames the store keeps:
// the Contact ID code and whether it is a new event or a restore are the
// message's own fields, not a text to parse.
#include <sqlite3.h>

#include "decode/decoded_message.h"
#include "reports/query/report_rows.h"
#include "store/sql_text.h"

namespace pelvaron {

Result<std::vector<OpeningClosing>> ReadOpenings(EventStore& store, std::int64_t from, std::int64_t to,
                                                 const std::vector<std::string>& addresses) {
  const std::string sql =
      "SELECT time, address, frame, text FROM events WHERE kind = 'message' AND time >= ?1 AND time <= ?2" +
      AddressCondition(addresses, 3) + " ORDER BY time, id";
  SqlStatement s;
  int rc = PrepareOnce(store.handle(), sql.c_str(), -1, s);
  if (rc != SQLITE_OK) return ReportStoreFailure(store, rc, "openings");
  sqlite3_bind_int64(s.get(), 1, from);
  sqlite3_bind_int64(s.get(), 2, to);
  BindAddresses(s.get(), addresses, 3);
  std::vector<OpeningClosing> found;
  DecodedMessage m;
  while ((rc = sqlite3_step(s.get())) == SQLITE_ROW) {
    if (sqlite3_column_bytes(s.get(), 2) != static_cast<int>(m.raw.size())) continue;
    DecodeMessage(static_cast<const std::uint8_t*>(sqlite3_column_blob(s.get(), 2)), m);
    if (m.kind != MessageKind::ContactId || m.contactId.code < 400 || m.contactId.code > 409) continue;
    OpeningClosing o;
    o.time = sqlite3_column_int64(s.get(), 0);
    o.address = ColumnText(s.get(), 1);
    o.code = m.contactId.code;
    o.opening = m.contactId.newEvent;
    if (m.contactId.zoneNumber > 0) o.user = std::to_string(m.contactId.zoneNumber);
    o.text = ColumnText(s.get(), 3);
    found.push_back(std::move(o));
  }
  if (rc != SQLITE_DONE) return ReportStoreFailure(store, rc, "openings");
  return found;
}

}  // namespace pelvaron
