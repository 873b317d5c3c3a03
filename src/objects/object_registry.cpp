#include "objects/object_registry.h"

#include <charconv>
#include <cstddef>
#include <cstring>
#include <span>
#include <vector>

#include "core/control_characters.h"
#include "core/cp1251.h"
#include "core/fixed_text.h"

namespace pelvaron {
namespace {

constexpr char kUndefinedLoopType[] = "Не определён";

constexpr const char* kStateTexts[] = {
    "Состояние объекта - Норма",
    "Тревога на объекте - вскрытие корпуса УОО!",
    "Тревога на объекте - экстренный вызов с объекта!",
    // clang-format off
    "Тревога на объекте - отсутствие контрольного сообщения от ИО в течение установленного интервала анализа!",
    // clang-format on
    "Тревога - нарушение охранных шлейфов!",
};

std::span<const std::uint8_t> Image(const ObjectTable& table) {
  return {reinterpret_cast<const std::uint8_t*>(table.data()), sizeof(ObjectTable)};
}

void ShowFileError(Operator& op, int code, const char* where) {
  op.ShowMessage(
      {std::to_string(code) + " : System error(debugging info).\n in: " + where, "", MessageIcon::None});
}

}  // namespace

void AppendShownText(std::string& out, std::string_view cp1251) {
  // Nearly always none: 0x98 is U+0098, the one C1 control the code page holds.
  bool control = false;
  for (char c : cp1251) {
    const auto b = static_cast<unsigned char>(c);
    control = control || b < 0x20 || b == 0x7F || b == 0x98;
  }
  if (!control) {
    AppendCp1251AsUtf8(out, cp1251);
    return;
  }
  out += ShowControlCharacters(Cp1251ToUtf8(cp1251));
}

void WritePeriod(std::string& out, int minutes) {
  const bool hours = minutes >= 60 && minutes % 60 == 0;
  char text[16];
  // An int takes at most 11 characters: the unit always has its place.
  char* p = std::to_chars(text, text + 12, hours ? minutes / 60 : minutes).ptr;
  *p++ = hours ? 'h' : 'm';
  out.assign(text, p);
}

void WriteMinutes(std::string& out, int minutes) {
  const int h = minutes / 60;
  const int m = minutes % 60;
  char text[32];
  char* p = text;
  if (h > 0) {
    p = std::to_chars(p, p + 12, h).ptr;
    *p++ = 'h';
  }
  p = std::to_chars(p, p + 12, m).ptr;
  *p++ = 'm';
  out.assign(text, p);
}

std::string FormatPeriod(int minutes) {
  std::string text;
  WritePeriod(text, minutes);
  return text;
}

std::string FormatMinutes(int minutes) {
  std::string text;
  WriteMinutes(text, minutes);
  return text;
}

std::string ObjectStateText(int nState) {
  if (nState < 0 || nState >= static_cast<int>(std::size(kStateTexts))) return {};
  return kStateTexts[nState];
}

OperatorMessage CapacityMessage() {
  return {"В данной версии программы допустимое количество объектов\n ограничено числом " +
              std::to_string(kLastObjectSlot),
          "Ограничение", MessageIcon::Exclamation};
}

ObjectRecord BlankObjectRecord() {
  ObjectRecord r;
  std::memset(&r, 0, sizeof r);
  static const std::string undefined = Utf8ToCp1251Lossy(kUndefinedLoopType);
  WriteFixedText(r.szAddress, "    ");
  WriteFixedText(r.szComment, " ");
  WriteFixedText(r.szLoop1Type, undefined);
  WriteFixedText(r.szLoop2Type, undefined);
  return r;
}

// The table starts zeroed (its initialiser); nothing else needs clearing.
ObjectRegistry::ObjectRegistry(FileSystem& fs, Operator& op) : fs_(fs), op_(op) {}

int ObjectRegistry::FirstFreeSlot() const {
  int s = 1;
  while (s <= kLastObjectSlot && table_[s].bUsed != 0) ++s;
  return s;
}

void ObjectRegistry::NoteChange(ObjectChangeKind kind, int slot) {
  if (!listener_) return;
  NoteChange(kind, slot >= 1 && slot <= kLastObjectSlot ? AddressOf(slot) : std::string());
}

void ObjectRegistry::NoteChange(ObjectChangeKind kind, std::string address) {
  if (listener_) listener_(ObjectChange{kind, std::move(address)});
}

std::string ObjectRegistry::AddressOf(int slot) const {
  std::string text;
  if (slot >= 1 && slot <= kLastObjectSlot) AppendShownText(text, FixedTextView(table_[slot].szAddress));
  return text;
}

std::string ObjectRegistry::CommentOf(int slot) const {
  std::string text;
  if (slot >= 1 && slot <= kLastObjectSlot) AppendShownText(text, FixedTextView(table_[slot].szComment));
  return text;
}

void ObjectRegistry::ResetObjectCounter(int slot) {
  if (slot < 1 || slot > kLastObjectSlot) return;
  ObjectRecord& r = table_[slot];
  if (r.bAlarm != 0 && r.bUsed != 0) NoteChange(ObjectChangeKind::BackInControl, slot);
  r.byFlags &= static_cast<std::uint8_t>(~OVERDUE_LOGGED);
  r.nTimeCounter = 0;
  r.bAlarm = 0;
  r.nState = OBJSTATE_NORMAL;
}

void ObjectRegistry::RemoveObjectSlot(int slot) {
  int k = FirstFreeSlot();
  if (slot < 1 || slot > k || slot > kLastObjectSlot) return;
  // Slots slot+1 .. k+1 move one down. The console never fills slots 99 and
  // 100, but a foreign file may: then there is nothing behind slot 100 to
  // move, and slot 100 becomes free so that the run stays unbroken.
  int last = k + 1 <= kLastObjectSlot ? k + 1 : kLastObjectSlot;
  for (int s = slot + 1; s <= last; ++s) table_[s - 1] = table_[s];
  if (k + 1 > kLastObjectSlot) table_[kLastObjectSlot] = BlankObjectRecord();
}

int ObjectRegistry::InitObjects() {
  const ObjectRecord blank = BlankObjectRecord();
  for (int s = 1; s <= kLastObjectSlot; ++s) table_[s] = blank;
  SaveObject();
  return 0;
}

int ObjectRegistry::SaveObject() {
  // Replaced whole, never rewritten in place: a crash or a full disk keeps
  // the previous file.
  int err = fs_.ReplaceFile(kObjectsFileName, Image(table_));
  if (err != 0) {
    ShowFileError(op_, err, "SaveObject();");
    return 1;
  }
  saveHeld_ = false;
  return 0;
}

int ObjectRegistry::LoadObject() {
  // Straight into the table: the file system leaves it alone when the read fails.
  std::size_t n = 0;
  const std::span<std::uint8_t> image{reinterpret_cast<std::uint8_t*>(table_.data()), sizeof(ObjectTable)};
  int err = fs_.ReadPrefixInto(kObjectsFileName, image, n);
  if (err != 0) {
    ShowFileError(op_, err, "LoadObject();");
    // The file is there but unreadable: keep it until the operator changes something.
    saveHeld_ = true;
    heldBecause_ = "не удалось прочитать при запуске";
    return 1;
  }
  saveHeld_ = false;
  // A byte more than the table tells a longer file, whose rest a save would lose.
  std::vector<std::uint8_t> probe;
  const bool longer = n == image.size() && fs_.ReadPrefix(kObjectsFileName, image.size() + 1, probe) == 0 &&
                      probe.size() > image.size();
  if (n == image.size() && !longer) return 0;
  // Not an image of the table: what it held stays as it is until the operator
  // changes the objects (then it is kept beside, as an unreadable one is).
  const std::string size = std::to_string(image.size());
  op_.ShowMessage(
      {std::string("Файл объектов ") + kObjectsFileName + " имеет неверный размер: " +
           (longer ? "больше " + size + " байт" : std::to_string(n) + " байт вместо " + size) +
           (longer ? ". Прочитаны первые " + size + " байт" : std::string(". Прочитано его начало")) +
           " (объектов: " + std::to_string(ObjectCount()) +
           "). Файл не будет перезаписан, пока вы не измените объекты; тогда он будет сохранён "
           "под другим именем, а объекты записаны в новый файл.",
       "", MessageIcon::Exclamation});
  saveHeld_ = true;
  heldBecause_ = "имел при запуске неверный размер";
  return 0;
}

void ObjectRegistry::OperatorChangedObjects() {
  if (!saveHeld_) return;
  std::string aside = std::string(kObjectsFileName) + ".unreadable";
  for (int n = 1; n <= 99 && fs_.Exists(aside); ++n) {
    aside = std::string(kObjectsFileName) + ".unreadable." + std::to_string(n);
  }
  int err = fs_.Rename(kObjectsFileName, aside);
  if (err != 0 && fs_.Exists(kObjectsFileName)) {
    op_.ShowMessage({"Файл объектов " + std::string(kObjectsFileName) + " " + heldBecause_ +
                         " и не удаётся переименовать (ошибка " + std::to_string(err) +
                         "). Изменения объектов не будут записаны в файл, пока он не "
                         "станет доступен: перенесите его и перезапустите программу.",
                     "", MessageIcon::Exclamation});
    return;
  }
  if (err == 0) {
    op_.ShowMessage({"Файл объектов " + std::string(kObjectsFileName) + " " + heldBecause_ +
                         ". Он сохранён как " + aside + ", а объекты записываются в новый файл " +
                         kObjectsFileName + ".",
                     "", MessageIcon::Information});
  }
  saveHeld_ = false;
}

int ObjectRegistry::LoadOrInitObjects() {
  if (!fs_.Exists(kObjectsFileName)) {
    InitObjects();
  } else {
    LoadObject();
  }
  return 0;
}

int ObjectRegistry::RefreshObjectList() {
  // A row is formatted again only when its record changed since it was shown;
  // most refreshes change one row or none.
  const auto end = static_cast<std::size_t>(FirstFreeSlot());
  rows_.resize(end - 1);
  for (std::size_t s = 1; s < end; ++s) {
    const ObjectRecord& r = table_[s];
    unsigned char* shown = shown_[s - 1].bytes;
    if (s - 1 < rowsValid_ && std::memcmp(shown, &r, kRowBytes) == 0) continue;
    std::memcpy(shown, &r, kRowBytes);
    ObjectListRow& row = rows_[s - 1];
    row.bAlarm = r.bAlarm == 1;
    row.address.assign(1, ' ');
    AppendShownText(row.address, FixedTextView(r.szAddress));
    row.control = r.bControl == 1 ? "+" : "-";
    WritePeriod(row.period, r.nPeriod);
    WriteMinutes(row.lastLink, r.nTimeCounter);
    row.comment.clear();
    AppendShownText(row.comment, FixedTextView(r.szComment));
  }
  rowsValid_ = end - 1;
  op_.ObjectListRefreshed(rows_);
  if (rowsListener_) rowsListener_(rows_);
  if (!saveHeld_) SaveObject();
  return 0;
}

}  // namespace pelvaron
