#include "decode/loop_state.h"

#include <array>
#include <cstdio>
#include <optional>

#include "core/cp1251.h"
#include "core/fixed_text.h"

namespace pelvaron {

namespace {

struct LoopKindRow {
  int kind;
  const char* firstLine;  // "%d" takes the guard number
  bool duressSuffix;
};

// Kind 1 picks its text from the tamper bit; kinds without a row are unrecognised.
constexpr LoopKindRow kLoopKinds[] = {
    {2, "  Контрольное извещение от охранника N %d", true},
    {3, "  Дополнительное извещение от охранника N %d", true},
    {4, "  Постановка шлейфов под охрану охранником N %d", false},
    {5, "  Снятие шлейфов с охраны охранником N %d", true},
    {6, "  Тревога по шлейфам", false},
};

constexpr char kTamperRestored[] = "  Восстановление датчика вскрытия УОО-ОРН";
constexpr char kTamperBroken[] = "  Нарушен датчик вскрытия УОО-ОРН";
constexpr char kUnknownKind[] = "  Нераспознанный тип сообщения";
constexpr char kDuressSuffix[] = ", под принуждением !";
constexpr int kControlMessageKind = 2;

// Loop types 2 and 3 have no name.
constexpr std::array<const char*, 4> kLoopTypes = {"охранный", "тревожный", "", ""};
// The "c" of both link texts is the Latin letter, as the unit's own texts have it.
constexpr char kLinked[] = "cвязан c ПЦН";
constexpr char kNotLinked[] = "не cвязан c ПЦН";

struct DiallerRow {
  int message;          // bits 7..4
  const char* textSet;  // bit 0 = 1
  const char* textClear;
};

constexpr DiallerRow kDiallerMessages[] = {
    {0, "Контрольное извещение", "Контрольное извещение"},
    {1, "Включение Тамсир и.1", "Включение Тамсир и.1"},
    {2, "Корпус Тамсир вскрыт", "Корпус Тамсир закрыт"},
    {3, "Нарушена линия связи с РР-ВЗ", "Линия связи с РР-ВЗ восставновлена"},
};

// One number into a text of the tables, however long the text is in UTF-8.
std::string FormatNumber(const char* format, unsigned value) {
  std::string text(static_cast<std::size_t>(std::snprintf(nullptr, 0, format, value)), '\0');
  std::snprintf(text.data(), text.size() + 1, format, value);
  return text;
}

bool Bit(std::uint8_t value, int bit) {
  return (value >> bit) & 1u;
}

const char* BrokenText(bool broken) {
  return broken ? "нарушен" : "норма";
}
const char* ArmedText(bool armed) {
  return armed ? "охраняется" : "не охраняется";
}
const char* AlarmText(bool alarm) {
  return alarm ? "\"тревога\"" : "\"норма\"";
}
const char* LinkText(bool linked) {
  return linked ? kLinked : kNotLinked;
}

std::string FirstLine(int kind, std::uint8_t guardByte) {
  if (kind == 1) return Bit(guardByte, 7) ? kTamperRestored : kTamperBroken;
  for (const LoopKindRow& row : kLoopKinds) {
    if (row.kind != kind) continue;
    std::string line = FormatNumber(row.firstLine, guardByte >> 4u);
    if (row.duressSuffix && Bit(guardByte, 3)) line += kDuressSuffix;
    return line;
  }
  return kUnknownKind;
}

std::string SilentAlarmLine(const char* loop) {
  return std::string("  ") + loop + " - \"тихая тревога\"";
}

std::string StateLine(const char* loop, bool broken, bool armed, bool alarm) {
  return std::string("   ") + loop + " = состояние: { " + BrokenText(broken) + ", " + ArmedText(armed) +
         ", " + AlarmText(alarm) + " }";
}

std::string DescriptionLine(int loopType, bool linked) {
  return std::string("              описание: { ") + kLoopTypes[loopType & 3] + ", " + LinkText(linked) + "}";
}

}  // namespace

int DecodeLoopState(std::uint8_t kindByte, std::uint8_t loopByte, std::uint8_t guardByte,
                    const std::string& address, EventProtocol& protocol, ObjectRegistry& objects) {
  const int kind = kindByte >> 4;

  protocol.AppendPlainLine(FirstLine(kind, guardByte));
  if (kind == 6) {
    if (Bit(guardByte, 7)) protocol.AppendPlainLine(SilentAlarmLine("ШС1"));
    if (Bit(guardByte, 6)) protocol.AppendPlainLine(SilentAlarmLine("ШС2"));
  }
  protocol.AppendPlainLine(StateLine("ШС1", Bit(loopByte, 7), Bit(kindByte, 1), Bit(kindByte, 3)));
  protocol.AppendPlainLine(DescriptionLine(loopByte >> 4, Bit(loopByte, 1)));
  protocol.AppendPlainLine(StateLine("ШС2", Bit(loopByte, 6), Bit(kindByte, 0), Bit(kindByte, 2)));
  protocol.AppendPlainLine(DescriptionLine(loopByte >> 2, Bit(loopByte, 0)));

  if (kind == kControlMessageKind) {
    // Stored addresses are Windows-1251; an address text that cannot be one matches nothing.
    const std::optional<std::string> wanted = Utf8ToCp1251(address);
    ObjectTable& table = objects.Table();
    for (int slot = 1; wanted && slot <= kLastObjectSlot && table[slot].bUsed != 0; ++slot) {
      if (ReadFixedText(table[slot].szAddress) == *wanted) objects.ResetObjectCounter(slot);
    }
  }

  objects.RefreshObjectList();
  return 0;
}

void DecodeDiallerMessage(std::uint8_t diallerByte, EventProtocol& protocol) {
  const int message = diallerByte >> 4;
  for (const DiallerRow& row : kDiallerMessages) {
    if (row.message == message) {
      protocol.AppendPlainLine(Bit(diallerByte, 0) ? row.textSet : row.textClear);
      return;
    }
  }
  protocol.AppendPlainLine("");
}

}  // namespace pelvaron
