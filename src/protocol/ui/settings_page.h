#pragma once

#include <QString>

#include <functional>
#include <optional>

#include "widgets/property_sheet.h"

class QFileDialog;

namespace pelvaron::ui {

// The program settings page (dialog 131). Its members are exchanged with the
// controls by updateData; the shell fills them before the sheet runs and
// stores them after OK.
class Settings : public PropertyPage {
  Q_OBJECT
 public:
  // The path's limit is the settings' own (kMaxProtocolPathChars); the
  // attempts take two digits, as the count goes up to 99.
  static constexpr int kMaxAttemptsChars = 2;

  explicit Settings(QWidget* parent = nullptr, std::optional<BaseUnits> units = std::nullopt);

  int m_bSaveProtocol = 0;    // check box 1007, checked = 1
  int m_nComPort = -1;        // combo box 1006: row of "COM1".."COM6", -1 for none
  QString m_strProtocolPath;  // edit 1011, at most 100 characters
  QString m_strAttempts;      // edit 1020, at most 2 characters

  // Reading back refuses (with a notice, leaving the page open) a path longer
  // than 100 characters, as "..." can bring one, or one with a character that
  // Windows-1251 cannot hold.
  bool updateData(bool saveAndValidate) override;

  // Button 1008 "...": a file dialog for the protocol file; a chosen file's
  // full path goes into the edit, the other controls keep what they show.
  void OnBrowseProtocolFile();

  // The file dialog's set-up: text files or all files, default suffix txt,
  // and a new file name may be typed; its list speaks Russian.
  static void PrepareProtocolFileDialog(QFileDialog& dialog);
  // Chooses the file instead of the dialog (for tests); returns nothing when
  // the choice was cancelled.
  using FileChooser = std::function<std::optional<QString>(QWidget* parent)>;
  void setFileChooser(FileChooser chooser) { chooser_ = std::move(chooser); }

 private:
  void readControls();
  FileChooser chooser_;
};

}  // namespace pelvaron::ui
