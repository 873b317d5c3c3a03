// The objects file: any content, as a foreign or damaged file may hold it,
// loaded at start-up and then read or changed the ways the console does: the
// list, the card, the state window, the loop-state control message, OK on a
// card, deletions, a new object.
//
// Slot 0 (the file's first 336 bytes) is never read by the console. Its first
// byte picks what an execution does after the load, the next two pick slots:
// one family of checks an execution, each on any table. A table of 100
// objects costs what the console's list of 100 rows costs, so every family
// formats the list at most a few times and reads only the slots it names.
//
// The console saves the whole 33936-byte table at every list refresh. The
// file system here checks each save as it comes instead of keeping a copy,
// and the file is read from the input straight into the table.

#include <cstring>
#include <span>
#include <string>
#include <string_view>

#include "app/apply_message.h"
#include "core/control_characters.h"
#include "decode/decoded_message.h"
#include "fuzz_support.h"
#include "objects/object_card.h"
#include "objects/object_commands.h"
#include "objects/object_registry.h"
#include "protocol/event_protocol.h"
#include "protocol/settings.h"

using namespace pelvaron;

namespace {

// What an execution does after the load, picked by the file's first byte.
enum Family : std::uint8_t { kList, kSlot, kControl, kRegister, kNew, kRemove, kRemoveNothing, kFamilies };

bool SameRecord(const ObjectRecord& a, const ObjectRecord& b) {
  return std::memcmp(&a, &b, sizeof a) == 0;
}

// The objects file is the input itself; a save must be the table's image.
class ObjectsFiles : public fuzz::MemoryFiles {
 public:
  ObjectsFiles(const std::uint8_t* data, std::size_t size) : input_(data, size) {}

  void Watch(const ObjectTable& table) { table_ = &table; }
  int Saves() const { return saves_; }

  int ReadPrefix(const std::string& path, std::size_t max, std::vector<std::uint8_t>& out) override {
    if (path != kObjectsFileName) return MemoryFiles::ReadPrefix(path, max, out);
    const std::size_t n = input_.size() < max ? input_.size() : max;
    out.assign(input_.begin(), input_.begin() + static_cast<std::ptrdiff_t>(n));
    return 0;
  }
  int ReadPrefixInto(const std::string& path, std::span<std::uint8_t> out, std::size_t& n) override {
    if (path != kObjectsFileName) return MemoryFiles::ReadPrefixInto(path, out, n);
    n = input_.size() < out.size() ? input_.size() : out.size();
    if (n > 0) std::memcpy(out.data(), input_.data(), n);
    return 0;
  }
  bool Exists(const std::string& path) override {
    return path == kObjectsFileName || MemoryFiles::Exists(path);
  }
  int ReplaceFile(const std::string& path, std::span<const std::uint8_t> data) override {
    if (path != kObjectsFileName) return MemoryFiles::ReplaceFile(path, data);
    // Saved whole: the table's image and nothing else. The table itself is
    // its image, so the bytes are compared only when they come from elsewhere.
    FUZZ_CHECK(table_ != nullptr && data.size() == kObjectsFileSize);
    const auto* image = reinterpret_cast<const std::uint8_t*>(table_->data());
    FUZZ_CHECK(data.data() == image || std::memcmp(data.data(), image, kObjectsFileSize) == 0);
    ++saves_;
    return 0;
  }

 private:
  std::span<const std::uint8_t> input_;
  const ObjectTable* table_ = nullptr;
  int saves_ = 0;
};

// The table as it was before a change. Static only to spare an allocation an
// execution: every use copies the table in first.
ObjectTable& CopyOf(const ObjectRegistry& registry) {
  static ObjectTable copy;
  copy = registry.Table();
  return copy;
}

// Stored text shown in UTF-8 converts back to the very same bytes (the strict
// converter's verdict and text, without its character-by-character string).
template <std::size_t N>
void CheckShown(std::string_view shown, const char (&field)[N]) {
  static std::string back;
  back.clear();
  AppendUtf8AsCp1251Lossy(back, shown);
  FUZZ_CHECK(FitsCp1251(shown) && back == FixedTextView(field));
}

// A stored text is shown as it is, but for its control characters, which
// show as marks and never as themselves.
template <std::size_t N>
void ShowsAsStored(std::string_view shown, const char (&field)[N]) {
  FUZZ_CHECK(!FirstControlCharacter(shown));
  const std::string_view bytes = fuzz::FieldText(field);
  bool control = false;
  for (char c : bytes) {
    const auto b = static_cast<unsigned char>(c);
    control = control || b < 0x20 || b == 0x7F || b == 0x98;
  }
  if (!control) FUZZ_CHECK(fuzz::ShowsField(shown, bytes));
}

void CheckList(ObjectRegistry& registry, ObjectsFiles& fs, fuzz::RecordingOperator& op) {
  const int refreshes = op.refreshes;
  const int saves = fs.Saves();
  FUZZ_CHECK(registry.RefreshObjectList() == 0);
  FUZZ_CHECK(op.refreshes == refreshes + 1 && op.lastRows != nullptr);
  const std::vector<ObjectListRow>& rows = *op.lastRows;
  FUZZ_CHECK(rows.size() == static_cast<std::size_t>(registry.ObjectCount()));
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const ObjectRecord& r = registry.Table()[i + 1];
    FUZZ_CHECK(rows[i].address.size() >= 1 && rows[i].address[0] == ' ');
    ShowsAsStored(std::string_view(rows[i].address).substr(1), r.szAddress);
    ShowsAsStored(rows[i].comment, r.szComment);
  }
  // A file that was no whole image is kept until the operator changes the objects.
  FUZZ_CHECK(fs.Saves() == saves + (registry.SaveHeld() ? 0 : 1));
}

// A slot of the run opens its card, its state window and its delete question;
// any other slot opens none of them.
void ReadSlot(ObjectRegistry& registry, int s) {
  const ObjectTable& table = registry.Table();
  const int count = registry.ObjectCount();
  ObjectCard card;
  if (s < 1 || s > count) {
    FUZZ_CHECK(ObjectStateInfo(registry, s).empty());
    FUZZ_CHECK(DeleteObjectQuestion(registry, s).text.empty());
    FUZZ_CHECK(!BeginEditObject(registry, card, s));
    return;
  }
  const ObjectRecord& r = table[s];
  FUZZ_CHECK(BeginEditObject(registry, card, s));
  FUZZ_CHECK(card.m_nSlot == s);
  CheckShown(card.m_strAddress, r.szAddress);
  CheckShown(card.m_strComment, r.szComment);
  CheckShown(card.m_strLoop1Type, r.szLoop1Type);
  CheckShown(card.m_strLoop2Type, r.szLoop2Type);
  // Its own address is a duplicate only when another object has it too; a
  // new object's is always one.
  const std::string_view address = FixedTextView(r.szAddress);
  bool shared = false;
  for (int other = 1; other <= count && !shared; ++other) {
    shared = other != s && std::strncmp(table[other].szAddress, r.szAddress, sizeof r.szAddress) == 0;
  }
  FUZZ_CHECK(card.FindDuplicateAddress(table, address) == (shared ? 1 : 0));
  ObjectCard fresh;
  fresh.m_nSlot = -1;
  FUZZ_CHECK(fresh.FindDuplicateAddress(table, address) == 1);
  const std::string info = ObjectStateInfo(registry, s);
  FUZZ_CHECK(!info.empty() && fuzz::StorableText(info));
  FUZZ_CHECK(!DeleteObjectQuestion(registry, s).text.empty());
}

int NibbleOf(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// A guard's control message restarts the count of every object of its
// address and of no other. The frame carries the first object's address
// when a receiver could send it (four digits, 10..15 shown as A..F).
void ControlMessage(ObjectRegistry& registry) {
  if (registry.ObjectCount() == 0) return;
  const std::string_view first = FixedTextView(registry.Table()[1].szAddress);
  std::uint8_t frame[kFrameSize] = {0x00, 0x12, 0x0A, 0x20, 0, 0, 0, 0, 0, 0};
  const bool sendable = first.size() == 4 && NibbleOf(first[0]) >= 0 && NibbleOf(first[1]) >= 0 &&
                        NibbleOf(first[2]) >= 0 && NibbleOf(first[3]) >= 0;
  if (sendable) {
    frame[0] = static_cast<std::uint8_t>(NibbleOf(first[0]) << 4 | NibbleOf(first[1]));
    frame[1] = static_cast<std::uint8_t>(NibbleOf(first[2]) << 4 | NibbleOf(first[3]));
  }
  unsigned sum = 0;
  for (std::size_t i = 0; i < 8; ++i) sum += frame[i];
  frame[8] = static_cast<std::uint8_t>(sum >> 8u);
  frame[9] = static_cast<std::uint8_t>(sum);
  const DecodedMessage message = DecodeMessage(frame);
  FUZZ_CHECK(message.kind == MessageKind::LoopState && message.loopState.controlMessage);

  // The event lines are fuzz_frame's business: no protocol file, and the log
  // goes unread.
  struct : Operator {
    void ShowMessage(const OperatorMessage& /*message*/) override { FUZZ_CHECK(false); }
  } op;
  fuzz::FixedClock clock;
  fuzz::MemoryFiles protocolFiles;
  ConsoleSettings settings = ConsoleSettings::Defaults();
  settings.bSaveProtocol = 0;
  EventProtocol protocol(settings, clock, protocolFiles, op);
  const int count = registry.ObjectCount();
  const ObjectTable& before = CopyOf(registry);
  FUZZ_CHECK(ApplyDecodedMessage(message, protocol, op, registry) == 0);
  for (int slot = 1; slot <= count; ++slot) {
    const bool same = FixedTextView(before[slot].szAddress) == message.address.view();
    FUZZ_CHECK(registry.Table()[slot].nTimeCounter == (same ? 0 : before[slot].nTimeCounter));
  }
  if (sendable) FUZZ_CHECK(registry.Table()[1].nTimeCounter == 0);
}

// OK on a card opened from the file and left as it was: either a message or
// the same texts and period stored again.
void RegisterUnchanged(ObjectRegistry& registry, int slot) {
  ObjectCard card;
  if (!BeginEditObject(registry, card, slot)) return;
  const ObjectRecord before = registry.Table()[slot];
  const std::optional<OperatorMessage> refusal = RegisterObjectCard(card, registry);
  const ObjectRecord& after = registry.Table()[slot];
  if (refusal) {
    FUZZ_CHECK(!refusal->text.empty());
    FUZZ_CHECK(SameRecord(before, after));
    return;
  }
  FUZZ_CHECK(FixedTextView(after.szAddress) == FixedTextView(before.szAddress));
  FUZZ_CHECK(FixedTextView(after.szComment) == FixedTextView(before.szComment));
  FUZZ_CHECK(FixedTextView(after.szLoop1Type) == FixedTextView(before.szLoop1Type));
  FUZZ_CHECK(FixedTextView(after.szLoop2Type) == FixedTextView(before.szLoop2Type));
  FUZZ_CHECK(after.nPeriod == before.nPeriod && after.bUsed == 1);
}

// Removing a slot of the run leaves the run without that object. The first
// free slot takes the record behind it (the blank one past slot 100); any
// other slot changes nothing. The card's delete button takes the same path.
void Remove(ObjectRegistry& registry, int slot, bool viaCard) {
  const int firstFree = registry.FirstFreeSlot();
  const int count = firstFree - 1;
  const bool inRun = registry.IsObjectSlot(slot);
  ObjectTable& before = CopyOf(registry);
  if (viaCard) {
    ObjectCard card;
    card.m_nSlot = slot;
    FUZZ_CHECK(DeleteObjectFromCard(card, registry) == card.Editing());
  } else {
    registry.RemoveObjectSlot(slot);
  }
  const ObjectTable& after = registry.Table();
  if (!inRun) {
    if (slot == firstFree && slot <= kLastObjectSlot) {
      const ObjectRecord moved =
          slot < kLastObjectSlot ? before[static_cast<std::size_t>(slot) + 1] : BlankObjectRecord();
      before[static_cast<std::size_t>(slot)] = moved;
    }
    FUZZ_CHECK(std::memcmp(before.data(), after.data(), kObjectsFileSize) == 0);
    return;
  }
  FUZZ_CHECK(registry.ObjectCount() == count - 1);
  for (int s = 1; s < count; ++s) FUZZ_CHECK(SameRecord(after[s], before[s < slot ? s : s + 1]));
}

// Slots no table has change nothing, whichever way they are removed.
void RemoveNothing(ObjectRegistry& registry) {
  const ObjectTable& before = CopyOf(registry);
  bool viaCard = false;
  for (int slot : {0, kLastObjectSlot + 1, -1, kLastObjectSlot + 2}) {
    if (viaCard) {
      ObjectCard card;
      card.m_nSlot = slot;
      FUZZ_CHECK(DeleteObjectFromCard(card, registry) == card.Editing());
    } else {
      registry.RemoveObjectSlot(slot);
    }
    viaCard = !viaCard;
  }
  FUZZ_CHECK(std::memcmp(before.data(), registry.Table().data(), kObjectsFileSize) == 0);
}

// The add command refuses at 98 objects (a foreign file may hold more);
// below that a new object takes the first free slot.
void NewObject(ObjectRegistry& registry, fuzz::RecordingOperator& op) {
  ObjectCard card;
  const int count = registry.ObjectCount();
  if (!BeginNewObject(registry, card)) {
    FUZZ_CHECK(count >= kMaxObjects);
    FUZZ_CHECK(!op.messages.empty() && op.messages.back() == CapacityMessage());
    return;
  }
  FUZZ_CHECK(count < kMaxObjects);
  card.m_strAddress = "4321";
  card.m_strPeriod = "90m";
  card.m_strComment = "Новый";
  if (!RegisterObjectCard(card, registry)) {
    // Objects of a foreign file behind a gap join the run once the gap is filled.
    FUZZ_CHECK(registry.ObjectCount() >= count + 1);
    FUZZ_CHECK(FixedTextView(registry.Table()[count + 1].szAddress) == "4321");
  }
}

// The first n bytes of the image are the file's, the rest zeros. A plain
// loop: the sanitizer's memcmp would check both ranges' shadow first.
bool PrefixOverZeros(const std::uint8_t* image, const std::uint8_t* file, std::size_t n) {
  std::uint8_t diff = 0;
  for (std::size_t i = 0; i < n; ++i) diff |= static_cast<std::uint8_t>(image[i] ^ file[i]);
  for (std::size_t i = n; i < kObjectsFileSize; ++i) diff |= image[i];
  return diff == 0;
}

// A slot named by a byte: every slot of a table, and one either side.
int SlotOf(std::uint8_t byte) {
  return byte % (kLastObjectSlot + 3) - 1;
}

std::uint8_t At(const std::uint8_t* data, std::size_t size, std::size_t i) {
  return i < size ? data[i] : 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  ObjectsFiles fs(data, size);
  fuzz::RecordingOperator op;
  ObjectRegistry registry(fs, op);
  fs.Watch(registry.Table());
  FUZZ_CHECK(registry.LoadOrInitObjects() == 0);
  // A file of another size is told and kept.
  FUZZ_CHECK(op.messages.size() == (size == kObjectsFileSize ? 0u : 1u));
  FUZZ_CHECK(registry.SaveHeld() == (size != kObjectsFileSize));

  // The table is the file's first bytes over a zeroed table.
  const auto* image = reinterpret_cast<const std::uint8_t*>(registry.Table().data());
  const std::size_t n = size < kObjectsFileSize ? size : kObjectsFileSize;
  FUZZ_CHECK(PrefixOverZeros(image, data, n));

  const int firstFree = registry.FirstFreeSlot();
  FUZZ_CHECK(firstFree >= 1 && firstFree <= kLastObjectSlot + 1);
  const int count = firstFree - 1;
  const int pick = SlotOf(At(data, size, 1));
  const std::uint8_t how = At(data, size, 2);

  switch (At(data, size, 0) % kFamilies) {
    case kList:
      CheckList(registry, fs, op);
      break;
    case kSlot:
      ReadSlot(registry, pick);
      for (int s : {-1, 0, count + 1, kLastObjectSlot + 1}) ReadSlot(registry, s);
      break;
    case kControl:
      // The list again after the counts restarted: only the rows that changed are new.
      ControlMessage(registry);
      CheckList(registry, fs, op);
      break;
    case kRegister:
      RegisterUnchanged(registry, pick);
      break;
    case kNew:
      NewObject(registry, op);
      CheckList(registry, fs, op);
      break;
    case kRemove: {
      // The run's last or first object, the one named, or the first free
      // slot; with the card's button or the list's command. The list before
      // and after: rows that moved are new, and the rows kept from the first
      // list are checked through the second.
      const int slots[] = {count, 1, pick, firstFree};
      const int saves = fs.Saves();
      FUZZ_CHECK(registry.RefreshObjectList() == 0 && fs.Saves() == saves + (registry.SaveHeld() ? 0 : 1));
      Remove(registry, slots[how % 4], (how & 4) != 0);
      CheckList(registry, fs, op);
      break;
    }
    default:
      RemoveNothing(registry);
      break;
  }
  FUZZ_CHECK(!op.badLine);
  return 0;
}
