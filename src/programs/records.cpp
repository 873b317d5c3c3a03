#include "programs/records.h"

namespace pelvaron {

namespace {

EventRecords::Settings SettingsFor(const Options& options, bool window) {
  EventRecords::Settings settings;
  settings.sound = window || options.alarmSound || options.alarmBeep;
  return settings;
}

}  // namespace

ProgramRecords::ProgramRecords(const Options& options, bool window)
    : records(files, clock, SettingsFor(options, window)) {}

}  // namespace pelvaron
