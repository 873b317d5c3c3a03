// pelvaron-plans: the station's response plans as a CSV table for
// spreadsheets, out of and into station.sqlite in the station's folder.
// An import replaces every plan at once or changes nothing.
#include <unistd.h>

#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "alarms/priority_table.h"
#include "core/control_characters.h"
#include "platform/real_file_system.h"
#include "station/plans_csv.h"
#include "station/station_schema.h"
#include "station/station_store.h"
#include "tool_arguments.h"

namespace {

using namespace pelvaron;

constexpr char kUsage[] =
    "Usage: pelvaron-plans export [FILE] [--store PATH]\n"
    "       pelvaron-plans import FILE [--store PATH]\n"
    "\n"
    "Exports or imports the station's response plans (instructions, key holders\n"
    "with their telephones, guard group) as a CSV table for spreadsheets: UTF-8,\n"
    "comma-separated, a header line, one row per key holder. Run it in the\n"
    "station's folder.\n"
    "\n"
    "  export [FILE]     write every plan to FILE (replaced whole), or to the\n"
    "                    standard output without FILE\n"
    "  import FILE       replace every plan by those of FILE; a bad row is refused\n"
    "                    with its line number and nothing is changed\n"
    "  --store PATH      the station's store (default: station.sqlite in the\n"
    "                    current folder)\n"
    "  --help            this text\n"
    "  --version         the program's version\n"
    "\n"
    "Exit status: 0 done, 1 the file or the store could not be read or written,\n"
    "2 a wrong command line, 3 a row of FILE was refused (nothing imported).\n";

// A table larger than this is no station's plans.
constexpr std::size_t kMaxTableBytes = 64u << 20;
// A decimal unit's address has four digits; a shorter one is a binary unit's.
constexpr std::size_t kDecimalAddressDigits = 4;

struct Arguments : ToolCommon {
  std::string command;
  std::string file;
  std::string store = kStationStoreFileName;
};

Arguments Parse(int argc, char** argv) {
  Arguments a;
  std::vector<std::string> words;
  ToolArguments args(argc, argv, a);
  while (const std::optional<std::string> next = args.Next()) {
    const std::string& arg = *next;
    if (arg == "--store") {
      args.Value(a.store);
    } else if (arg.size() > 1 && arg[0] == '-') {
      a.error = "unknown option: " + arg + " (see --help)";
    } else {
      words.push_back(arg);
    }
  }
  if (!a.error.empty() || a.help || a.version) return a;
  if (words.empty()) {
    a.error = "say export or import (see --help)";
    return a;
  }
  a.command = words[0];
  if (a.command != "export" && a.command != "import") {
    a.error = "unknown command: " + a.command + " (export or import; see --help)";
  } else if (words.size() > 2) {
    a.error = a.command + " takes one file, not " + std::to_string(words.size() - 1) + " (see --help)";
  } else if (a.command == "import" && words.size() < 2) {
    a.error = "import needs the file to import (see --help)";
  } else if (words.size() == 2) {
    a.file = words[1];
  }
  return a;
}

int Failed(const Problem& problem, const char* after = nullptr) {
  std::cerr << "pelvaron-plans: " << problem.Told();
  if (after != nullptr) std::cerr << ". " << after;
  std::cerr << "\n";
  return 1;
}

int Export(const Arguments& a) {
  if (access(a.store.c_str(), F_OK) != 0) {
    std::cerr << "pelvaron-plans: хранилища станции " << a.store
              << " здесь нет; запустите программу в папке станции или укажите его: --store PATH\n";
    return 1;
  }
  StationStore store;
  if (Result<> opened = store.Open(a.store, StationStore::Mode::ReadOnly); !opened) return Failed(opened.problem());
  Result<std::vector<ResponsePlan>> plans = store.Plans();
  if (!plans) return Failed(plans.problem());
  const std::string table = WritePlansCsv(*plans);
  if (a.file.empty()) {
    std::cout << table;
    std::cout.flush();
    return std::cout ? 0 : 1;
  }
  RealFileSystem files;
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(table.data());
  if (const int err = files.ReplaceFile(a.file, {bytes, table.size()}); err != 0) {
    return Failed(SystemProblem("файл " + a.file + " не записывается", err));
  }
  std::cout << "Планов выгружено в " << a.file << ": " << plans->size() << "\n";
  return 0;
}

// Addresses shorter than a decimal unit's: a spreadsheet may have dropped
// their leading zeros, and then no alarm of the object finds its plan.
void WarnOfShortAddresses(const std::vector<ResponsePlan>& plans) {
  constexpr std::size_t kNamed = 10;
  std::vector<std::string> shortOnes;
  for (const ResponsePlan& plan : plans) {
    if (!plan.address.empty() && plan.address.size() < kDecimalAddressDigits) shortOnes.push_back(plan.address);
  }
  if (shortOnes.empty()) return;
  std::string named;
  for (std::size_t i = 0; i < shortOnes.size() && i < kNamed; ++i) named += (i > 0 ? ", " : "") + shortOnes[i];
  if (shortOnes.size() > kNamed) named += " и ещё " + std::to_string(shortOnes.size() - kNamed);
  std::cout << "Внимание: " << (shortOnes.size() == 1 ? "адрес " : "адреса ") << named
            << " короче четырёх цифр. Так журнал показывает только объекты с двоичным адресом; если это объекты "
               "с адресом из четырёх цифр (0012), таблица потеряла нули в начале: храните столбец address как "
               "текст и импортируйте снова.\n";
}

int Import(const Arguments& a) {
  RealFileSystem files;
  std::vector<std::uint8_t> bytes;
  if (const int err = files.ReadPrefix(a.file, kMaxTableBytes + 1, bytes); err != 0) {
    return Failed(SystemProblem("файл " + a.file + " не читается", err), "Ничего не импортировано.");
  }
  if (bytes.size() > kMaxTableBytes) {
    std::cerr << "pelvaron-plans: файл " << a.file << " больше " << (kMaxTableBytes >> 20)
              << " МиБ: это не таблица планов. Ничего не импортировано.\n";
    return 1;
  }
  // A default plan is for a priority of the station's table.
  Result<PriorityTable> loaded = LoadPriorityTable(files);
  if (!loaded) std::cerr << "pelvaron-plans: " << loaded.problem().text << "\n";
  const PriorityTable table = TableInForce(std::move(loaded));
  std::vector<std::string> priorities;
  for (const Priority& p : table.priorities()) priorities.push_back(p.name);

  const std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  Result<std::vector<ResponsePlan>> plans = ReadPlansCsv(text, priorities);
  if (!plans) {
    std::cerr << "pelvaron-plans: " << ShowControlCharacters(a.file) << ", " << plans.problem().text
              << "\nНичего не импортировано: планы станции остались прежними.\n";
    return 3;
  }
  StationStore store;
  if (Result<> opened = store.Open(a.store, StationStore::Mode::ReadWrite); !opened) {
    return Failed(opened.problem(), "Ничего не импортировано.");
  }
  Result<std::vector<ResponsePlan>> before = store.Plans();
  if (!before) return Failed(before.problem(), "Ничего не импортировано.");
  if (Result<> replaced = store.ReplaceAllPlans(*plans); !replaced) {
    return Failed(replaced.problem(), "Ничего не импортировано: планы станции остались прежними.");
  }
  std::size_t defaults = 0, holders = 0;
  for (const ResponsePlan& plan : *plans) {
    defaults += plan.address.empty() ? 1 : 0;
    holders += plan.keyHolders.size();
  }
  std::cout << "Импортировано из " << ShowControlCharacters(a.file) << " в " << a.store << ": планов " << plans->size()
            << " (объектов " << plans->size() - defaults << ", по умолчанию для приоритетов " << defaults
            << "), ответственных лиц " << holders << "; прежних планов было " << before->size() << ".\n";
  WarnOfShortAddresses(*plans);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const Arguments a = Parse(argc, argv);
  if (const std::optional<int> status = AnswerAtOnce(a, "pelvaron-plans", kUsage, PELVARON_VERSION)) return *status;
  return a.command == "export" ? Export(a) : Import(a);
}
