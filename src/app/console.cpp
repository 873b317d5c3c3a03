#include "app/console.h"

#include <cerrno>
#include <cstdint>

#include "app/apply_message.h"
#include "core/cp1251.h"
#include "core/fixed_text.h"

namespace pelvaron {

Console::Console(Clock& clock, FileSystem& fs, Operator& op, SerialPort& port, DeviceMap devices)
    : clock_(clock),
      fs_(fs),
      op_(op),
      devices_(std::move(devices)),
      protocol_(settings, clock, fs, op),
      objects_(fs, op),
      link_(port, clock, op, settings, devices_),
      sequence_(fs) {
  objects_.SetChangeListener([this](const ObjectChange& change) { OnObjectChange(change); });
  status_.m_strLinkState = kLinkAbsent;
  status_.m_strCaseState = kStartNormal;
  status_.m_strLineState = kStartNormal;
}

namespace {

std::string Quoted(std::string_view before, const std::string& address, std::string_view after = {}) {
  std::string text(before);
  text += '\'';
  text += address;
  text += '\'';
  text += after;
  return text;
}

// The operator's object commands as events: the command's name and a line.
struct ChangeText {
  ObjectChangeKind kind;
  const char* command;
  const char* text;  // before the quoted address, or the whole line when there is none
  const char* after;
};

constexpr ChangeText kChangeTexts[] = {
    {ObjectChangeKind::Registered, "register", "Зарегистрирован объект с адресом ", ""},
    {ObjectChangeKind::Edited, "edit", "Изменены параметры объекта с адресом ", ""},
    {ObjectChangeKind::Deleted, "delete", "Удалена информация об объекте с адресом ", ""},
    {ObjectChangeKind::ClearedAll, "clear-all", "Удалена информация обо всех объектах", nullptr},
    {ObjectChangeKind::ControlOn, "control-on", "Включён контроль объекта с адресом ", ""},
    {ObjectChangeKind::ControlOff, "control-off", "Выключен контроль объекта с адресом ", ""},
    {ObjectChangeKind::ControlAllOn, "control-all-on", "Включён контроль всех объектов", nullptr},
    {ObjectChangeKind::ControlAllOff, "control-all-off", "Выключен контроль всех объектов", nullptr},
    {ObjectChangeKind::CounterReset, "reset-counter", "Сброшен счётчик времени объекта с адресом ", ""},
    {ObjectChangeKind::AllCountersReset, "reset-all-counters", "Сброшены счётчики времени всех объектов", nullptr},
    {ObjectChangeKind::BackInControl, "", "Объект с адресом ", " снова на контроле"},
};

}  // namespace

void Console::SetEventSink(EventSink* sink, std::string station) {
  events_ = sink;
  station_ = std::move(station);
}

void Console::Publish(Event event) {
  if (events_ == nullptr) return;
  event.seq = sequence_.Next();
  event.time = clock_.Now();
  std::tm tm{};
  event.timeText = clock_.ToLocalTime(event.time, tm) ? IsoLocalTime(tm) : std::string();
  event.station = station_;
  events_->Publish(event);
}

void Console::Say(EventKind kind, const std::string& line, std::string address) {
  protocol_.AppendStampedLine(line);
  if (events_ == nullptr) return;
  Event event;
  event.kind = kind;
  event.text = line;
  event.address = std::move(address);
  Publish(std::move(event));
}

void Console::OnObjectChange(const ObjectChange& change) {
  if (events_ == nullptr) return;
  for (const ChangeText& t : kChangeTexts) {
    if (t.kind != change.kind) continue;
    Event event;
    event.kind = change.kind == ObjectChangeKind::BackInControl ? EventKind::ObjectBackInControl
                                                                 : EventKind::ObjectsChanged;
    event.command = t.command;
    event.address = change.address;
    event.text = t.after == nullptr ? std::string(t.text) : Quoted(t.text, change.address, t.after);
    Publish(std::move(event));
    return;
  }
}

bool Console::LocalTime(std::tm& tm) {
  return clock_.ToLocalTime(timeNow, tm);
}

void Console::Startup() {
  timeNow = clock_.Now();
  std::tm tm{};
  status_.m_strDateTime = LocalTime(tm) ? FormatTime(tm, "%d:%m:%Y, %H:%M") : std::string();
  status_.m_strLinkState = kLinkAbsent;
  status_.m_strCaseState = kStartNormal;
  status_.m_strLineState = kStartNormal;
  status_.bLinkOk = 0;
  Redisplay();
  settings = ConsoleSettings::Defaults();
  LoadSettings(settings, fs_, op_);
  if (events_ != nullptr) StartNumbering();
  link_.OpenComPort();
  objects_.LoadOrInitObjects();
  objects_.RefreshObjectList();
  protocol_.AppendStampedLine(">>");
  Say(EventKind::ConsoleStarted, "Включение программы");
}

void Console::StartNumbering() {
  const int err = sequence_.Load();
  if (storedSeq_) sequence_.ContinueAbove(*storedSeq_);
  if (err == 0) return;
  std::string text =
      std::string("Файл номеров событий ") + kEventSequenceFileName +
      (err == EINVAL || err == ERANGE ? " повреждён"
                                      : " не удалось прочитать (ошибка " + std::to_string(err) + ")");
  if (!storedSeq_) {
    text += "; нумерация событий начата заново: хранилище событий недоступно, номера могут повториться.";
  } else if (*storedSeq_ == 0) {
    text += "; нумерация событий начата заново (в хранилище нет событий).";
  } else {
    text += "; нумерация продолжена с " + std::to_string(sequence_.Peek()) +
            ", после последнего события в хранилище. Файл будет записан заново.";
  }
  op_.ShowMessage({text, "", MessageIcon::Exclamation});
}

void Console::Shutdown() {
  if (shutDown_) return;
  shutDown_ = true;
  link_.CloseComPort();
  Say(EventKind::ConsoleStopped, "Выключение программы");
}

int Console::Decode(const std::uint8_t* buffer) {
  if (buffer == nullptr) return 1;
  DecodeMessage(buffer, message_);
  // The message goes out before what it causes (an object back in control).
  if (events_ != nullptr) {
    Event event;
    event.kind = EventKind::Message;
    event.address = std::string(message_.address.view());
    event.text = message_.sumOk ? MessageText(message_) : "Ошибка контрольной суммы!";
    event.message = std::make_shared<const DecodedMessage>(message_);
    Publish(std::move(event));
  }
  return ApplyDecodedMessage(message_, protocol_, op_, objects_);
}

void Console::OnTimer() {
  if (shutDown_) return;
  // 1. Date and time. The text shows minutes: it is formatted when the minute changes.
  timeNow = clock_.Now();
  std::tm tm{};
  const bool converted = LocalTime(tm);
  const std::int64_t day = static_cast<std::int64_t>(tm.tm_year) * 366 + tm.tm_yday;
  const std::int64_t minute = converted ? (day * 24 + tm.tm_hour) * 60 + tm.tm_min : -1;
  if (minute != shownMinute_) {
    shownMinute_ = minute;
    status_.m_strDateTime = converted ? FormatTime(tm, "%d:%m:%Y, %H:%M") : std::string();
  }

  // 2. A pending reopen; cleared first so that nothing reopens it twice.
  if (bReopenCom == 1) {
    bReopenCom = 0;
    link_.CloseComPort();
    link_.OpenComPort();
  }

  // 2b. The automatic reopen of a port that failed, could not be opened or
  // whose receiver fell silent; quiet after the first message of each cause.
  portWatch_.BeforeStatus();

  // 3. Status request and link state.
  std::uint8_t status = 0;
  int result = link_.RequestStatus(status);
  portWatch_.AfterStatus(result);
  const bool gotStatus = LinkStep(result);

  // 4. Status bits.
  if (gotStatus && !StatusStep(status)) return;

  // 5. Minute step.
  if (!MinuteStep(converted ? &tm : nullptr)) return;
  AlarmStep(converted ? &tm : nullptr);

  // 6.
  Redisplay();
}

bool Console::LinkStep(int result) {
  if (result == 0) {
    nNoLinkTicks = 0;
    if (status_.bLinkOk == 0) {
      Say(EventKind::LinkRestored, "Восстановление связи с Велдор");
      status_.bLinkOk = 1;
    }
    status_.m_strLinkState = kStateNormal;
    Redisplay();
    return true;
  }
  if (result == 1) {
    if (++nNoLinkTicks > 120) {
      if (status_.bLinkOk == 1) {
        Say(EventKind::LinkLost, "Нет связи с Велдор!");
        status_.bLinkOk = 0;
      }
      status_.m_strLinkState = kLinkAbsent;
      Redisplay();
      nNoLinkTicks = 0;
    }
  }
  // A too-long answer changes nothing.
  return false;
}

bool Console::StatusStep(std::uint8_t status) {
  const bool lineFault = status & STATUS_LINE_FAULT;
  if (lineFault && status_.bLineOk == 1) {
    Say(EventKind::LineFault, "Внимание, нет сигнала в телефонной линии!");
    status_.bLineOk = 0;
  } else if (!lineFault && status_.bLineOk == 0) {
    Say(EventKind::LineRestored, "Телефонная линия в норме");
    status_.bLineOk = 1;
  }
  status_.m_strLineState = lineFault ? kLineAbsent : kStateNormal;

  const bool caseClosed = status & STATUS_CASE_CLOSED;
  if (caseClosed && status_.bCaseClosed == 0) {
    Say(EventKind::EnclosureClosed, "Корпус Велдор закрыт");
    status_.bCaseClosed = 1;
  } else if (!caseClosed && status_.bCaseClosed == 1) {
    Say(EventKind::EnclosureOpened, "Вскрытие корпуса Велдор!");
    status_.bCaseClosed = 0;
  }
  status_.m_strCaseState = caseClosed ? kStateNormal : kCaseOpened;
  Redisplay();

  if (status & STATUS_HOLD) return false;
  if ((status & STATUS_NEW_MESSAGE) || link_.ResumesFetch()) {
    link_.PollMessages([this](const std::uint8_t* buffer) { return Decode(buffer); });
  }
  return true;
}

bool Console::MinuteStep(const std::tm* local) {
  const int minute = local ? local->tm_min : -1;
  if (minute == nLastMinute) return true;
  nLastMinute = minute;
  if (bSkipMinute == 1) {
    bSkipMinute = 0;
    return false;
  }
  ObjectTable& table = objects_.Table();
  for (int slot = 1; slot <= kLastObjectSlot && table[slot].bUsed != 0; ++slot) {
    ObjectRecord& r = table[slot];
    if (r.bControl == 0) continue;
    if (r.nTimeCounter < INT32_MAX) ++r.nTimeCounter;  // a foreign file may hold anything
    if (r.nTimeCounter >= r.nPeriod) {
      r.bAlarm = 1;
      r.nState = OBJSTATE_NO_CONTROL;
      if (!(r.byFlags & OVERDUE_LOGGED)) {
        r.byFlags |= OVERDUE_LOGGED;
        const std::string address = objects_.AddressOf(slot);
        Say(EventKind::ObjectOverdue, "Отсутствие контр. извещения от объекта с адресом '" + address + "'!", address);
      }
    }
  }
  objects_.RefreshObjectList();
  return true;
}

void Console::AlarmStep(const std::tm* local) {
  if (!(bAlarmSound || bAlarmBeep) || local == nullptr || local->tm_sec % 3 != 0) return;
  const ObjectTable& table = objects_.Table();
  for (int slot = 1; slot <= kLastObjectSlot && table[slot].bUsed != 0; ++slot) {
    if (table[slot].bControl != 0 && table[slot].bAlarm == 1) {
      op_.SoundAlarm(bAlarmSound, bAlarmBeep, false);
      return;
    }
  }
}

bool Console::AcceptProgramSettings(const ProgramSettingsValues& page) {
  if (shutDown_) return false;
  const bool stored = StoreProgramSettings(page, settings, bReopenCom, fs_, op_);
  if (stored && events_ != nullptr) {
    Event event;
    event.kind = EventKind::SettingsChanged;
    event.text = "Изменены настройки программы";
    event.detail = DeviceMap::ComName(settings.nComPort);
    Publish(std::move(event));
  }
  return stored;
}

std::optional<ReceiverSettingsRead> Console::ReadReceiverSettings() {
  if (shutDown_) return std::nullopt;
  if (!link_.bComOpen()) {
    link_.CloseComPort();
    if (link_.OpenComPort() != 0) return std::nullopt;
  }
  ReceiverSettingsRead read{};
  int r = RunReadPhase(link_, op_, settings.LinkAttempts(), read.block);
  if (r != 0) {
    op_.ShowMessage(ReadPhaseMessage(r));
    return std::nullopt;
  }
  read.page = PageFromBlock(read.block);
  return read;
}

int Console::WriteReceiverSettings(const ParameterBlock& read, const ReceiverPageValues& page) {
  if (shutDown_) return kParamNoAnswer;
  int r = RunWritePhase(link_, op_, settings.LinkAttempts(), BlockFromPage(read, page));
  if (r != 0) {
    op_.ShowMessage(WritePhaseMessage(r));
  } else if (events_ != nullptr) {
    Event event;
    event.kind = EventKind::ReceiverSettingsWritten;
    event.text = "Записаны параметры Велдор";
    Publish(std::move(event));
  }
  return r;
}

}  // namespace pelvaron
