#include "decode/loop_state.h"

#include <array>
#include <string_view>

#include "decode/text_append.h"

namespace pelvaron {

namespace {

using decode_text::AppendUnsigned;

struct LoopKindRow {
  int kind;
  std::string_view firstLine;  // the guard number follows
  bool duressSuffix;
};

// Kind 1 picks its text from the tamper bit; kinds without a row are unrecognised.
constexpr LoopKindRow kLoopKinds[] = {
    {2, "  Контрольное извещение от охранника N ", true},
    {3, "  Дополнительное извещение от охранника N ", true},
    {4, "  Постановка шлейфов под охрану охранником N ", false},
    {5, "  Снятие шлейфов с охраны охранником N ", true},
    {6, "  Тревога по шлейфам", false},
};
constexpr int kAlarmKind = 6;  // its line has no guard number
constexpr int kTamperKind = 1;

constexpr std::string_view kTamperRestored = "  Восстановление датчика вскрытия УОО-ОРН";
constexpr std::string_view kTamperBroken = "  Нарушен датчик вскрытия УОО-ОРН";
constexpr std::string_view kUnknownKind = "  Нераспознанный тип сообщения";
constexpr std::string_view kDuressSuffix = ", под принуждением !";
constexpr int kControlMessageKind = 2;

// Loop types 2 and 3 have no name.
constexpr std::array<std::string_view, 4> kLoopTypes = {"охранный", "тревожный", "", ""};
// The "c" of both link texts is the Latin letter, as the unit's own texts have it.
constexpr std::string_view kLinked = "cвязан c ПЦН";
constexpr std::string_view kNotLinked = "не cвязан c ПЦН";
constexpr std::array<std::string_view, 2> kLoopNames = {"ШС1", "ШС2"};

struct DiallerRow {
  int message;               // bits 7..4
  std::string_view textSet;  // bit 0 = 1
  std::string_view textClear;
};

constexpr DiallerRow kDiallerMessages[] = {
    {0, "Контрольное извещение", "Контрольное извещение"},
    {1, "Включение Тамсир и.1", "Включение Тамсир и.1"},
    {2, "Корпус Тамсир вскрыт", "Корпус Тамсир закрыт"},
    {3, "Нарушена линия связи с РР-ВЗ", "Линия связи с РР-ВЗ восставновлена"},
};

bool Bit(std::uint8_t value, int bit) {
  return (value >> bit) & 1u;
}

void FirstLine(const LoopStateFields& f, MessageLines& lines) {
  std::string& line = lines.Open();
  if (f.kind == kTamperKind) {
    line += f.tamperRestored ? kTamperRestored : kTamperBroken;
  } else {
    const LoopKindRow* found = nullptr;
    for (const LoopKindRow& row : kLoopKinds) {
      if (row.kind == f.kind) found = &row;
    }
    if (found == nullptr) {
      line += kUnknownKind;
    } else {
      line += found->firstLine;
      if (found->kind != kAlarmKind) AppendUnsigned(line, static_cast<unsigned>(f.guard));
      if (f.duress) line += kDuressSuffix;
    }
  }
  lines.Close();
}

void SilentAlarmLine(std::string_view loop, MessageLines& lines) {
  std::string& line = lines.Open();
  line += "  ";
  line += loop;
  line += " - \"тихая тревога\"";
  lines.Close();
}

void StateLine(std::string_view loop, const LoopFields& f, MessageLines& lines) {
  std::string& line = lines.Open();
  line += "   ";
  line += loop;
  line += " = состояние: { ";
  line += f.broken ? "нарушен" : "норма";
  line += ", ";
  line += f.armed ? "охраняется" : "не охраняется";
  line += ", ";
  line += f.alarm ? "\"тревога\"" : "\"норма\"";
  line += " }";
  lines.Close();
}

void DescriptionLine(const LoopFields& f, MessageLines& lines) {
  std::string& line = lines.Open();
  line += "              описание: { ";
  line += kLoopTypes[static_cast<std::size_t>(f.loopType)];
  line += ", ";
  line += f.linked ? kLinked : kNotLinked;
  line += "}";
  lines.Close();
}

}  // namespace

void DecodeLoopState(std::uint8_t kindByte, std::uint8_t loopByte, std::uint8_t guardByte, DecodedMessage& out) {
  LoopStateFields& f = out.loopState;
  f = LoopStateFields{};
  f.bytes = {kindByte, loopByte, guardByte};
  f.kind = kindByte >> 4;
  f.guard = guardByte >> 4;
  f.tamperRestored = f.kind == kTamperKind && Bit(guardByte, 7);
  for (const LoopKindRow& row : kLoopKinds) {
    if (row.kind == f.kind && row.duressSuffix) f.duress = Bit(guardByte, 3);
  }
  f.controlMessage = f.kind == kControlMessageKind;
  LoopFields& one = f.loops[0];
  one.broken = Bit(loopByte, 7);
  one.armed = Bit(kindByte, 1);
  one.alarm = Bit(kindByte, 3);
  one.loopType = (loopByte >> 4) & 3;
  one.linked = Bit(loopByte, 1);
  one.silentAlarm = f.kind == kAlarmKind && Bit(guardByte, 7);
  LoopFields& two = f.loops[1];
  two.broken = Bit(loopByte, 6);
  two.armed = Bit(kindByte, 0);
  two.alarm = Bit(kindByte, 2);
  two.loopType = (loopByte >> 2) & 3;
  two.linked = Bit(loopByte, 0);
  two.silentAlarm = f.kind == kAlarmKind && Bit(guardByte, 6);

  MessageLines& lines = out.lines;
  FirstLine(f, lines);
  for (std::size_t i = 0; i < f.loops.size(); ++i) {
    if (f.loops[i].silentAlarm) SilentAlarmLine(kLoopNames[i], lines);
  }
  for (std::size_t i = 0; i < f.loops.size(); ++i) {
    StateLine(kLoopNames[i], f.loops[i], lines);
    DescriptionLine(f.loops[i], lines);
  }
}

void DecodeDiallerMessage(std::uint8_t diallerByte, DecodedMessage& out) {
  DiallerFields& f = out.dialler;
  f = DiallerFields{};
  f.byte = diallerByte;
  f.message = diallerByte >> 4;
  f.set = Bit(diallerByte, 0);
  std::string_view text;
  for (const DiallerRow& row : kDiallerMessages) {
    if (row.message == f.message) {
      f.known = true;
      text = f.set ? row.textSet : row.textClear;
    }
  }
  out.lines.Add(text);
}

}  // namespace pelvaron
