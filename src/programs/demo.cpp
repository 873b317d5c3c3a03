#include "programs/demo.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <iostream>

#include "objects/object_card.h"
#include "station/station_store.h"

namespace pelvaron {
namespace {

constexpr char kDemoFolder[] = "pelvaron-demo";

// Besides the random traffic, alarms that a new user sees queue up within the
// first minute, again every few minutes: a loop alarm at the warehouse 0012
// and its repeat, a fire at the panel 0301 that is restored, a panic button
// at 0777.
constexpr char kDemoAlarms[] = R"(
wait 6s
loop-state addr=12 kind=6 guard=1 alarm1 armed1 armed2 broken1 linked1
wait 9s
contact-id addr=301 code=110 part=1 zone=3 new
wait 15s
loop-state addr=12 kind=6 guard=1 alarm1 armed1 armed2 broken1 linked1
wait 10s
contact-id addr=777 code=120 part=1 zone=1 new
wait 20s
contact-id addr=301 code=110 part=1 zone=3 restore
wait 4min
loop
)";

// The demo station's people and plans, made once: two operators to sign in
// as, the fire panel's plan with its key holders and guard group, and a
// default plan for fire and for burglary.
void SeedDemoStation(const std::string& programName) {
  if (access("station.sqlite", F_OK) == 0) return;
  StationStore store;
  Result<> r = store.Open("station.sqlite", StationStore::Mode::ReadWrite);
  if (r) r = store.AddOperator("Дежурный", "1234", true);
  if (r) r = store.AddOperator("Иванова", "2222", false);
  ResponsePlan cafe;
  cafe.address = "0301";
  cafe.instructions =
      "Кафе «Вишня», ул. Садовая 3, пожарная сигнализация.\n"
      "При пожарной тревоге: вызвать пожарную охрану (101), выслать группу, звонить ответственным по порядку.";
  cafe.keyHolders = {{"Сидоров Пётр", "директор", {"+7 900 123-45-67"}},
                     {"Сидорова Анна", "администратор", {"+7 900 765-43-21", "+7 (495) 111-22-33"}}};
  cafe.guardGroup = "ГБР-3";
  cafe.guardPhone = "+7 (495) 000-00-03";
  if (r) r = store.SavePlan(cafe);
  ResponsePlan fire;
  fire.priority = "fire";
  fire.instructions = "Вызвать пожарную охрану (101), затем звонить ответственным по порядку.";
  if (r) r = store.SavePlan(fire);
  ResponsePlan burglary;
  burglary.priority = "burglary";
  burglary.instructions = "Выслать группу, звонить ответственным по порядку; после осмотра закрыть с итогом.";
  burglary.guardGroup = "ГБР-1";
  burglary.guardPhone = "+7 (495) 000-00-01";
  if (r) r = store.SavePlan(burglary);
  if (!r) {
    std::cerr << programName << ": the demo's station.sqlite: " << r.problem().Told() << "\n";
    return;
  }
  std::cerr << programName << ": demo operators: Дежурный (PIN 1234, senior) and Иванова (PIN 2222)\n";
}

}  // namespace

int StartDemo(const std::string& programName, Options& options, std::unique_ptr<sim::Simulator>& simulator,
              bool& demoFresh) {
  if (mkdir(kDemoFolder, 0755) != 0 && errno != EEXIST) {
    std::cerr << programName << ": cannot make the folder " << kDemoFolder << ": " << std::strerror(errno)
              << "\n";
    return 1;
  }
  if (chdir(kDemoFolder) != 0) {
    std::cerr << programName << ": cannot enter the folder " << kDemoFolder << ": " << std::strerror(errno)
              << "\n";
    return 1;
  }
  demoFresh = access(kObjectsFileName, F_OK) != 0;
  SeedDemoStation(programName);
  sim::SimulatorOptions simOptions;
  simOptions.random = true;
  simOptions.seed = static_cast<std::uint64_t>(std::time(nullptr));
  sim::ParsedScenario alarms = sim::ParseScenario(kDemoAlarms, "demo");
  if (alarms.ok()) simOptions.scenario = std::move(alarms.scenario);
  std::string error;
  simulator = sim::Simulator::OnNewPty(simOptions, &error);
  if (!simulator) {
    std::cerr << programName << ": the simulated receiver could not start: " << error << "\n";
    return 1;
  }
  // Whatever port the demo's settings name, it leads to the simulator.
  for (int n = 1; n <= 6; ++n) options.devices.Add("COM" + std::to_string(n) + "=" + simulator->DevicePath());
  simulator->Start();
  std::cerr << programName << ": demo in ./" << kDemoFolder << ", simulated receiver on "
            << simulator->DevicePath() << "\n";
  return 0;
}

// The demo's objects: the simulated loop units (which send control messages)
// and one panel address that never does, so an overdue alarm shows up soon.
void RegisterDemoObjects(ObjectRegistry& registry) {
  struct Demo {
    const char* address;
    const char* period;
    const char* comment;
  } demo[] = {
      {"0012", "2m", "Склад, ул. Заводская 12"},
      {"0105", "5m", "Магазин \"Продукты\""},
      {"0240", "3m", "Офис, 2 этаж"},
      {"1234", "10m", "Гаражный кооператив"},
      {"0777", "1m", "Аптека (нет контрольных извещений)"},
  };
  ObjectCard card;
  for (const Demo& d : demo) {
    card.m_nSlot = -1;
    OpenObjectCard(card, registry.Table());
    card.m_strAddress = d.address;
    card.m_strPeriod = d.period;
    card.m_strComment = d.comment;
    card.m_bControl = 1;
    RegisterObjectCard(card, registry);
  }
  registry.OperatorChangedObjects();
  registry.RefreshObjectList();
}

}  // namespace pelvaron
