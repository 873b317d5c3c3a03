#pragma once

#include <string>

#include "core/file_system.h"
#include "core/operator.h"
#include "objects/object_table.h"

namespace pelvaron {

// "2h" for whole hours (at least 60 minutes), else "90m".
std::string FormatPeriod(int minutes);
// "59m", "1h0m", "25h30m".
std::string FormatMinutes(int minutes);

// The process-wide object table and its file. Every change ends with
// RefreshObjectList, which shows the rows and saves the file.
class ObjectRegistry {
 public:
  ObjectRegistry(FileSystem& fs, Operator& op);

  ObjectTable& Table() { return table_; }
  const ObjectTable& Table() const { return table_; }

  int FirstFreeSlot() const;
  void ResetObjectCounter(int slot);
  void RemoveObjectSlot(int slot);
  int InitObjects();
  int SaveObject();
  int LoadObject();
  int LoadOrInitObjects();
  int RefreshObjectList();

 private:
  FileSystem& fs_;
  Operator& op_;
  ObjectTable table_{};
};

}  // namespace pelvaron
