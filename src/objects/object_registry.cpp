#include "objects/object_registry.h"

#include <cstddef>
#include <cstring>
#include <span>
#include <vector>

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

std::string FormatPeriod(int minutes) {
  if (minutes >= 60 && minutes % 60 == 0) return std::to_string(minutes / 60) + "h";
  return std::to_string(minutes) + "m";
}

std::string FormatMinutes(int minutes) {
  int h = minutes / 60;
  int m = minutes % 60;
  if (h <= 0) return std::to_string(m) + "m";
  return std::to_string(h) + "h" + std::to_string(m) + "m";
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

ObjectRegistry::ObjectRegistry(FileSystem& fs, Operator& op) : fs_(fs), op_(op) {
  std::memset(table_.data(), 0, sizeof(ObjectTable));
}

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
  if (slot < 1 || slot > kLastObjectSlot) return {};
  return Cp1251ToUtf8(FixedTextView(table_[slot].szAddress));
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
    return 1;
  }
  saveHeld_ = false;
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
    op_.ShowMessage({"Файл объектов " + std::string(kObjectsFileName) +
                         " не удалось прочитать при запуске и не удаётся переименовать (ошибка " +
                         std::to_string(err) +
                         "). Изменения объектов не будут записаны в файл, пока он не "
                         "станет доступен: перенесите его и перезапустите программу.",
                     "", MessageIcon::Exclamation});
    return;
  }
  if (err == 0) {
    op_.ShowMessage({"Файл объектов " + std::string(kObjectsFileName) +
                         " не удалось прочитать при запуске. Он сохранён как " + aside +
                         ", а объекты записываются в новый файл " + kObjectsFileName + ".",
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

// A row shows nothing behind nTimeCounter: the loop types do not count.
constexpr std::size_t kRowBytes = offsetof(ObjectRecord, szLoop1Type);

int ObjectRegistry::RefreshObjectList() {
  // A row is formatted again only when its record changed since it was shown;
  // most refreshes change one row or none, so the whole run is compared first.
  const auto end = static_cast<std::size_t>(FirstFreeSlot());
  const std::size_t count = end - 1;
  const bool unchanged = rowsValid_ == count && count > 0 &&
                         std::memcmp(shownRecords_.data(), &table_[1], count * sizeof(ObjectRecord)) == 0;
  rows_.resize(count);
  shownRecords_.resize(count);
  for (std::size_t s = 1; !unchanged && s < end; ++s) {
    const ObjectRecord& r = table_[s];
    ObjectRecord& shown = shownRecords_[s - 1];
    const bool rowSame = rowsValid_ > s - 1 && std::memcmp(&shown, &r, kRowBytes) == 0;
    std::memcpy(&shown, &r, sizeof r);
    if (rowSame) continue;
    ObjectListRow& row = rows_[s - 1];
    row.bAlarm = r.bAlarm == 1;
    row.address.assign(1, ' ');
    row.address += Cp1251ToUtf8(FixedTextView(r.szAddress));
    row.control = r.bControl == 1 ? "+" : "-";
    row.period = FormatPeriod(r.nPeriod);
    row.lastLink = FormatMinutes(r.nTimeCounter);
    row.comment = Cp1251ToUtf8(FixedTextView(r.szComment));
  }
  rowsValid_ = end - 1;
  op_.ObjectListRefreshed(rows_);
  if (!saveHeld_) SaveObject();
  return 0;
}

}  // namespace pelvaron
