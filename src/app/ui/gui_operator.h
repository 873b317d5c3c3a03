#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/alarm_sound.h"
#include "core/operator.h"
#include "core/sound_player.h"

namespace pelvaron::ui {

class WindowShell;

// The console's operator in a window: everything the console reports is
// handed to the window's thread; nothing here waits for the window. The
// audible alarm is played here, on the console's thread, and what becomes
// of it is told in the alarm queue's window, never in a box.
class GuiOperator : public Operator {
 public:
  // player: the audible alarm; none plays nothing (a window in a test).
  GuiOperator(WindowShell* shell, std::unique_ptr<SoundPlayer> player);

  void ShowMessage(const OperatorMessage& message) override;
  void LogLineAdded(const std::string& line) override;
  void LogFirstLineRemoved() override;
  void LogCleared() override;
  void ObjectListRefreshed(const std::vector<ObjectListRow>& rows) override;
  void Redisplay(const StatusView& status) override;
  void ExchangeProgress(bool shown, const std::string& text1016, const std::string& text1017) override;
  void SoundAlarm(bool playFile, bool beep, bool newAlarm) override;

 private:
  template <class F>
  void Post(F f);
  void SoundTold(const std::string& problem);

  WindowShell* shell_;
  std::unique_ptr<SoundPlayer> player_;
  std::optional<AlarmSound> sound_;
};

}  // namespace pelvaron::ui
