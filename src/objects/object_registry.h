#pragma once

#include <array>
#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "core/file_system.h"
#include "core/operator.h"
#include "objects/object_table.h"

namespace pelvaron {

// "2h" for whole hours (at least 60 minutes), else "90m".
std::string FormatPeriod(int minutes);
// "59m", "1h0m", "25h30m".
std::string FormatMinutes(int minutes);
// The same into out, replacing what it held (a list row keeps its storage).
void WritePeriod(std::string& out, int minutes);
void WriteMinutes(std::string& out, int minutes);

// The text of a state code as the list and the card show it; empty for a code
// the console does not know (a foreign file may hold any number).
std::string ObjectStateText(int nState);

// What the operator (or a guard's control message) did to the objects, for
// the console's event outputs. The address is the object's, in UTF-8; empty
// for commands on all objects.
enum class ObjectChangeKind {
  Registered,
  Edited,
  Deleted,
  ClearedAll,
  ControlOn,
  ControlOff,
  ControlAllOn,
  ControlAllOff,
  CounterReset,
  AllCountersReset,
  BackInControl,  // an overdue object's count restarted, by a control message or a reset
};

struct ObjectChange {
  ObjectChangeKind kind;
  std::string address;
};

// The process-wide object table and its file. Every change ends with
// RefreshObjectList, which shows the rows and saves the file.
//
// Walking the objects: for (int s = 1; s <= registry.ObjectCount(); ++s) ...
// The used slots form one run from slot 1; nothing behind it is looked at.
class ObjectRegistry {
 public:
  ObjectRegistry(FileSystem& fs, Operator& op);

  ObjectTable& Table() { return table_; }
  const ObjectTable& Table() const { return table_; }
  Operator& Op() { return op_; }

  // First slot (from 1) whose bUsed is 0; 101 when a foreign file filled all 100.
  int FirstFreeSlot() const;
  // Objects in the run of used slots from slot 1 (FirstFreeSlot() - 1, at most 100).
  int ObjectCount() const { return FirstFreeSlot() - 1; }
  // True for a slot inside the run of used slots.
  bool IsObjectSlot(int slot) const { return slot >= 1 && slot <= ObjectCount(); }

  // Clears the overdue alarm and restarts the count. Slots outside 1..100 are ignored.
  // An object that was overdue is reported back in control.
  void ResetObjectCounter(int slot);
  // Moves the later objects one slot down; slot 100 becomes a blank free record
  // when the run reached it. A slot behind the run changes nothing.
  void RemoveObjectSlot(int slot);
  // Blanks slots 1..100 and saves. Returns 0.
  int InitObjects();
  // Replaces the objects file with the table's image. Returns 0, or 1 after
  // telling the operator the system's error code.
  int SaveObject();
  // Reads at most the table's size from the file into the table. Returns 0, or
  // 1 after telling the operator; the table then keeps what it held. A file
  // of another size is read as far as it goes and told; it is kept as an
  // unreadable one is (below).
  int LoadObject();
  // Start-up: loads the file, or blanks and saves a new one when it is missing. Returns 0.
  int LoadOrInitObjects();
  // Shows the rows of the used slots and saves the file. Returns 0.
  int RefreshObjectList();

  // An objects file that exists but could not be read (or not whole) is not
  // overwritten by the table: refreshes show the list without saving until the
  // operator changes something. The object commands call this first: the
  // unreadable file is then kept beside (objects.stt.unreadable, or .1 ...
  // when that exists) and the operator is told; if it cannot be moved, the
  // table is still not saved over it.
  void OperatorChangedObjects();
  bool SaveHeld() const { return saveHeld_; }

  // Who else is shown the rows after every refresh (the console's outputs);
  // nobody by default.
  void SetRowsListener(std::function<void(const std::vector<ObjectListRow>&)> listener) {
    rowsListener_ = std::move(listener);
  }
  // Who hears of changes (the console's events); nobody by default.
  void SetChangeListener(std::function<void(const ObjectChange&)> listener) { listener_ = std::move(listener); }
  // The commands report what they did; slot names the object (0: all of them).
  void NoteChange(ObjectChangeKind kind, int slot = 0);
  void NoteChange(ObjectChangeKind kind, std::string address);
  // The address and the comment of a slot's object in UTF-8, as shown
  // (AppendShownText).
  std::string AddressOf(int slot) const;
  std::string CommentOf(int slot) const;

 private:
  FileSystem& fs_;
  Operator& op_;
  ObjectTable table_{};
  bool saveHeld_ = false;
  std::string heldBecause_;  // what was wrong with the file, for the message when it is moved aside
  // A row shows nothing behind nTimeCounter: the loop types do not count.
  static constexpr std::size_t kRowBytes = offsetof(ObjectRecord, szLoop1Type);
  struct ShownRow {
    unsigned char bytes[kRowBytes];
  };
  // The rows last shown and the record bytes each was made from (the first
  // rowsValid_ of them); kept beside the table, so a refresh allocates no
  // copy of it.
  std::vector<ObjectListRow> rows_;
  std::array<ShownRow, kLastObjectSlot> shown_;
  std::size_t rowsValid_ = 0;
  std::function<void(const ObjectChange&)> listener_;
  std::function<void(const std::vector<ObjectListRow>&)> rowsListener_;
};

// A stored text field as UTF-8 for showing, appended to out: a control
// character (a file another program wrote may hold any byte) shows as its
// mark, so that it never makes a line of its own. The bytes stay as they are.
void AppendShownText(std::string& out, std::string_view cp1251);

// The refusal of a new object when the table is full ("Ограничение").
OperatorMessage CapacityMessage();

// The free record of InitObjects: "    ", " ", "Не определён" twice, zeros.
ObjectRecord BlankObjectRecord();

}  // namespace pelvaron
