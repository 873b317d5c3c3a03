#include "station/plans_csv.h"

#include <algorithm>
#include <map>
#include <optional>
#include <utility>

#include "core/control_characters.h"
#include "core/cp1251.h"
#include "station/csv.h"
#include "station/station_checks.h"

namespace pelvaron {
namespace {

enum Column { kAddress, kPriority, kInstructions, kGuardGroup, kGuardPhone, kHolder, kName, kRole, kPhones, kColumns };
constexpr const char* kColumnNames[kColumns] = {"address", "priority", "instructions", "guard_group", "guard_phone",
                                                "holder",  "name",     "role",         "phones"};
constexpr std::string_view kPhoneSeparator = "; ";
constexpr std::string_view kBom = "\xEF\xBB\xBF";
constexpr unsigned kMaxHolderNumber = 9999;

bool PlanOrder(const ResponsePlan& a, const ResponsePlan& b) {
  return std::tie(a.address, a.priority) < std::tie(b.address, b.priority);
}

std::string Quoted(std::string_view text) {
  return "«" + ShowControlCharacters(text) + "»";
}

// A row as the message names it: its line in the file, and its row in a
// spreadsheet where line breaks in fields make the two differ.
struct Row {
  std::size_t line = 0;
  std::size_t row = 0;  // the header's is 1
  // "строка 12", or with in "строке 12".
  std::string Where(bool in = false) const {
    const char* word = in ? "строке " : "строка ";
    std::string where = word + std::to_string(line);
    if (row != line) where += std::string(" (") + word + "таблицы " + std::to_string(row) + ")";
    return where;
  }
  Problem Refuse(const std::string& what) const { return Problem{Where() + ": " + what, {}, 0}; }
  Problem Refuse(const Result<>& r) const { return Refuse(r.problem().text); }
};

std::string Subject(Column c) {
  return std::string("Столбец ") + kColumnNames[c];
}

// The line of the first byte that is no UTF-8, or nothing.
std::optional<std::size_t> FirstNonUtf8Line(std::string_view text) {
  std::size_t line = 1;
  char32_t c = 0;
  for (std::size_t pos = 0; pos < text.size();) {
    if (text[pos] == '\n') ++line;
    if (!NextUtf8CodePoint(text, pos, c)) return line;
  }
  return std::nullopt;
}

std::string WithoutCarriageReturns(std::string_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')) out += text[i];
  }
  return out;
}

std::vector<std::string> SplitPhones(std::string_view field) {
  std::vector<std::string> phones;
  std::size_t start = 0;
  while (start <= field.size()) {
    const std::size_t end = std::min(field.find(';', start), field.size());
    std::string_view phone = field.substr(start, end - start);
    while (!phone.empty() && phone.front() == ' ') phone.remove_prefix(1);
    while (!phone.empty() && phone.back() == ' ') phone.remove_suffix(1);
    if (!phone.empty()) phones.emplace_back(phone);
    start = end + 1;
  }
  return phones;
}

std::optional<unsigned> HolderNumber(std::string_view field) {
  if (field.empty() || field.size() > 4) return std::nullopt;
  unsigned n = 0;
  for (char c : field) {
    if (c < '0' || c > '9') return std::nullopt;
    n = n * 10 + static_cast<unsigned>(c - '0');
  }
  if (n == 0 || n > kMaxHolderNumber) return std::nullopt;
  return n;
}

// A plan as its rows build it: where it was first seen, and its key holders
// by their numbers with their rows.
struct PlanRows {
  ResponsePlan plan;
  Row first;
  std::optional<Row> withoutHolders;
  std::map<unsigned, std::pair<KeyHolder, Row>> holders;
};

Result<> CheckHeader(const CsvRecord& header) {
  std::string expected = "; первой строкой должен быть заголовок " + std::string(kPlansCsvHeader) + ".";
  const Row row{header.line, 1};
  for (std::size_t i = 0; i < kColumns; ++i) {
    if (i >= header.fields.size()) {
      return row.Refuse("в заголовке нет столбца " + std::string(kColumnNames[i]) + expected);
    }
    if (header.fields[i] != kColumnNames[i]) {
      return row.Refuse("столбец " + std::to_string(i + 1) + " заголовка " + Quoted(header.fields[i]) + ", а должен быть " +
                        kColumnNames[i] + expected);
    }
  }
  if (header.fields.size() > kColumns) {
    return row.Refuse("в заголовке лишний столбец " + Quoted(header.fields[kColumns]) + expected);
  }
  return {};
}

// The plan's own columns of a row: which plan it is, what to do, whom to send.
Result<> CheckPlanColumns(const Row& row, const std::vector<std::string>& f, std::span<const std::string> priorities) {
  const std::string& address = f[kAddress];
  const std::string& priority = f[kPriority];
  if (address.empty() == priority.empty()) {
    return row.Refuse(address.empty() ? "не заполнены ни address (план объекта), ни priority (план по умолчанию для "
                                        "приоритета); заполните одно из двух."
                                      : "заполнены и address, и priority: план либо объекта, либо по умолчанию для "
                                        "приоритета; оставьте одно из двух.");
  }
  Result<> r = address.empty() ? CheckPriorityName(Subject(kPriority), priority)
                               : CheckPlanAddress(Subject(kAddress), address);
  if (r && !priority.empty() && !priorities.empty() &&
      std::find(priorities.begin(), priorities.end(), priority) == priorities.end()) {
    std::string known;
    for (const std::string& name : priorities) known += (known.empty() ? "" : ", ") + name;
    return row.Refuse("приоритета " + Quoted(priority) + " нет в таблице приоритетов станции; есть: " + known + ".");
  }
  if (r) r = CheckInstructions(Subject(kInstructions), WithoutCarriageReturns(f[kInstructions]));
  if (r) r = CheckLineText(Subject(kGuardGroup), f[kGuardGroup], false);
  if (r && !f[kGuardPhone].empty()) r = CheckTelephone(Subject(kGuardPhone), f[kGuardPhone]);
  return r ? r : row.Refuse(r);
}

// A row's key holder, or nothing for a row of a plan without key holders.
Result<std::optional<std::pair<unsigned, KeyHolder>>> ReadHolder(const Row& row, const std::vector<std::string>& f) {
  using Holder = std::optional<std::pair<unsigned, KeyHolder>>;
  if (f[kHolder].empty()) {
    if (f[kName].empty() && f[kRole].empty() && f[kPhones].empty()) return Holder();
    return row.Refuse("у ответственного лица не указан номер в очереди звонков: заполните столбец holder (1, 2, ...).");
  }
  const std::optional<unsigned> number = HolderNumber(f[kHolder]);
  if (!number) {
    return row.Refuse("в столбце holder " + Quoted(f[kHolder]) + ", а должен быть номер в очереди звонков от 1 до " +
                      std::to_string(kMaxHolderNumber) + ".");
  }
  KeyHolder holder{f[kName], f[kRole], SplitPhones(f[kPhones])};
  Result<> r = CheckLineText(Subject(kName), holder.name, true);
  if (r) r = CheckLineText(Subject(kRole), holder.role, false);
  if (r && holder.phones.empty()) {
    return row.Refuse("в столбце phones нет ни одного телефона; укажите хотя бы один (несколько — через «; »).");
  }
  for (const std::string& phone : holder.phones) {
    if (r) r = CheckTelephone("Телефон в столбце phones", phone);
  }
  if (!r) return row.Refuse(r);
  return Holder(std::pair{*number, std::move(holder)});
}

// A later row of a plan says the same of the plan as its first.
Result<> CheckSamePlan(const Row& row, const PlanRows& rows, const std::vector<std::string>& f) {
  const std::pair<Column, const std::string*> own[] = {{kInstructions, &rows.plan.instructions},
                                                        {kGuardGroup, &rows.plan.guardGroup},
                                                        {kGuardPhone, &rows.plan.guardPhone}};
  for (const auto& [column, first] : own) {
    const std::string value = column == kInstructions ? WithoutCarriageReturns(f[column]) : f[column];
    if (value != *first) {
      return row.Refuse(std::string("столбец ") + kColumnNames[column] + " не такой, как в " + rows.first.Where(true) +
                        " того же плана; у всех строк одного плана он одинаковый.");
    }
  }
  return {};
}

}  // namespace

std::string WritePlansCsv(std::vector<ResponsePlan> plans) {
  std::stable_sort(plans.begin(), plans.end(), PlanOrder);
  std::string out;
  out += kPlansCsvHeader;
  out += "\r\n";
  for (const ResponsePlan& p : plans) {
    const std::string_view own[] = {p.address, p.priority, p.instructions, p.guardGroup, p.guardPhone};
    if (p.keyHolders.empty()) {
      AppendCsvRecord(out, {own[0], own[1], own[2], own[3], own[4], "", "", "", ""});
      continue;
    }
    for (std::size_t i = 0; i < p.keyHolders.size(); ++i) {
      const KeyHolder& k = p.keyHolders[i];
      std::string phones;
      for (const std::string& phone : k.phones) {
        if (!phones.empty()) phones += kPhoneSeparator;
        phones += phone;
      }
      const std::string number = std::to_string(i + 1);
      AppendCsvRecord(out, {own[0], own[1], own[2], own[3], own[4], number, k.name, k.role, phones});
    }
  }
  return out;
}

Result<std::vector<ResponsePlan>> ReadPlansCsv(std::string_view text, std::span<const std::string> priorities) {
  if (text.substr(0, kBom.size()) == kBom) text.remove_prefix(kBom.size());
  if (std::optional<std::size_t> line = FirstNonUtf8Line(text)) {
    return Row{*line, *line}.Refuse(
        "текст не в кодировке UTF-8 (так бывает, когда таблицу сохранили в Windows-1251); сохраните её как CSV в "
        "кодировке UTF-8.");
  }
  Result<std::vector<CsvRecord>> records = ReadCsv(text);
  if (!records) return records.problem();
  if (records->empty()) {
    return Problem{"файл пуст; первой строкой должен быть заголовок " + std::string(kPlansCsvHeader) + ".", {}, 0};
  }
  if (Result<> header = CheckHeader(records->front()); !header) return header.problem();

  std::map<std::pair<std::string, std::string>, PlanRows> plans;
  for (std::size_t i = 1; i < records->size(); ++i) {
    const CsvRecord& record = (*records)[i];
    const Row row{record.line, i + 1};
    const std::vector<std::string>& f = record.fields;
    // Spreadsheets leave rows of empty cells behind.
    if (std::all_of(f.begin(), f.end(), [](const std::string& field) { return field.empty(); })) continue;
    if (f.size() != kColumns) {
      return row.Refuse("полей " + std::to_string(f.size()) + ", а должно быть " + std::to_string(kColumns) + ": " +
                        kPlansCsvHeader + ".");
    }
    if (Result<> r = CheckPlanColumns(row, f, priorities); !r) return r.problem();
    Result<std::optional<std::pair<unsigned, KeyHolder>>> holder = ReadHolder(row, f);
    if (!holder) return holder.problem();

    auto [it, added] = plans.try_emplace({f[kAddress], f[kPriority]});
    PlanRows& rows = it->second;
    if (added) {
      rows.plan = ResponsePlan{f[kAddress], f[kPriority], WithoutCarriageReturns(f[kInstructions]), {},
                               f[kGuardGroup], f[kGuardPhone]};
      rows.first = row;
    } else if (Result<> same = CheckSamePlan(row, rows, f); !same) {
      return same.problem();
    }
    if (!*holder) {
      if (!added) {
        return row.Refuse("строка без ответственного лица, а у этого плана уже есть " + rows.first.Where() +
                          "; план без ответственных лиц описывается одной строкой, удалите лишнюю.");
      }
      rows.withoutHolders = row;
      continue;
    }
    if (rows.withoutHolders) {
      return row.Refuse("у этого плана уже есть " + rows.withoutHolders->Where() +
                        " без ответственного лица; заполните в ней ответственное лицо или удалите её.");
    }
    auto [number, keyHolder] = std::move(**holder);
    if (auto taken = rows.holders.find(number); taken != rows.holders.end()) {
      return row.Refuse("ответственное лицо №" + std::to_string(number) + " этого плана уже есть в " +
                        taken->second.second.Where(true) + "; у каждого свой номер в очереди звонков.");
    }
    rows.holders.emplace(number, std::pair{std::move(keyHolder), row});
  }

  std::vector<ResponsePlan> out;
  out.reserve(plans.size());
  for (auto& [key, rows] : plans) {
    for (auto& [number, holder] : rows.holders) rows.plan.keyHolders.push_back(std::move(holder.first));
    out.push_back(std::move(rows.plan));
  }
  return out;
}

}  // namespace pelvaron
