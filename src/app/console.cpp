#include "app/console.h"

#include <cstdint>

#include "core/cp1251.h"
#include "core/fixed_text.h"
#include "app/apply_message.h"

namespace pelvaron {

Console::Console(Clock& clock, FileSystem& fs, Operator& op, SerialPort& port, DeviceMap devices)
    : clock_(clock),
      fs_(fs),
      op_(op),
      devices_(std::move(devices)),
      protocol_(settings, clock, fs, op),
      objects_(fs, op),
      link_(port, clock, op, settings, devices_) {
  status_.m_strLinkState = kLinkAbsent;
  status_.m_strCaseState = kStartNormal;
  status_.m_strLineState = kStartNormal;
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
  link_.OpenComPort();
  objects_.LoadOrInitObjects();
  objects_.RefreshObjectList();
  protocol_.AppendStampedLine(">>");
  protocol_.AppendStampedLine("Включение программы");
}

void Console::Shutdown() {
  if (shutDown_) return;
  shutDown_ = true;
  link_.CloseComPort();
  protocol_.AppendStampedLine("Выключение программы");
}

int Console::Decode(const std::uint8_t* buffer) {
  return DecodeFrame(buffer, message_, protocol_, op_, objects_);
}

void Console::OnTimer() {
  if (shutDown_) return;
  // 1. Date and time.
  timeNow = clock_.Now();
  std::tm tm{};
  const bool converted = LocalTime(tm);
  status_.m_strDateTime = converted ? FormatTime(tm, "%d:%m:%Y, %H:%M") : std::string();

  // 2. A pending reopen; cleared first so that nothing reopens it twice.
  if (bReopenCom == 1) {
    bReopenCom = 0;
    link_.CloseComPort();
    link_.OpenComPort();
  }

  // 3. Status request and link state.
  std::uint8_t status = 0;
  int result = link_.RequestStatus(status);
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
      protocol_.AppendStampedLine("Восстановление связи с Велдор");
      status_.bLinkOk = 1;
    }
    status_.m_strLinkState = kStateNormal;
    Redisplay();
    return true;
  }
  if (result == 1) {
    if (++nNoLinkTicks > 120) {
      if (status_.bLinkOk == 1) {
        protocol_.AppendStampedLine("Нет связи с Велдор!");
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
    protocol_.AppendStampedLine("Внимание, нет сигнала в телефонной линии!");
    status_.bLineOk = 0;
  } else if (!lineFault && status_.bLineOk == 0) {
    protocol_.AppendStampedLine("Телефонная линия в норме");
    status_.bLineOk = 1;
  }
  status_.m_strLineState = lineFault ? kLineAbsent : kStateNormal;

  const bool caseClosed = status & STATUS_CASE_CLOSED;
  if (caseClosed && status_.bCaseClosed == 0) {
    protocol_.AppendStampedLine("Корпус Велдор закрыт");
    status_.bCaseClosed = 1;
  } else if (!caseClosed && status_.bCaseClosed == 1) {
    protocol_.AppendStampedLine("Вскрытие корпуса Велдор!");
    status_.bCaseClosed = 0;
  }
  status_.m_strCaseState = caseClosed ? kStateNormal : kCaseOpened;
  Redisplay();

  if (status & STATUS_HOLD) return false;
  if (status & STATUS_NEW_MESSAGE) {
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
        protocol_.AppendStampedLine("Отсутствие контр. извещения от объекта с адресом '" +
                                    Cp1251ToUtf8(ReadFixedText(r.szAddress)) + "'!");
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
      op_.SoundAlarm(bAlarmSound, bAlarmBeep);
      return;
    }
  }
}

bool Console::AcceptProgramSettings(const ProgramSettingsValues& page) {
  if (shutDown_) return false;
  return StoreProgramSettings(page, settings, bReopenCom, fs_, op_);
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
  if (r != 0) op_.ShowMessage(WritePhaseMessage(r));
  return r;
}

}  // namespace pelvaron
