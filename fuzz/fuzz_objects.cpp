// The objects file: any content, as a foreign or damaged file may hold it,
// loaded at start-up and then read the ways the console reads the table: the
// list, the card, the state window, the loop-state control message, deletions.

#include <cstring>
#include <string>
#include <vector>

#include "decode/loop_state.h"
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

void CheckList(ObjectRegistry& registry, fuzz::MemoryFiles& fs, fuzz::RecordingOperator& op) {
  const int refreshes = op.refreshes;
  FUZZ_CHECK(registry.RefreshObjectList() == 0);
  FUZZ_CHECK(op.refreshes == refreshes + 1);
  FUZZ_CHECK(op.lastRows.size() == static_cast<std::size_t>(registry.ObjectCount()));
  for (std::size_t i = 0; i < op.lastRows.size(); ++i) {
    const ObjectRecord& r = registry.Table()[i + 1];
    FUZZ_CHECK(op.lastRows[i].address.size() >= 1 && op.lastRows[i].address[0] == ' ');
    CheckShown(op.lastRows[i].address.substr(1), r.szAddress);
    CheckShown(op.lastRows[i].comment, r.szComment);
  }
  // Saved whole: the table's image and nothing else.
  const std::vector<std::uint8_t>& saved = fs.files[kObjectsFileName];
  FUZZ_CHECK(saved.size() == kObjectsFileSize);
  FUZZ_CHECK(std::memcmp(saved.data(), registry.Table().data(), kObjectsFileSize) == 0);
}

void ReadEverySlot(ObjectRegistry& registry) {
  const ObjectTable& table = registry.Table();
  for (int s = 1; s <= registry.ObjectCount(); ++s) {
    const ObjectRecord& r = table[s];
    ObjectCard card;
    FUZZ_CHECK(BeginEditObject(registry, card, s));
    FUZZ_CHECK(card.m_nSlot == s);
    CheckShown(card.m_strAddress, r.szAddress);
    CheckShown(card.m_strComment, r.szComment);
    CheckShown(card.m_strLoop1Type, r.szLoop1Type);
    CheckShown(card.m_strLoop2Type, r.szLoop2Type);
    // Its own address is no duplicate of itself; a new object's is one.
    const std::string address = ReadFixedText(r.szAddress);
    const int duplicate = card.FindDuplicateAddress(table, address);
    FUZZ_CHECK(duplicate == 0 || duplicate == 1);
    ObjectCard fresh;
    fresh.m_nSlot = -1;
    FUZZ_CHECK(fresh.FindDuplicateAddress(table, address) == 1);
    const std::string info = ObjectStateInfo(registry, s);
    FUZZ_CHECK(!info.empty() && fuzz::StorableText(info));
    FUZZ_CHECK(!DeleteObjectQuestion(registry, s).text.empty());
  }
  for (int s : {-1, 0, registry.ObjectCount() + 1, kLastObjectSlot + 1}) {
    ObjectCard card;
    FUZZ_CHECK(ObjectStateInfo(registry, s).empty());
    FUZZ_CHECK(DeleteObjectQuestion(registry, s).text.empty());
    FUZZ_CHECK(!BeginEditObject(registry, card, s));
  }
}

// A guard's control message for the first object's address resets its counter.
void ControlMessage(ObjectRegistry& registry, fuzz::RecordingOperator& op) {
  if (registry.ObjectCount() == 0) return;
  fuzz::FixedClock clock;
  fuzz::MemoryFiles protocolFiles;
  const ConsoleSettings settings = ConsoleSettings::Defaults();
  EventProtocol protocol(settings, clock, protocolFiles, op);
  const std::string address = Cp1251ToUtf8(ReadFixedText(registry.Table()[1].szAddress));
  FUZZ_CHECK(DecodeLoopState(0x20, 0, 0, address, protocol, registry) == 0);
  FUZZ_CHECK(registry.Table()[1].nTimeCounter == 0);
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
  const std::vector<ObjectRecord> before = Run(registry);
  const ObjectTable tableBefore = registry.Table();
  const int firstFree = registry.FirstFreeSlot();
  const bool inRun = registry.IsObjectSlot(slot);
  if (viaCard) {
    ObjectCard card;
    card.m_nSlot = slot;
    FUZZ_CHECK(DeleteObjectFromCard(card, registry) == card.Editing());
  } else {
    registry.RemoveObjectSlot(slot);
  }
  if (!inRun) {
    ObjectTable expected = tableBefore;
    if (slot == firstFree && slot <= kLastObjectSlot) {
      expected[slot] = slot < kLastObjectSlot ? tableBefore[slot + 1] : BlankObjectRecord();
    }
    FUZZ_CHECK(std::memcmp(expected.data(), registry.Table().data(), kObjectsFileSize) == 0);
    return;
  }
  const std::vector<ObjectRecord> after = Run(registry);
  FUZZ_CHECK(after.size() + 1 == before.size());
  for (std::size_t i = 0; i < after.size(); ++i) {
    const std::size_t from = i + 1 < static_cast<std::size_t>(slot) ? i : i + 1;
    FUZZ_CHECK(SameRecord(after[i], before[from]));
  }
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
  fuzz::MemoryFiles fs;
  fuzz::RecordingOperator op;
  fs.files[kObjectsFileName].assign(data, data + size);
  ObjectRegistry registry(fs, op);
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

  CheckList(registry, fs, op);
  ReadEverySlot(registry);
  ControlMessage(registry, op);

  {
    // A foreign file may already hold more objects than the console allows.
    ObjectCard card;
    if (!BeginNewObject(registry, card)) {
      FUZZ_CHECK(registry.ObjectCount() >= kMaxObjects);
      FUZZ_CHECK(!op.messages.empty() && op.messages.back() == CapacityMessage());
    }
  }
  const int count = registry.ObjectCount();
  const int pick = size > 0 ? 1 + data[0] % (kLastObjectSlot + 1) : 1;
  RegisterUnchanged(registry, 1);
  RegisterUnchanged(registry, pick);
  bool viaCard = false;
  for (int slot : {count, 1, pick, registry.FirstFreeSlot(), 0, kLastObjectSlot + 1, -1}) {
    Remove(registry, slot, viaCard);
    viaCard = !viaCard;
  }
  CheckList(registry, fs, op);
  ReadEverySlot(registry);
  NewObject(registry);
  CheckList(registry, fs, op);
  FUZZ_CHECK(!op.badLine);
  return 0;
}
