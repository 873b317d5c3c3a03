// pelvaron-history: searches a console's event store (events.sqlite) and
// acknowledges alarms without a window. A running console records an
// acknowledgement made here in its protocol within seconds; a stopped one
// does so when it starts.
#include <unistd.h>

#include <ctime>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "alarms/alarm_desk.h"
#include "alarms/priority_table.h"
#include "core/control_characters.h"
#include "core/cp1251.h"
#include "platform/real_file_system.h"
#include "platform/unix_user.h"
#include "store/event_store.h"
#include "store/history_format.h"
#include "tool_arguments.h"

namespace {

using namespace pelvaron;

constexpr char kUsage[] =
    "Usage: pelvaron-history [options]\n"
    "\n"
    "Searches the event store of a console's folder, newest first: every decoded\n"
    "message and every event of the console, with its priority and, for an alarm,\n"
    "its acknowledgement. Without options: every stored event.\n"
    "\n"
    "  --store PATH      the store (default: events.sqlite in the current folder)\n"
    "  --from TIME       events from TIME on: 2026-12-07, 2026-12-07 10:30,\n"
    "                    2026-12-07T10:30:15 or 07.12.2026 (local time)\n"
    "  --to TIME         events up to TIME (a date alone: to its end)\n"
    "  --day DATE        the events of one day (--from DATE --to DATE)\n"
    "  --address ADDR    one object's events (12 also finds 0012)\n"
    "  --priority NAME   one priority's events: a name of the priority table\n"
    "                    (fire, panic, burglary, ...) or its title (Пожар)\n"
    "  --text TEXT       events whose text or note holds TEXT, in any letter case\n"
    "  --limit N         the newest N events only\n"
    "  --format FORMAT   table (default), csv, or json (JSON Lines)\n"
    "  --ack ID          acknowledge the alarm numbered ID (the first column);\n"
    "                    a running console writes it to its protocol file\n"
    "  --note TEXT       the acknowledgement's note\n"
    "  --help            this text\n"
    "  --version         the program's version\n"
    "\n"
    "Exit status: 0 done (also when nothing was found), 1 the store could not be\n"
    "read or written, 2 a wrong command line.\n";

struct Arguments : ToolCommon {
  std::string store = kEventStoreFileName;
  HistoryQuery query;
  std::string format = "table";
  std::optional<std::uint64_t> ack;
  std::string note;
};

std::optional<std::uint64_t> ParseNumber(const std::string& text) {
  if (text.empty() || text.size() > 18) return std::nullopt;
  std::uint64_t n = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    n = n * 10 + static_cast<std::uint64_t>(c - '0');
  }
  return n;
}

Arguments Parse(int argc, char** argv, const PriorityTable& table) {
  Arguments a;
  ToolArguments args(argc, argv, a);
  while (const std::optional<std::string> next = args.Next()) {
    const std::string& arg = *next;
    std::string v;
    if (arg == "--store") {
      args.Value(a.store);
    } else if (arg == "--from" || arg == "--to" || arg == "--day") {
      if (!args.Value(v)) break;
      const auto from = ParseTimeArgument(v, false);
      const auto to = ParseTimeArgument(v, true);
      if (!from) {
        a.error = arg + ": not a date or time: " + v + " (2026-12-07, 2026-12-07 10:30 or 07.12.2026)";
      } else if (arg == "--day" && from != ParseTimeArgument(v.substr(0, 10), false)) {
        a.error = "--day takes a date without a time: " + v;
      } else {
        if (arg != "--to") a.query.from = from;
        if (arg != "--from") a.query.to = to;
      }
    } else if (arg == "--address") {
      args.Value(a.query.address);
    } else if (arg == "--priority") {
      if (!args.Value(v)) break;
      int p = table.Find(v);
      for (std::size_t k = 0; p < 0 && k < table.priorities().size(); ++k) {
        if (FoldCase(table.priorities()[k].title) == FoldCase(v)) p = static_cast<int>(k);
      }
      if (p < 0) {
        a.error = "--priority: no priority " + v + "; there are:";
        for (const Priority& pr : table.priorities()) a.error += " " + pr.name;
      } else {
        a.query.priority = table.At(p)->name;
      }
    } else if (arg == "--text") {
      args.Value(a.query.text);
    } else if (arg == "--limit") {
      if (!args.Value(v)) break;
      auto n = ParseNumber(v);
      if (!n || *n == 0) {
        a.error = "--limit takes a number above 0, not " + v;
      } else {
        a.query.limit = static_cast<std::size_t>(*n);
      }
    } else if (arg == "--format") {
      if (!args.Value(a.format)) break;
      if (a.format != "table" && a.format != "csv" && a.format != "json") {
        a.error = "--format takes table, csv or json, not " + a.format;
      }
    } else if (arg == "--ack") {
      if (!args.Value(v)) break;
      a.ack = ParseNumber(v);
      if (!a.ack || *a.ack == 0) a.error = "--ack takes the number of an alarm, not " + v;
    } else if (arg == "--note") {
      if (!args.Value(a.note)) break;
      if (std::optional<char32_t> c = FirstControlCharacter(a.note)) {
        // A line end would forge a protocol line of its own.
        a.error = "--note: " + ControlCharacterRefusal("Примечание", *c);
      } else if (!FitsCp1251(a.note)) {
        a.error = "--note: the protocol file cannot hold every character of the note (Windows-1251)";
      } else if (Utf8Length(a.note) > AlarmDesk::kMaxNoteChars) {
        a.error = "--note: at most " + std::to_string(AlarmDesk::kMaxNoteChars) + " characters";
      }
    } else {
      a.error = "unknown option: " + arg + " (see --help)";
    }
  }
  if (a.error.empty() && !a.note.empty() && !a.ack) a.error = "--note goes with --ack";
  return a;
}

// The store's trouble in the operator's words, SQLite's at the end.
int StoreFailed(const Arguments& a, const char* verb, const Problem& problem) {
  std::cerr << "pelvaron-history: хранилище событий " << a.store << " " << verb << ": " << problem.text << " ("
            << problem.cause << ")\n";
  return 1;
}

int Acknowledge(const Arguments& a) {
  if (access(a.store.c_str(), F_OK) != 0) {
    std::cerr << "pelvaron-history: хранилища событий " << a.store << " здесь нет\n";
    return 1;
  }
  EventStore store;
  if (Result<> opened = store.Open(a.store, EventStore::Mode::ReadWrite); !opened) {
    return StoreFailed(a, "не открывается", opened.problem());
  }
  const Result<std::optional<StoredEvent>> found = store.FindBySeq(*a.ack);
  if (!found) return StoreFailed(a, "не читается", found.problem());
  const std::optional<StoredEvent>& event = *found;
  if (!event) {
    std::cerr << "pelvaron-history: события №" << *a.ack << " нет в " << a.store << "\n";
    return 1;
  }
  if (event->cls.role != 1) {
    std::cerr << "pelvaron-history: событие №" << *a.ack << " не тревога: " << ShowControlCharacters(event->text)
              << "\n";
    return 1;
  }
  if (event->acknowledged) {
    std::cout << "Тревога №" << *a.ack << " уже подтверждена " << ReadableTime(IsoTimeOf(event->ackTime)) << "\n";
    return 0;
  }
  if (Result<std::int64_t> requested = store.RequestAcknowledgement(
          *a.ack, static_cast<std::int64_t>(std::time(nullptr)), a.note, "pelvaron-history", UnixUserName());
      !requested) {
    return StoreFailed(a, "не записывается", requested.problem());
  }
  // The store's texts may come from another program: one line, whatever they hold.
  std::cout << "Тревога №" << *a.ack << " ("
            << ShowControlCharacters(event->address.empty() ? event->text : event->address + ": " + event->text)
            << ") подтверждена; консоль запишет это в протокол.\n";
  return 0;
}

int Search(const Arguments& a, const PriorityTable& table) {
  EventStore store;
  if (Result<> opened = store.Open(a.store, EventStore::Mode::ReadOnly); !opened) {
    return StoreFailed(a, "не открывается", opened.problem());
  }
  const Result<std::vector<StoredEvent>> found = store.Search(a.query);
  if (!found) return StoreFailed(a, "не читается", found.problem());
  const std::vector<StoredEvent>& events = *found;
  auto title = [&table](const std::string& name) { return table.TitleOf(name); };
  if (a.format == "csv") {
    std::cout << FormatHistoryCsv(events, title);
  } else if (a.format == "json") {
    std::cout << FormatHistoryJson(events);
  } else {
    std::cout << FormatHistoryTable(events, title);
  }
  std::cout.flush();
  return std::cout ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  RealFileSystem files;
  // A table refused is the console's to tell; the history shows the shipped one's titles then.
  const PriorityTable table = TableInForce(LoadPriorityTable(files));
  Arguments a = Parse(argc, argv, table);
  if (const std::optional<int> status = AnswerAtOnce(a, "pelvaron-history", kUsage, PELVARON_VERSION)) return *status;
  return a.ack ? Acknowledge(a) : Search(a, table);
}
