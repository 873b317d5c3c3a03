#include "widgets/template_dialog.h"

#include <stdexcept>

#include "widgets/focus_frame.h"
#include "widgets/qt_texts.h"

namespace pelvaron::ui {

namespace {

const res::DialogTemplate& Template(int id) {
  const res::DialogTemplate* dialog = res::FindDialog(id);
  if (dialog == nullptr) throw std::logic_error("no dialog template " + std::to_string(id));
  return *dialog;
}

DialogBuilder MakeBuilder(int id, std::optional<BaseUnits> units) {
  return units ? DialogBuilder(Template(id), *units) : DialogBuilder(Template(id));
}

}  // namespace

Qt::WindowFlags WindowFlagsFor(const res::DialogTemplate& dialog) {
  using namespace res::ds;
  if (dialog.style & kChild) return Qt::Widget;
  Qt::WindowFlags flags = (dialog.style & kAppWindow) ? Qt::Window : Qt::Dialog;
  if (!(dialog.style & kCaption)) return flags | Qt::FramelessWindowHint;
  flags |= Qt::CustomizeWindowHint | Qt::WindowTitleHint;
  if (dialog.style & kSysMenu) flags |= Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
  if (dialog.style & kMinimizeBox) flags |= Qt::WindowMinimizeButtonHint;
  if (dialog.style & kMaximizeBox) flags |= Qt::WindowMaximizeButtonHint;
  if (!(dialog.style & kThickFrame)) flags |= Qt::MSWindowsFixedSizeDialogHint;
  return flags;
}

TemplateDialog::TemplateDialog(int templateId, QWidget* parent, std::optional<BaseUnits> units)
    : QDialog(parent), builder_(MakeBuilder(templateId, units)) {
  const res::DialogTemplate& dialog = builder_.dialogTemplate();
  setWindowFlags(WindowFlagsFor(dialog));
  setWindowTitle(Utf8(dialog.caption));
  setFont(builder_.font());
  FocusFrame::Install(this);
}

void TemplateDialog::buildControls(QWidget* client) {
  builder_.build(client != nullptr ? client : this);
  if (client == nullptr || client == this) setFixedSize(builder_.clientSize());
}

}  // namespace pelvaron::ui
