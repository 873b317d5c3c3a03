#include "decode/radio.h"

#include <array>
#include <string_view>

#include "decode/text_append.h"

namespace pelvaron {

namespace {

using decode_text::AppendUnsigned;

struct RadioEventRow {
  std::uint8_t code;
  std::string_view newText;
  std::string_view restoreText;
};

// Codes without a row fall back to the "unrecognised" texts; 0x80..0x8F share one row.
constexpr RadioEventRow kRadioEvents[] = {
    {0x00, "Постановка под охрану", "Снятие с охраны"},
    {0x01, "Постановка под принуждением", "Снятие под принуждением"},
    {0x02, "Сброс пожаров и неисправностей", "Сброс пожаров и неисправностей (восстановление)"},
    {0x03, "Автоматическая постановка под охрану", "Автоматическое снятие с охраны"},
    {0x04, "Выключение контроля раздела", "Включение контроля раздела"},
    {0x10, "Охранная тревога", "Восстановление охранной тревоги"},
    {0x11, "Пожарная тревога", "Восстановление пожарной тревоги"},
    {0x12, "Паника", "Сброс паники"},
    {0x13, "Задержка на вход", "Задержка на выход"},
    {0x14, "Пожарное внимание", "Восстановление пожарного внимания"},
    {0x15, "Пожарная тревога (аналоговая величина)", "Сброс пожарной тревоги"},
    {0x20, "Обобщенная неисправность", "Сброс обобщенной неисправности"},
    {0x21, "Разряд основной батареи", "Норма основной батареи"},
    {0x22, "Разряд резервной батареи", "Норма резервной батареи"},
    {0x23, "Отсутствие радиосвязи с дочерним устр.", "Норма радиосвязи с дочерним устр."},
    {0x24, "Запыление дымового извещателя", "Восстановление запыления дымового извещателя"},
    {0x25, "Ручной обход адреса (manual bypass on)", "Выключение режима обхода адреса (manual bypass off)"},
    {0x26, "Автоматический обход адреса (auto bypass)",
     "Автоматическое выключение обхода адреса (auto bypass off)"},
    {0x30, "Внешняя радиопомеха расширителю", "Исчезновение внешней радиопомехи расширителю"},
    {0x31, "Разряд аккумулятора", "Восстановление аккумулятора (заряд)"},
    {0x32, "Неисправность аккумулятора", "Восстановление аккумулятора (наличие)"},
    {0x33, "Отсутствие сетевого питания", "Восстановление сетевого питания"},
    {0x34, "Обрыв связи с СЛ ''Доркан-512''", "Восстановление связи с СЛ ''Доркан-512''"},
    {0x35, "Отсутствие радиосвязи с дочерним расширителем",
     "Восстановление радиосвязи с дочерним расширителем"},
    {0x36, "Обрыв связи с СЛ ''Пирвен-2А/4А''", "Восстановление связи с СЛ ''Пирвен-2А/4А''"},
    {0x37, "Обрыв линии связи внешнего устройства с ПЦН",
     "Восстановление линии связи внешнего устройства с ПЦН"},
    {0x38, "Обрыв линии связи РР с устройством передачи извещений",
     "Восстановление линии связи РР с устройством передачи извещений"},
    {0x40, "Изменение кода доступа к расширителю", "Изменение кода доступа к расширителю"},
    {0x41, "Программирование расширителя", "Программирование расширителя"},
    {0x42, "Смена кода пользователя", "Смена кода пользователя"},
    {0x43, "Программирование свойств системных устройств", "Программирование свойств системных устройств"},
    {0x50, "Включение расширителя", "Выключение расширителя"},
    {0x51, "Включение коммуникационного устройства", "Выключение коммуникационного устройства"},
    {0x60, "Активация выхода реле", "Нормализация выхода реле"},
    {0x61, "Активация удалённого реле", "Нормализация удалённого реле"},
    {0x62, "Отключение группы исполнительных устройств", "Включение группы исполнительных устройств"},
    {0x70, "Вскрытие корпуса", "Корпус закрыт"},
    {0x71, "Подбор кода доступа", "Подбор кода доступа"},
    {0x72, "Попытка подмены дочернего устройства", "Попытка подмены дочернего устройства"},
    {0x73, "Попытка подмены расширителя", "Попытка подмены расширителя"},
    {0x74, "Попытка несанкционированного управления", "Попытка несанкционированного управления"},
    {0x75, "Попытка подмены системного устройства", "Попытка подмены системного устройства"},
};

// Bits 3..0 of unitByte.
constexpr std::array<std::string_view, 16> kDeviceKinds = {
    "РР (расширитель)",                       // 0
    "Сумил-Р (Охранный инфракрасный)",        // 1
    "Велеска-Р (Пожарный дымовой/тепловой)",  // 2
    "ЗЕТ (Магнитоконтактный/универсальный)",  // 3
    "КЛН (Брелок управления)",                // 4
    "ТРУ-Р (Пожарный ручной)",                // 5
    "ОМ-Р (Исполнительный блок и.1)",         // 6
    "Ливна-Р (Охранный акустический)",        // 7
    "ДК-Р (Пульт управления)",                // 8
    "ДКЛ-Р (Локальный пульт)",                // 9
    "ДКЛ",                                    // 10
    "Тромба-Р (Звуковой оповещатель)",        // 11
    "Устройство СПИ",                         // 12
    "Тип 13",                                 // 13
    "Тип 14",                                 // 14
    "Тип 15",                                 // 15
};

// A relay column takes detail modulo 5.
constexpr std::array<std::string_view, 5> kRelayNames = {"Р1", "Р2", "Р3", "СО", "ЗО"};

int ExpanderNumber(const RadioRecord& r) {
  return r.unitByte >> 4;
}
int DeviceKind(const RadioRecord& r) {
  return r.unitByte & 0x0F;
}
int IsNewEvent(const RadioRecord& r) {
  return (r.sourceByte & 0x80) ? 1 : 0;
}
int SourceNumber(const RadioRecord& r) {
  return r.sourceByte & 0x3F;
}
bool UpperBank(const RadioRecord& r) {
  return (r.sourceByte & 0x40) != 0;
}

bool InRange(int code, int first, int last) {
  return code >= first && code <= last;
}

enum class Expansion { Single, RelayMask, PartitionMask };

Expansion ExpansionOf(int code) {
  if (code == 0x15 || InRange(code, 0x30, 0x35) || code == 0x40 || code == 0x42 || code == 0x43 ||
      code == 0x73 || InRange(code, 0x80, 0x8F))
    return Expansion::Single;
  if (code == 0x60 || code == 0x61) return Expansion::RelayMask;
  return Expansion::PartitionMask;
}

// Column A: partition, relay, group, number or the measured value.
void AppendColumnA(std::string& out, const RadioRecord& r) {
  const int code = r.eventCode;
  if (code == 0x15) {
    out += UpperBank(r) ? "Температура:" : "Дым:";
    AppendUnsigned(out, r.detail);
  } else if (InRange(code, 0x30, 0x35) || code == 0x40 || code == 0x50 || code == 0x71 || code == 0x73) {
    out += ' ';
  } else if (code == 0x43) {
    out += "Номер: ";
    AppendUnsigned(out, r.detail);
  } else if (code == 0x60 || code == 0x61) {
    out += kRelayNames[r.detail % kRelayNames.size()];
    out += "-реле";
  } else if (code == 0x62) {
    out += "Группа: ";
    AppendUnsigned(out, r.detail);
  } else {
    out += "Раздел:";
    AppendUnsigned(out, r.detail);
  }
}

// Column B: user, key fob, level, branch or device address.
void AppendColumnB(std::string& out, const RadioRecord& r) {
  const int code = r.eventCode;
  const auto n = static_cast<unsigned>(SourceNumber(r));
  if (code == 0x00 || code == 0x01 || code == 0x02 || code == 0x42 || code == 0x62) {
    const int kind = DeviceKind(r);
    if (kind == 0 || kind == 8 || kind == 9) {
      out += "Польз:";
      AppendUnsigned(out, n);
    } else if (kind == 4) {
      out += "КЛН:";
      AppendUnsigned(out, n);
    }
    return;
  }
  // Bit 7 is both the new/restore flag and, here, the switch for the level.
  if (code == 0x30) {
    if (IsNewEvent(r)) {
      AppendUnsigned(out, n);
      out += " (уровень)";
    } else {
      out += ' ';
    }
    return;
  }
  if (InRange(code, 0x31, 0x34) || code == 0x40 || code == 0x50 || code == 0x60 || code == 0x71 || code == 0x73) {
    out += ' ';
    return;
  }
  out += code == 0x35 ? "Ветвь:" : "Адрес:";
  AppendUnsigned(out, n);
}

}  // namespace

void AppendRadioEventText(std::string& out, std::uint8_t eventCode, int newEvent) {
  if (eventCode >= 0x80 && eventCode <= 0x8F) {
    out += "Служебное (";
    AppendUnsigned(out, eventCode & 0x0Fu);
    out += newEvent ? "-нов)" : "-восст)";
    return;
  }
  for (const RadioEventRow& row : kRadioEvents) {
    if (row.code == eventCode) {
      out += newEvent ? row.newText : row.restoreText;
      return;
    }
  }
  out += "Нераспознанное событие (код ";
  if (eventCode >= 0x10) out += "0123456789abcdef"[eventCode >> 4u];
  out += "0123456789abcdef"[eventCode & 0x0Fu];
  out += newEvent ? ",новое)" : ",восстановл.)";
}

std::string RadioEventText(std::uint8_t eventCode, int newEvent) {
  std::string text;
  AppendRadioEventText(text, eventCode, newEvent);
  return text;
}

void FormatRadioRecord(RadioRecord record, DecodedMessage& out) {
  if (out.radioCount < out.radio.size()) {
    RadioRecordFields& f = out.radio[out.radioCount++];
    f.eventCode = record.eventCode;
    f.newEvent = IsNewEvent(record) != 0;
    f.expander = ExpanderNumber(record);
    f.deviceKind = DeviceKind(record);
    f.source = SourceNumber(record);
    f.upperBank = UpperBank(record);
    f.detail = record.detail;
  }
  std::string& line = out.lines.Open();
  line += "     ";
  AppendRadioEventText(line, record.eventCode, IsNewEvent(record));
  line += " РР:";
  AppendUnsigned(line, static_cast<unsigned>(ExpanderNumber(record)));
  line += "\t\t";
  AppendColumnA(line, record);
  line += "\t\t";
  AppendColumnB(line, record);
  line += " Тип:'";
  line += kDeviceKinds[static_cast<std::size_t>(DeviceKind(record))];
  line += "'";
  out.lines.Close();
}

std::string_view RadioDeviceKindName(int deviceKind) {
  return kDeviceKinds[static_cast<std::size_t>(deviceKind & 0x0F)];
}

void DecodeRadioMessage(RadioRecord record, DecodedMessage& out) {
  out.radioCount = 0;
  switch (ExpansionOf(record.eventCode)) {
    case Expansion::Single:
      FormatRadioRecord(record, out);
      return;

    case Expansion::RelayMask:
      // A relay-output event from another expander is not this one's to report.
      if (record.eventCode == 0x60 && ExpanderNumber(record) != (record.sourceByte & 0x0F)) return;
      for (int i = 0; i < static_cast<int>(kRelayNames.size()); ++i) {
        if (record.detail & (1u << i)) {
          RadioRecord one = record;
          one.detail = static_cast<std::uint8_t>(i);
          FormatRadioRecord(one, out);
        }
      }
      return;

    case Expansion::PartitionMask:
      if (record.detail == 0) {
        if (record.eventCode != 0x62) FormatRadioRecord(record, out);
        return;
      }
      for (int i = 0; i < 8; ++i) {
        if (record.detail & (1u << i)) {
          RadioRecord one = record;
          one.detail = static_cast<std::uint8_t>(UpperBank(record) ? i + 9 : i + 1);
          FormatRadioRecord(one, out);
        }
      }
      return;
  }
}

}  // namespace pelvaron
