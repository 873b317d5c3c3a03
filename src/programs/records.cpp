#include "programs/records.h"

#include "programs/outputs_wiring.h"

namespace pelvaron {

namespace {

EventRecords::Settings SettingsFor(const Options& options, bool window) {
  EventRecords::Settings settings;
  settings.sound = window || options.alarmSound || options.alarmBeep;
  settings.station = StationName(options);
  return settings;
}

}  // namespace

ProgramRecords::ProgramRecords(const Options& options, bool window)
    : records(files, clock, SettingsFor(options, window)) {}

}  // namespace pelvaron
