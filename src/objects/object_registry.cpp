// Placeholder until the object registry lands.
#include "objects/object_registry.h"

namespace pelvaron {
std::string FormatPeriod(int) { return {}; }
std::string FormatMinutes(int) { return {}; }
ObjectRegistry::ObjectRegistry(FileSystem& fs, Operator& op) : fs_(fs), op_(op) {}
int ObjectRegistry::FirstFreeSlot() const { return 1; }
void ObjectRegistry::ResetObjectCounter(int) {}
void ObjectRegistry::RemoveObjectSlot(int) {}
int ObjectRegistry::InitObjects() { return 0; }
int ObjectRegistry::SaveObject() { return 0; }
int ObjectRegistry::LoadObject() { return 0; }
int ObjectRegistry::LoadOrInitObjects() { return 0; }
int ObjectRegistry::RefreshObjectList() { return 0; }
}  // namespace pelvaron
