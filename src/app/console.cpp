#include "app/console.h"

#include <cerrno>
#include <cstdint>

#include "app/apply_message.h"
#include "core/cp1251.h"
#include "core/fixed_text.h"
#include "core/tick_path.h"

namespace pelvaron {

// An indicator's text, set every tick to one of the constant texts: written
// only when it is another one than last time, told apart by its address, so
// that neither the text nor the code that copies it is touched meanwhile.
PELVARON_OFF_TICK_PATH static void ChangeState(std::string& field, const char*& shown, const char* text) {
  shown = text;
  field = text;
}

PELVARON_TICK_PATH static inline void ShowState(std::string& field, const char*& shown, const char* text) {
  if (text != shown) ChangeState(field, shown, text);
}

Console::Console(Clock& clock, FileSystem& fs, Operator& op, SerialPort& port, DeviceMap devices)
    : clock_(clock),
      fs_(fs),
      op_(op),
      devices_(std::move(devices)),
      protocol_(settings, clock, fs, op),
      link_(port, clock, op, settings, devices_),
      sequence_(fs),
      objects_(fs, op) {
  objects_.SetChangeListener([this](const ObjectChange& change) { OnObjectChange(change); });
  ShowState(status_.m_strLinkState, linkShown_, kLinkAbsent);
  ShowState(status_.m_strCaseState, caseShown_, kStartNormal);
  ShowState(status_.m_strLineState, lineShown_, kStartNormal);
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

PELVARON_OFF_TICK_PATH void Console::Say(EventKind kind, const std::string& line, std::string address) {
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
  ShowState(status_.m_strLinkState, linkShown_, kLinkAbsent);
  ShowState(status_.m_strCaseState, caseShown_, kStartNormal);
  ShowState(status_.m_strLineState, lineShown_, kStartNormal);
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

PELVARON_TICK_PATH void Console::OnTimer() {
  // After half a second asleep: the tick's code, the fields before the
  // object rows and the stack, asked for at once.
  const auto* self = reinterpret_cast<const char*>(this);
  WarmTickPath(self, static_cast<std::size_t>(reinterpret_cast<const char*>(&objects_) - self));
  if (shutDown_) return;
  // 1. Date and time. The text shows minutes: it is formatted when the minute changes.
  timeNow = clock_.Now();
  std::tm tm{};
  const bool converted = LocalTime(tm);
  const std::int64_t day = static_cast<std::int64_t>(tm.tm_year) * 366 + tm.tm_yday;
  const std::int64_t minute = converted ? (day * 24 + tm.tm_hour) * 60 + tm.tm_min : -1;
  if (minute != shownMinute_) ShowTime(minute, converted ? &tm : nullptr);

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
  int result = link_.RequestStatus(status, StatusReadHints(converted ? &tm : nullptr));
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

PELVARON_TICK_PATH AnswerHints Console::StatusReadHints(const std::tm* local) {
  AnswerHints hints;
  // In order and shown so, with the line and the enclosure as the flags
  // have them: a status byte that says the same, with no hold and no
  // message, leaves the tick exactly where an answer too long would (both go
  // on to the minute step, changing nothing), so its read need not wait to
  // see whether more follows it. The idle tick is spared the interval's wait.
  const bool lineFault = status_.bLineOk == 0, caseClosed = status_.bCaseClosed == 1;
  if (status_.bLinkOk == 1 && nNoLinkTicks == 0 && linkShown_ == kStateNormal && portWatch_.Answered() &&
      lineShown_ == (lineFault ? kLineAbsent : kStateNormal) && caseShown_ == (caseClosed ? kStateNormal : kCaseOpened)) {
    hints.firstByteSuffices = true;
    hints.firstByteMask = STATUS_HOLD | STATUS_NEW_MESSAGE | STATUS_LINE_FAULT | STATUS_CASE_CLOSED;
    hints.firstByteValue =
        static_cast<std::uint8_t>((lineFault ? STATUS_LINE_FAULT : 0) | (caseClosed ? STATUS_CASE_CLOSED : 0));
  }
  // No answer, one more in the count, short of a lost link; the same minute
  // as the last tick's and no alarm to sound: the rest of the tick changes
  // nothing and writes nothing whenever it runs, so "no answer" may wait for
  // the next tick. A silent receiver's tick is spared its wake at the end of
  // the read.
  const std::int64_t nextTick = nextTickMs_;
  nextTickMs_ = 0;
  if (nextTick != 0 && nNoLinkTicks < 120 && (local ? local->tm_min : -1) == nLastMinute && !AlarmMaySound(local)) {
    hints.nothingUntilMs = nextTick;
  }
  return hints;
}

PELVARON_TICK_PATH bool Console::LinkStep(int result) {
  if (result == 0) {
    nNoLinkTicks = 0;
    if (status_.bLinkOk == 0) {
      Say(EventKind::LinkRestored, "Восстановление связи с Велдор");
      status_.bLinkOk = 1;
    }
    ShowState(status_.m_strLinkState, linkShown_, kStateNormal);
    Redisplay();
    return true;
  }
  if (result == 1) {
    if (++nNoLinkTicks > 120) {
      if (status_.bLinkOk == 1) {
        Say(EventKind::LinkLost, "Нет связи с Велдор!");
        status_.bLinkOk = 0;
      }
      ShowState(status_.m_strLinkState, linkShown_, kLinkAbsent);
      Redisplay();
      nNoLinkTicks = 0;
    }
  }
  // A too-long answer changes nothing.
  return false;
}

PELVARON_TICK_PATH bool Console::StatusStep(std::uint8_t status) {
  // The indicators first: the branches of news below then share no code
  // with the tick's usual way, which the compiler would leave among the cold.
  const bool lineFault = status & STATUS_LINE_FAULT;
  const bool caseClosed = status & STATUS_CASE_CLOSED;
  ShowState(status_.m_strLineState, lineShown_, lineFault ? kLineAbsent : kStateNormal);
  ShowState(status_.m_strCaseState, caseShown_, caseClosed ? kStateNormal : kCaseOpened);
  if (lineFault && status_.bLineOk == 1) {
    Say(EventKind::LineFault, "Внимание, нет сигнала в телефонной линии!");
    status_.bLineOk = 0;
  } else if (!lineFault && status_.bLineOk == 0) {
    Say(EventKind::LineRestored, "Телефонная линия в норме");
    status_.bLineOk = 1;
  }

  if (caseClosed && status_.bCaseClosed == 0) {
    Say(EventKind::EnclosureClosed, "Корпус Велдор закрыт");
    status_.bCaseClosed = 1;
  } else if (!caseClosed && status_.bCaseClosed == 1) {
    Say(EventKind::EnclosureOpened, "Вскрытие корпуса Велдор!");
    status_.bCaseClosed = 0;
  }
  Redisplay();

  if (status & STATUS_HOLD) return false;
  if ((status & STATUS_NEW_MESSAGE) || link_.ResumesFetch()) {
    link_.PollMessages([this](const std::uint8_t* buffer) { return Decode(buffer); });
  }
  return true;
}

PELVARON_OFF_TICK_PATH void Console::ShowTime(std::int64_t minute, const std::tm* local) {
  shownMinute_ = minute;
  status_.m_strDateTime = local ? FormatTime(*local, "%d:%m:%Y, %H:%M") : std::string();
}

PELVARON_TICK_PATH bool Console::MinuteStep(const std::tm* local) {
  const int minute = local ? local->tm_min : -1;
  if (minute == nLastMinute) return true;
  return MinutePassed(minute);
}

PELVARON_OFF_TICK_PATH bool Console::MinutePassed(int minute) {
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

PELVARON_TICK_PATH void Console::AlarmStep(const std::tm* local) {
  if (!AlarmMaySound(local)) return;
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
