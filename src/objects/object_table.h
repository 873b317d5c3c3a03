#pragma once

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "core/file_system.h"
#include "core/operator.h"

namespace pelvaron {

static_assert(std::endian::native == std::endian::little, "stored images are little-endian");

inline constexpr char kObjectsFileName[] = "objects.stt";
inline constexpr int kObjectSlots = 101;  // slot 0 is never used
inline constexpr int kLastObjectSlot = 100;
inline constexpr int kMaxObjects = 98;

enum ObjectState : std::int16_t {
  OBJSTATE_NORMAL = 0,
  OBJSTATE_CASE_OPENED = 1,
  OBJSTATE_EMERGENCY = 2,
  OBJSTATE_NO_CONTROL = 3,
  OBJSTATE_LOOP_ALARM = 4,
};

inline constexpr std::uint8_t OVERDUE_LOGGED = 0x01;

// One supervised object, byte for byte as in the objects file. Text fields are
// Windows-1251 and run to their zero or to the field's end.
struct ObjectRecord {
  char szAddress[8];
  std::int32_t bUsed;
  char szComment[100];
  std::int32_t bControl;
  std::int32_t nPeriod;  // minutes
  std::int32_t bRegistered;
  std::int32_t bAlarm;
  std::int16_t nState;
  std::uint8_t byFlags;       // OVERDUE_LOGGED
  std::uint8_t byLoopAlarm;   // bit 0 ШС1, bit 1 ШС2
  std::int32_t nTimeCounter;  // minutes
  char szLoop1Type[100];
  char szLoop2Type[100];
};

// The file's layout: every field at its offset and with its width.
static_assert(sizeof(ObjectRecord) == 336);
static_assert(offsetof(ObjectRecord, szAddress) == 0);
static_assert(offsetof(ObjectRecord, bUsed) == 8);
static_assert(offsetof(ObjectRecord, szComment) == 12);
static_assert(offsetof(ObjectRecord, bControl) == 112);
static_assert(offsetof(ObjectRecord, nPeriod) == 116);
static_assert(offsetof(ObjectRecord, bRegistered) == 120);
static_assert(offsetof(ObjectRecord, bAlarm) == 124);
static_assert(offsetof(ObjectRecord, nState) == 128);
static_assert(offsetof(ObjectRecord, byFlags) == 130);
static_assert(offsetof(ObjectRecord, byLoopAlarm) == 131);
static_assert(offsetof(ObjectRecord, nTimeCounter) == 132);
static_assert(offsetof(ObjectRecord, szLoop1Type) == 136);
static_assert(offsetof(ObjectRecord, szLoop2Type) == 236);
static_assert(sizeof(ObjectRecord::szAddress) == 8 && sizeof(ObjectRecord::szComment) == 100 &&
              sizeof(ObjectRecord::szLoop1Type) == 100 && sizeof(ObjectRecord::szLoop2Type) == 100);
static_assert(sizeof(ObjectRecord::nState) == 2 && sizeof(ObjectRecord::byFlags) == 1 &&
              sizeof(ObjectRecord::byLoopAlarm) == 1);

using ObjectTable = std::array<ObjectRecord, kObjectSlots>;
inline constexpr std::size_t kObjectsFileSize = sizeof(ObjectTable);
static_assert(kObjectsFileSize == 33936);

}  // namespace pelvaron
