#include "objects/object_card.h"

#include "core/control_characters.h"
#include "core/cp1251.h"
#include "core/fixed_text.h"

namespace pelvaron {
namespace {

constexpr char kNewObjectState[] = "Инициализация нового объекта";
constexpr char kUndefinedLoopType[] = "Не определён";

constexpr char kAddressError[] = "Некорректно набраны цифры адреса!\n(адрес должен быть от 0001 до 9999)";
constexpr char kAddressCaption[] = "Ошибка ввода адреса";
constexpr char kPeriodError[] =
    "Некорректно введён период контроля!\n(должно быть, например: 2h или 180m, h - hours, m - minutes )";
constexpr char kPeriodCaption[] = "Ошибка ввода периода контроля";
constexpr char kDuplicateError[] = "Данный адрес уже зарегистрирован, измените адрес";
constexpr char kInputCaption[] = "Ошибка ввода";

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

// A text field as Windows-1251, or the message that names what cannot be stored.
struct FieldText {
  std::string cp1251;
  std::optional<OperatorMessage> refusal;
};

FieldText CheckField(const std::string& utf8, const char* label, std::size_t limit) {
  // The message names the field: "Текст в поле «label»" and what is wrong.
  auto refuse = [&](const std::string& what) {
    return FieldText{{}, OperatorMessage{std::string("Текст в поле «") + label + "»" + what, kInputCaption,
                                         MessageIcon::Exclamation}};
  };
  if (Utf8Length(utf8) > limit) {
    return refuse(" длиннее " + std::to_string(limit) + " символов.\nСократите текст.");
  }
  // A line end would make lines of its own wherever the text is written.
  if (std::optional<char32_t> c = FirstControlCharacter(utf8); c && *c != 0) {
    return FieldText{{},
                     OperatorMessage{ControlCharacterRefusal(std::string("Текст в поле «") + label + "»", *c),
                                     kInputCaption, MessageIcon::Exclamation}};
  }
  // Nearly every text can be stored as it is: then there is nothing to name.
  if (std::optional<std::string> cp1251 = Utf8ToCp1251(utf8); cp1251 && cp1251->find('\0') == std::string::npos) {
    return FieldText{std::move(*cp1251), std::nullopt};
  }
  // Name the first character the objects file cannot hold.
  std::size_t start = 0;
  while (start < utf8.size()) {
    std::size_t end = start + 1;
    while (end < utf8.size() && (static_cast<unsigned char>(utf8[end]) & 0xC0) == 0x80) ++end;
    std::string_view ch(utf8.data() + start, end - start);
    if (ch == std::string_view("\0", 1)) {
      return refuse(" содержит нулевой символ.\nУдалите его.");
    }
    if (!FitsCp1251(ch)) {
      // A lone byte is broken UTF-8 and would show as garbage; a whole character can be named.
      auto lead = static_cast<unsigned char>(ch[0]);
      std::size_t whole = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
      std::string what =
          whole > 1 && ch.size() == whole ? " символ «" + std::string(ch) + "»," : " недопустимый символ,";
      return refuse(" содержит" + what +
                    " который нельзя сохранить в файле объектов (кодировка Windows-1251).\n"
                    "Замените или удалите этот символ.");
    }
    start = end;
  }
  return FieldText{*Utf8ToCp1251(utf8), std::nullopt};
}

std::string CardStateText(const ObjectRecord& r) {
  std::string text = ObjectStateText(r.nState);
  if (r.nState == OBJSTATE_LOOP_ALARM) {
    if (r.byLoopAlarm & 0x01) text += "\r\nТревога по ШС1";
    if (r.byLoopAlarm & 0x02) text += "\r\nТревога по ШС2";
  }
  return text;
}

}  // namespace

bool IsValidObjectAddress(std::string_view address) {
  if (address.size() != kCardAddressLimit) return false;
  int value = 0;
  for (char c : address) {
    if (!IsDigit(c)) return false;
    value = value * 10 + (c - '0');
  }
  return value != 0;
}

std::optional<int> ParseControlPeriod(std::string_view period) {
  if (period.size() < 2 || period.size() > kCardPeriodLimit) return std::nullopt;
  char unit = period.back();
  if (unit == 'H') unit = 'h';
  if (unit == 'M') unit = 'm';
  if (unit != 'h' && unit != 'm') return std::nullopt;
  int value = 0;
  for (char c : period.substr(0, period.size() - 1)) {
    if (!IsDigit(c)) return std::nullopt;
    value = value * 10 + (c - '0');
  }
  if (value == 0) return std::nullopt;
  return unit == 'h' ? value * 60 : value;
}

int ObjectCard::FindDuplicateAddress(const ObjectTable& table, std::string_view address) const {
  for (int s = 1; s <= kLastObjectSlot && table[s].bUsed != 0; ++s) {
    if (s != m_nSlot && FixedTextView(table[s].szAddress) == address) return 1;
  }
  return 0;
}

void OpenObjectCard(ObjectCard& card, const ObjectTable& table) {
  if (!card.Editing()) {
    card.m_strAddress.clear();
    card.m_strPeriod.clear();
    card.m_strComment.clear();
    card.m_bControl = 0;
    card.m_strLoop1Type = kUndefinedLoopType;
    card.m_strLoop2Type = kUndefinedLoopType;
    card.m_strState = kNewObjectState;
    return;
  }
  const ObjectRecord& r = table[card.m_nSlot];
  card.m_strAddress = Cp1251ToUtf8(FixedTextView(r.szAddress));
  card.m_strPeriod = FormatPeriod(r.nPeriod);
  card.m_strComment = Cp1251ToUtf8(FixedTextView(r.szComment));
  card.m_bControl = r.bControl;
  card.m_strLoop1Type = Cp1251ToUtf8(FixedTextView(r.szLoop1Type));
  card.m_strLoop2Type = Cp1251ToUtf8(FixedTextView(r.szLoop2Type));
  card.m_strState = CardStateText(r);
}

std::optional<OperatorMessage> RegisterObjectCard(ObjectCard& card, ObjectRegistry& registry) {
  ObjectTable& table = registry.Table();
  if (!IsValidObjectAddress(card.m_strAddress)) {
    return OperatorMessage{kAddressError, kAddressCaption, MessageIcon::Exclamation};
  }
  std::optional<int> minutes = ParseControlPeriod(card.m_strPeriod);
  if (!minutes) return OperatorMessage{kPeriodError, kPeriodCaption, MessageIcon::Exclamation};

  FieldText comment = CheckField(card.m_strComment, "Краткие комментарии", kCardCommentLimit);
  if (comment.refusal) return comment.refusal;
  FieldText loop1 = CheckField(card.m_strLoop1Type, "ШС 1", kCardLoopTypeLimit);
  if (loop1.refusal) return loop1.refusal;
  FieldText loop2 = CheckField(card.m_strLoop2Type, "ШС 2", kCardLoopTypeLimit);
  if (loop2.refusal) return loop2.refusal;
  int control = card.m_bControl == 1 ? 1 : 0;

  if (card.FindDuplicateAddress(table, card.m_strAddress)) {
    return OperatorMessage{kDuplicateError, kAddressCaption, MessageIcon::Exclamation};
  }

  int slot = card.Editing() ? card.m_nSlot : registry.FirstFreeSlot();
  // Only a foreign file with all 100 slots used leaves no room; never write past the table.
  if (slot > kLastObjectSlot) return CapacityMessage();

  ObjectRecord& r = table[slot];
  WriteFixedText(r.szAddress, card.m_strAddress);
  r.bUsed = 1;
  WriteFixedText(r.szComment, comment.cp1251);
  r.bControl = control;
  r.nPeriod = *minutes;
  r.bRegistered = 1;
  r.bAlarm = 0;
  r.nState = OBJSTATE_NORMAL;
  r.byFlags = 0;
  r.nTimeCounter = 0;
  WriteFixedText(r.szLoop1Type, loop1.cp1251);
  WriteFixedText(r.szLoop2Type, loop2.cp1251);
  card.bNewObjectAdded = card.Editing() ? 0 : 1;
  registry.NoteChange(card.Editing() ? ObjectChangeKind::Edited : ObjectChangeKind::Registered, slot);
  return std::nullopt;
}

bool DeleteObjectFromCard(const ObjectCard& card, ObjectRegistry& registry) {
  if (!card.Editing()) return false;
  std::string address = registry.AddressOf(card.m_nSlot);
  registry.RemoveObjectSlot(card.m_nSlot);
  registry.NoteChange(ObjectChangeKind::Deleted, std::move(address));
  return true;
}

OperatorMessage CardDeleteQuestion() {
  return {"Вы уверены, что хотите удалить информацию о данном объекте ?", "Подтверждение удаления",
          MessageIcon::Question};
}

}  // namespace pelvaron
