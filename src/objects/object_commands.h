#pragma once

#include <string>

#include "core/operator.h"
#include "objects/object_card.h"
#include "objects/object_registry.h"

namespace pelvaron {

// The operator's object commands of the list's context menu. The window asks
// its question first (the texts below, Yes and No) and runs a command only on
// Yes. `slot` is the selected row + 1; 0 (no selection) or any slot that holds
// no object does nothing and returns false. Every command that runs ends with
// RefreshObjectList, which shows the list and saves the file.

// "Инициализировать новый объект": shows the capacity message and returns
// false when 98 objects are registered; otherwise sets the card up for a new
// object (m_nSlot = -1, bNewObjectAdded = 0) and returns true: open the card.
bool BeginNewObject(ObjectRegistry& registry, ObjectCard& card);
// After the card closed: when it registered an object, refresh and save once more.
void EndNewObject(ObjectRegistry& registry, const ObjectCard& card);

// "Редактировать параметры данного объекта": sets the card up for the slot
// and returns true: open the card.
bool BeginEditObject(ObjectRegistry& registry, ObjectCard& card, int slot);
// After the card closed: refresh unless it was cancelled.
void EndEditObject(ObjectRegistry& registry, CardResult result);

// "Очистить информацию обо всех объектах", after ClearAllObjectsQuestion.
void ClearAllObjects(ObjectRegistry& registry);
// "Счётчики времени всех объектов" / "Сбросить".
void ResetAllCounters(ObjectRegistry& registry);
// "Режим контроля всех объектов" / "Включить" or "Выключить".
void SetControlAll(ObjectRegistry& registry, bool on);
// "Режим контроля данного объекта" / "Включить" or "Выключить".
bool SetControl(ObjectRegistry& registry, int slot, bool on);
// "Счетчик времени данного объекта" / "Сбросить".
bool ResetCounter(ObjectRegistry& registry, int slot);
// "Удалить информацию о данном объекте", after DeleteObjectQuestion.
bool DeleteObject(ObjectRegistry& registry, int slot);

// Questions, answered Yes or No (question icon). Empty text for a slot without an object.
OperatorMessage ClearAllObjectsQuestion();
OperatorMessage DeleteObjectQuestion(const ObjectRegistry& registry, int slot);

// The text of the state window shown on a double click; empty for a slot without an object.
std::string ObjectStateInfo(const ObjectRegistry& registry, int slot);

}  // namespace pelvaron
