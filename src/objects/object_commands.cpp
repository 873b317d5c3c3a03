#include "objects/object_commands.h"

#include "core/cp1251.h"
#include "core/fixed_text.h"

namespace pelvaron {
namespace {

constexpr char kDeleteCaption[] = "Подтверждение удаления";

// A command changes the table: it may save again over a file that could not be read.
void Commit(ObjectRegistry& registry) {
  registry.OperatorChangedObjects();
  registry.RefreshObjectList();
}


}  // namespace

bool BeginNewObject(ObjectRegistry& registry, ObjectCard& card) {
  if (registry.FirstFreeSlot() > kMaxObjects) {
    registry.Op().ShowMessage(CapacityMessage());
    return false;
  }
  card.m_nSlot = -1;
  card.bNewObjectAdded = 0;
  OpenObjectCard(card, registry.Table());
  return true;
}

void EndNewObject(ObjectRegistry& registry, const ObjectCard& card) {
  if (card.bNewObjectAdded != 1) return;
  Commit(registry);
  registry.SaveObject();
}

bool BeginEditObject(ObjectRegistry& registry, ObjectCard& card, int slot) {
  if (!registry.IsObjectSlot(slot)) return false;
  card.m_nSlot = slot;
  OpenObjectCard(card, registry.Table());
  return true;
}

void EndEditObject(ObjectRegistry& registry, CardResult result) {
  if (result == CardResult::Cancel) return;
  Commit(registry);
}

void ClearAllObjects(ObjectRegistry& registry) {
  registry.OperatorChangedObjects();
  registry.InitObjects();
  registry.RefreshObjectList();
  registry.NoteChange(ObjectChangeKind::ClearedAll);
}

void ResetAllCounters(ObjectRegistry& registry) {
  // Counted once: the loop changes no slot's use.
  for (int s = 1, count = registry.ObjectCount(); s <= count; ++s) registry.ResetObjectCounter(s);
  Commit(registry);
  registry.NoteChange(ObjectChangeKind::AllCountersReset);
}

void SetControlAll(ObjectRegistry& registry, bool on) {
  for (int s = 1, count = registry.ObjectCount(); s <= count; ++s) registry.Table()[s].bControl = on ? 1 : 0;
  Commit(registry);
  registry.NoteChange(on ? ObjectChangeKind::ControlAllOn : ObjectChangeKind::ControlAllOff);
}

bool SetControl(ObjectRegistry& registry, int slot, bool on) {
  if (!registry.IsObjectSlot(slot)) return false;
  registry.Table()[slot].bControl = on ? 1 : 0;
  Commit(registry);
  registry.NoteChange(on ? ObjectChangeKind::ControlOn : ObjectChangeKind::ControlOff, slot);
  return true;
}

bool ResetCounter(ObjectRegistry& registry, int slot) {
  if (!registry.IsObjectSlot(slot)) return false;
  registry.ResetObjectCounter(slot);
  Commit(registry);
  registry.NoteChange(ObjectChangeKind::CounterReset, slot);
  return true;
}

bool DeleteObject(ObjectRegistry& registry, int slot) {
  if (!registry.IsObjectSlot(slot)) return false;
  std::string address = registry.AddressOf(slot);
  registry.RemoveObjectSlot(slot);
  Commit(registry);
  registry.NoteChange(ObjectChangeKind::Deleted, std::move(address));
  return true;
}

OperatorMessage ClearAllObjectsQuestion() {
  return {"Вы уверены, что хотите удалить информацию обо всех объектах ?", kDeleteCaption,
          MessageIcon::Question};
}

OperatorMessage DeleteObjectQuestion(const ObjectRegistry& registry, int slot) {
  if (!registry.IsObjectSlot(slot)) return {};
  return {"Вы уверены, что хотите удалить информацию \n об объекте с адресом '" + registry.AddressOf(slot) +
              "' ?",
          kDeleteCaption, MessageIcon::Question};
}

std::string ObjectStateInfo(const ObjectRegistry& registry, int slot) {
  if (!registry.IsObjectSlot(slot)) return {};
  const ObjectRecord& r = registry.Table()[slot];
  std::string text =
      "  Информация о состоянии объекта с адресом '" + registry.AddressOf(slot) + "':\r\n\r\n  ";
  text += ObjectStateText(r.nState);
  if (r.nState == OBJSTATE_LOOP_ALARM) {
    if (r.byLoopAlarm & 0x01) {
      text += "\r\nТревога по ШС1, Тип ШС1 : ";
      AppendShownText(text, FixedTextView(r.szLoop1Type));
    }
    if (r.byLoopAlarm & 0x02) {
      text += "\r\nТревога по ШС2, Тип ШС2 : ";
      AppendShownText(text, FixedTextView(r.szLoop2Type));
    }
  }
  return text;
}

}  // namespace pelvaron
