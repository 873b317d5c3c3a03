// The objects file: any content, as a foreign or damaged file may hold it,
// loaded at start-up and then read the ways the console reads the table: the
// list, the card, the state window, the loop-state control message, deletions.
//
// The console saves the whole 33936-byte table at every list refresh, removal
// and registration, a dozen times an execution. The file system here checks
// each save as it comes instead of keeping a copy to compare later, and the
// input is read where it lies: copies of the table were most of the time an
// execution took.

#include <cstring>
#include <span>
#include <string>
#include <vector>

#include "app/apply_message.h"
#include "decode/decoded_message.h"
#include "fuzz_support.h"
#include "objects/object_card.h"
#include "objects/object_commands.h"
#include "objects/object_registry.h"
#include "protocol/event_protocol.h"
#include "protocol/settings.h"

using namespace pelvaron;

namespace {

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
  bool Exists(const std::string& path) override { return path == kObjectsFileName || MemoryFiles::Exists(path); }
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

std::vector<ObjectRecord> Run(const ObjectRegistry& registry) {
  const ObjectTable& t = registry.Table();
  return {t.begin() + 1, t.begin() + 1 + registry.ObjectCount()};
}

// Stored text shown in UTF-8 converts back to the very same bytes.
template <std::size_t N>
void CheckShown(const std::string& shown, const char (&field)[N]) {
  const std::optional<std::string> back = Utf8ToCp1251(shown);
  FUZZ_CHECK(back && *back == ReadFixedText(field));
}

void CheckList(ObjectRegistry& registry, ObjectsFiles& fs, fuzz::RecordingOperator& op) {
  const int refreshes = op.refreshes;
  const int saves = fs.Saves();
  FUZZ_CHECK(registry.RefreshObjectList() == 0);
  FUZZ_CHECK(op.refreshes == refreshes + 1);
  FUZZ_CHECK(op.lastRows.size() == static_cast<std::size_t>(registry.ObjectCount()));
  for (std::size_t i = 0; i < op.lastRows.size(); ++i) {
    const ObjectRecord& r = registry.Table()[i + 1];
    FUZZ_CHECK(op.lastRows[i].address.size() >= 1 && op.lastRows[i].address[0] == ' ');
    CheckShown(op.lastRows[i].address.substr(1), r.szAddress);
    CheckShown(op.lastRows[i].comment, r.szComment);
  }
  FUZZ_CHECK(fs.Saves() == saves + 1);
}

// The duplicate search runs over the whole run, so it is checked on at most
// this many slots, spread over the run; the others still open their card.
constexpr int kDuplicateChecks = 16;

// Every slot, or after removals (whose records were compared byte for byte
// with the ones read before) only the sample of slots the duplicate search
// takes: what is new there is the slot numbers, not the records.
void ReadEverySlot(ObjectRegistry& registry, bool everySlot) {
  const ObjectTable& table = registry.Table();
  const int count = registry.ObjectCount();
  const int step = count <= kDuplicateChecks ? 1 : (count + kDuplicateChecks - 1) / kDuplicateChecks;
  for (int s = 1; s <= count; ++s) {
    const bool sampled = (s - 1) % step == 0 || s == count;
    if (!everySlot && !sampled) continue;
    const ObjectRecord& r = table[s];
    ObjectCard card;
    FUZZ_CHECK(BeginEditObject(registry, card, s));
    FUZZ_CHECK(card.m_nSlot == s);
    CheckShown(card.m_strAddress, r.szAddress);
    CheckShown(card.m_strComment, r.szComment);
    CheckShown(card.m_strLoop1Type, r.szLoop1Type);
    CheckShown(card.m_strLoop2Type, r.szLoop2Type);
    if (sampled) {
      // Its own address is a duplicate only when another object has it too;
      // a new object's is always one.
      const std::string address = ReadFixedText(r.szAddress);
      bool shared = false;
      for (int other = 1; other <= count && !shared; ++other) {
        shared = other != s && std::strncmp(table[other].szAddress, r.szAddress, sizeof r.szAddress) == 0;
      }
      FUZZ_CHECK(card.FindDuplicateAddress(table, address) == (shared ? 1 : 0));
      ObjectCard fresh;
      fresh.m_nSlot = -1;
      FUZZ_CHECK(fresh.FindDuplicateAddress(table, address) == 1);
    }
    const std::string info = ObjectStateInfo(registry, s);
    FUZZ_CHECK(!info.empty() && fuzz::StorableText(info));
    FUZZ_CHECK(!DeleteObjectQuestion(registry, s).text.empty());
  }
  for (int s : {-1, 0, count + 1, kLastObjectSlot + 1}) {
    ObjectCard card;
    FUZZ_CHECK(ObjectStateInfo(registry, s).empty());
    FUZZ_CHECK(DeleteObjectQuestion(registry, s).text.empty());
    FUZZ_CHECK(!BeginEditObject(registry, card, s));
  }
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
  const std::string first = ReadFixedText(registry.Table()[1].szAddress);
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

  // The event lines are fuzz_frame's business: no protocol file here.
  fuzz::FixedClock clock;
  fuzz::MemoryFiles protocolFiles;
  fuzz::RecordingOperator op;
  ConsoleSettings settings = ConsoleSettings::Defaults();
  settings.bSaveProtocol = 0;
  EventProtocol protocol(settings, clock, protocolFiles, op);
  const std::vector<ObjectRecord> before = Run(registry);
  FUZZ_CHECK(ApplyDecodedMessage(message, protocol, op, registry) == 0);
  for (std::size_t i = 0; i < before.size(); ++i) {
    const bool same = ReadFixedText(before[i].szAddress) == message.address.view();
    const int slot = static_cast<int>(i) + 1;
    FUZZ_CHECK(registry.Table()[slot].nTimeCounter == (same ? 0 : before[i].nTimeCounter));
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
  FUZZ_CHECK(ReadFixedText(after.szAddress) == ReadFixedText(before.szAddress));
  FUZZ_CHECK(ReadFixedText(after.szComment) == ReadFixedText(before.szComment));
  FUZZ_CHECK(ReadFixedText(after.szLoop1Type) == ReadFixedText(before.szLoop1Type));
  FUZZ_CHECK(ReadFixedText(after.szLoop2Type) == ReadFixedText(before.szLoop2Type));
  FUZZ_CHECK(after.nPeriod == before.nPeriod && after.bUsed == 1);
}

// Removing a slot of the run leaves the run without that object. The first
// free slot takes the record behind it (the blank one past slot 100); any
// other slot changes nothing. The card's delete button takes the same path.
void Remove(ObjectRegistry& registry, int slot, bool viaCard) {
  const int firstFree = registry.FirstFreeSlot();
  const bool inRun = registry.IsObjectSlot(slot);
  const std::vector<ObjectRecord> before = Run(registry);
  // Only a slot outside the run needs the whole table to compare with.
  static ObjectTable tableBefore;
  if (!inRun) tableBefore = registry.Table();
  if (viaCard) {
    ObjectCard card;
    card.m_nSlot = slot;
    FUZZ_CHECK(DeleteObjectFromCard(card, registry) == card.Editing());
  } else {
    registry.RemoveObjectSlot(slot);
  }
  if (!inRun) {
    if (slot == firstFree && slot <= kLastObjectSlot) {
      const ObjectRecord moved = slot < kLastObjectSlot ? tableBefore[static_cast<std::size_t>(slot) + 1]
                                                        : BlankObjectRecord();
      tableBefore[static_cast<std::size_t>(slot)] = moved;
    }
    FUZZ_CHECK(std::memcmp(tableBefore.data(), registry.Table().data(), kObjectsFileSize) == 0);
    return;
  }
  const std::vector<ObjectRecord> after = Run(registry);
  FUZZ_CHECK(after.size() + 1 == before.size());
  for (std::size_t i = 0; i < after.size(); ++i) {
    const std::size_t from = i + 1 < static_cast<std::size_t>(slot) ? i : i + 1;
    FUZZ_CHECK(SameRecord(after[i], before[from]));
  }
}

// Slots no table has change nothing, whichever way they are removed.
void RemoveNothing(ObjectRegistry& registry) {
  static ObjectTable tableBefore;
  tableBefore = registry.Table();
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
  FUZZ_CHECK(std::memcmp(tableBefore.data(), registry.Table().data(), kObjectsFileSize) == 0);
}

void NewObject(ObjectRegistry& registry) {
  ObjectCard card;
  const int count = registry.ObjectCount();
  if (!BeginNewObject(registry, card)) {
    FUZZ_CHECK(count >= kMaxObjects);
    return;
  }
  card.m_strAddress = "4321";
  card.m_strPeriod = "90m";
  card.m_strComment = "Новый";
  if (!RegisterObjectCard(card, registry)) {
    // Objects of a foreign file behind a gap join the run once the gap is filled.
    FUZZ_CHECK(registry.ObjectCount() >= count + 1);
    FUZZ_CHECK(ReadFixedText(registry.Table()[count + 1].szAddress) == "4321");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  ObjectsFiles fs(data, size);
  fuzz::RecordingOperator op;
  ObjectRegistry registry(fs, op);
  fs.Watch(registry.Table());
  FUZZ_CHECK(registry.LoadOrInitObjects() == 0);
  FUZZ_CHECK(op.messages.empty());
  FUZZ_CHECK(!registry.SaveHeld());

  // The table is the file's first bytes over a zeroed table.
  const auto* image = reinterpret_cast<const std::uint8_t*>(registry.Table().data());
  const std::size_t n = size < kObjectsFileSize ? size : kObjectsFileSize;
  FUZZ_CHECK(n == 0 || std::memcmp(image, data, n) == 0);
  for (std::size_t i = n; i < kObjectsFileSize; ++i) FUZZ_CHECK(image[i] == 0);

  const int firstFree = registry.FirstFreeSlot();
  FUZZ_CHECK(firstFree >= 1 && firstFree <= kLastObjectSlot + 1);

  // The first byte (slot 0, which the console never reads) picks the half of
  // the checks: the ways the table is read, or the ways it is changed.
  const std::uint8_t selector = size > 0 ? data[0] : 0;
  if ((selector & 1u) == 0) {
    CheckList(registry, fs, op);
    ReadEverySlot(registry, true);
    FUZZ_CHECK(!op.badLine);
    return 0;
  }
  ControlMessage(registry);
  {
    // A foreign file may already hold more objects than the console allows.
    ObjectCard card;
    if (!BeginNewObject(registry, card)) {
      FUZZ_CHECK(registry.ObjectCount() >= kMaxObjects);
      FUZZ_CHECK(!op.messages.empty() && op.messages.back() == CapacityMessage());
    }
  }
  const int count = registry.ObjectCount();
  const int pick = 1 + (selector >> 1) % (kLastObjectSlot + 1);
  RegisterUnchanged(registry, 1);
  RegisterUnchanged(registry, pick);
  bool viaCard = false;
  for (int slot : {count, 1, pick, registry.FirstFreeSlot()}) {
    Remove(registry, slot, viaCard);
    viaCard = !viaCard;
  }
  RemoveNothing(registry);
  CheckList(registry, fs, op);
  ReadEverySlot(registry, false);
  NewObject(registry);
  CheckList(registry, fs, op);
  FUZZ_CHECK(!op.badLine);
  return 0;
}
