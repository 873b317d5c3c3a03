#include "outputs/mqtt_sink.h"

#include <unistd.h>

#include "events/event_json.h"
#include "outputs/station_state.h"

namespace pelvaron {

namespace {

// What earlier versions kept beside the queue: the objects' states are now
// the console's own.
constexpr const char* kLegacyFiles[] = {"objects", "objects.new"};

}  // namespace

MqttSink::MqttSink(MqttConfig config, Report report)
    : BackgroundSink(kCapacity),
      config_(std::move(config)),
      report_(std::move(report)),
      diskReporter_(report_),
      queue_(config_.queueDir, config_.queueLimits),
      states_(StationTopicBase(config_.station), config_.station, config_.discoveryPrefix),
      network_(config_, queue_, states_, mailbox_, diskReporter_, report_) {}

MqttSink::~MqttSink() {
  // Whatever the console has published goes to the disk queue first; then the
  // network thread has a moment to hand it to the broker.
  Stop(config_.drainMs);
  network_.Finish();
}

void MqttSink::SetReplay(std::unique_ptr<EventReplay> replay) {
  replay_ = std::move(replay);
  network_.SetReplay(replay_.get());
}

void MqttSink::Open() {
  for (const char* name : kLegacyFiles) ::unlink((config_.queueDir + "/" + name).c_str());
  OpenQueue();
  if (replay_) replay_->Start([this] { network_.Wake(); });
  network_.Start();
  Start();
}

bool MqttSink::OpenQueue() {
  if (Result<> opened = queue_.Open(); !opened) {
    const Problem& p = opened.problem();
    diskReporter_.Trouble("open " + std::to_string(p.code), "MQTT: не удалось открыть очередь событий " +
                                                                config_.queueDir + ": " + p.cause +
                                                                "; события ждут в памяти, попытка будет повторена.");
    return false;
  }
  const DiskQueue::Findings found = queue_.TakeFindings();
  if (report_) {
    for (const std::string& name : found.foreign) {
      report_("MQTT: в папке очереди " + config_.queueDir + " лишний файл " + name +
              "; он не отправляется. Уберите его оттуда.");
    }
    if (!found.tornSegment.empty()) {
      report_("MQTT: в конце файла очереди " + found.tornSegment + " была оборванная запись (" +
              std::to_string(found.tornBytes) + " байт); она удалена.");
    }
  }
  return true;
}

void MqttSink::ObjectsShown(const std::vector<ObjectListRow>& rows) {
  std::vector<ObjectStatus> states = ObjectStatesOf(rows);
  // Most refreshes (one a minute) change no state.
  if (everShown_ && states == shown_) return;
  shown_ = states;
  everShown_ = true;
  states_.SetObjects(std::move(states));
  network_.Wake();
}

void MqttSink::Answer(std::string result) {
  mailbox_.Answer(std::move(result));
  network_.Wake();
}

void MqttSink::ShowAlarms(std::string alarms) {
  mailbox_.SetAlarms(std::move(alarms));
  network_.Wake();
}

bool MqttSink::Deliver(const Event& event) {
  // Nothing overtakes an event that cannot be queued yet: it is offered again.
  if (!queue_.IsOpen() && !OpenQueue()) return false;
  const std::string line = EventJson(event);
  if (Result<> appended = queue_.Append(line); !appended) {
    const Problem& p = appended.problem();
    diskReporter_.Trouble("disk " + std::to_string(p.code), "Не удалось записать событие в очередь для брокера MQTT (" +
                                                            config_.queueDir + "): " + p.cause +
                                                            "; запись будет повторена.");
    return false;
  }
  diskReporter_.Recovered("Запись событий в очередь для брокера MQTT возобновлена.");
  // Told once for each segment given up, that is every few megabytes of events.
  const std::uint64_t dropped = queue_.Dropped();
  if (dropped != droppedReported_ && report_) {
    report_("Очередь событий для брокера MQTT заполнена: удалено самых старых событий, не дождавшихся брокера: " +
            std::to_string(dropped - droppedReported_) + ".");
    droppedReported_ = dropped;
  }
  states_.Apply(event);
  network_.Wake();
  return true;
}

void MqttSink::Overflow(const Event& /*event*/) {
  diskReporter_.Trouble("overflow", "Очередь событий для брокера MQTT переполнена; часть событий не будет отправлена.");
}

}  // namespace pelvaron
