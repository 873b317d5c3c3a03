#include "res/resources.h"

#include <algorithm>
#include <utility>

namespace pelvaron::res {

namespace {

using K = ControlKind;
using namespace cs;

constexpr std::string_view kShellDlg = "MS Shell Dlg";
constexpr std::string_view kSansSerif = "MS Sans Serif";

DialogTemplate AboutBox() {
  return {IDD_ABOUTBOX,
          235,
          55,
          kSansSerif,
          8,
          "О программе",
          ds::kModalFrame | ds::kPopup | ds::kCaption | ds::kSysMenu,
          0,
          {
              {IDC_STATIC, K::Icon, "", 11, 17, 20, 20, 0, {}, IDI_PROGRAM},
              {IDC_STATIC, K::Static, "Pelvaron, версия 2.0", 40, 14, 69, 8, 0, {}, 0},
              {IDOK, K::DefPushButton, "OK", 164, 20, 50, 14, kGroup | kTabStop, {}, 0},
          }};
}

DialogTemplate ConsoleWindow() {
  return {
      IDD_CONSOLE,
      452,
      333,
      kShellDlg,
      8,
      "Pelvaron, вер. 2.0",
      ds::kPopup | ds::kCaption | ds::kSysMenu | ds::kThickFrame | ds::kMinimizeBox | ds::kMaximizeBox |
          ds::kVisible | ds::kAppWindow,
      IDR_MAINMENU,
      {
          {IDC_STATIC, K::GroupBox, "Состояние объектов ОРН", 6, 6, 430, 105, 0, {}, 0},
          {IDC_OBJECT_LIST,
           K::ListView,
           "List2",
           18,
           21,
           404,
           79,
           kReport | kSingleSel | kEditLabels | kBorder | kTabStop,
           {},
           0},
          {IDC_STATIC, K::GroupBox, "Протокол событий", 6, 113, 429, 167, 0, {}, 0},
          {IDC_PROTOCOL_LIST,
           K::ListBox,
           "",
           16,
           124,
           408,
           147,
           kNoSelection | kUseTabStops | kVScroll | kDisableNoScroll | kNoIntegralHeight | kBorder | kTabStop,
           {},
           0},
          {IDC_CLEAR_LOG, K::PushButton, "Очистить", 386, 287, 50, 14, kTabStop, {}, 0},
          {IDC_STATIC, K::GroupBox, "Связь с Велдор", 8, 307, 433, 21, 0, {}, 0},
          {IDC_LINK_STATE, K::Static, "Норма", 26, 316, 43, 8, kCenter, {}, 0},
          {IDC_STATIC, K::GroupBox, "Корпус Велдор", 104, 307, 101, 21, 0, {}, 0},
          {IDC_CASE_STATE, K::Static, "Норма", 135, 316, 43, 8, kCenter, {}, 0},
          {IDC_STATIC, K::GroupBox, "Тлф линия", 204, 307, 82, 21, 0, {}, 0},
          {IDC_LINE_STATE, K::Static, "Норма", 222, 316, 48, 8, kCenter, {}, 0},
          {IDC_STATIC, K::GroupBox, "Дата / Время", 285, 307, 156, 21, 0, {}, 0},
          {IDC_DATE_TIME, K::Static, "Time", 294, 316, 123, 8, kRight, {}, 0},
      }};
}

DialogTemplate ProgramSettingsPage() {
  return {
      IDD_PROGRAM_SETTINGS,
      220,
      125,
      kSansSerif,
      8,
      "Настройки программы",
      ds::kChild | ds::kCaption | ds::kDisabled,
      0,
      {
          {IDC_STATIC, K::GroupBox, "Велдор", 66, 9, 131, 54, 0, {}, 0},
          {IDC_STATIC, K::Static, "COM - порт", 97, 19, 38, 8, 0, {}, 0},
          {IDC_COM_PORT,
           K::DropList,
           "",
           147,
           17,
           40,
           63,
           kVScroll | kTabStop,
           {"COM1", "COM2", "COM3", "COM4", "COM5", "COM6"},
           0},
          {IDC_STATIC, K::Static, "Количество попыток установления связи (01..99)", 79, 36, 75, 24, 0, {}, 0},
          {IDC_ATTEMPTS, K::Edit, "", 167, 42, 14, 12, kAutoHScroll | kTabStop, {}, 0},
          {IDC_STATIC, K::GroupBox, "Протокол", 7, 62, 206, 56, 0, {}, 0},
          {IDC_SAVE_PROTOCOL,
           K::CheckBox,
           "Сохранять файл протокола",
           52,
           74,
           110,
           10,
           kLeftText | kTabStop,
           {},
           0},
          {IDC_STATIC, K::Static, "Файл протокола:", 14, 91, 43, 17, 0, {}, 0},
          {IDC_PROTOCOL_PATH, K::Edit, "", 59, 97, 118, 12, kBorder | kAutoHScroll | kTabStop, {}, 0},
          {IDC_BROWSE, K::PushButton, "...", 184, 97, 15, 12, kTabStop, {}, 0},
      }};
}

DialogTemplate ReceiverSettingsPage() {
  return {
      IDD_RECEIVER_SETTINGS,
      208,
      126,
      kSansSerif,
      8,
      "Настройки Велдор",
      ds::kChild | ds::kCaption | ds::kDisabled,
      0,
      {
          {IDC_CHECK_LINE, K::CheckBox, "Проверять тел. линию", 85, 12, 93, 10, kLeftText | kTabStop, {}, 0},
          {IDC_STATIC, K::Static, "Интервал между проверками телефонной линии", 24, 27, 105, 17, 0, {}, 0},
          {IDC_CHECK_INTERVAL,
           K::DropList,
           "",
           136,
           30,
           43,
           76,
           kVScroll | kTabStop,
           {"1 мин", "5 мин", "10 мин", "30 мин"},
           0},
          {IDC_STATIC, K::Static, "Задержка на снятие трубки ", 56, 48, 64, 17, 0, {}, 0},
          {IDC_PICKUP_RINGS,
           K::DropList,
           "",
           126,
           50,
           53,
           72,
           kVScroll | kTabStop,
           {"1 звонок", "2 звонка", "3 звонка", "4 звонка", "5 звонков"},
           0},
          {IDC_STATIC, K::GroupBox, "Кол-во форматов", 17, 72, 72, 37, 0, {}, 0},
          {IDC_FORMATS_ONE, K::RadioButton, "Один", 23, 82, 33, 10, kGroup | kTabStop, {}, 0},
          {IDC_FORMATS_TWO, K::RadioButton, "Два", 23, 94, 30, 10, 0, {}, 0},
          {IDC_STATIC, K::GroupBox, "Главный формат", 111, 72, 73, 36, 0, {}, 0},
          {IDC_FORMAT_LOMIR, K::RadioButton, "Ломир-Т", 122, 82, 42, 10, kGroup | kTabStop, {}, 0},
          {IDC_FORMAT_CONTACT_ID, K::RadioButton, "Contact-ID", 122, 94, 50, 10, 0, {}, 0},
      }};
}

DialogTemplate ExchangeProgress() {
  return {IDD_EXCHANGE_PROGRESS,
          145,
          61,
          kSansSerif,
          8,
          "",
          ds::kPopup | ds::kBorder,
          0,
          {
              {IDC_PROGRESS_TEXT, K::Static, "", 14, 13, 118, 20, kCenter | kCenterImage, {}, 0},
              {IDC_PROGRESS_ATTEMPT, K::Static, "", 31, 40, 95, 8, 0, {}, 0},
          }};
}

DialogTemplate ObjectCard() {
  return {
      IDD_OBJECT_CARD,
      301,
      194,
      kSansSerif,
      8,
      "Карточка объекта",
      ds::kModalFrame | ds::kPopup | ds::kCaption | ds::kSysMenu,
      0,
      {
          {IDC_STATIC, K::GroupBox, "", 17, 14, 147, 92, 0, {}, 0},
          {IDC_STATIC, K::Static, "Адрес объекта", 31, 25, 52, 8, 0, {}, 0},
          {IDC_STATIC, K::Static, "Период контроля", 29, 38, 72, 8, 0, {}, 0},
          {IDC_STATIC, K::GroupBox, "", 7, 2, 287, 185, 0, {}, 0},
          {IDC_CARD_ADDRESS, K::Edit, "", 111, 23, 24, 12, kCenter | kBorder | kTabStop, {}, 0},
          {IDC_CARD_PERIOD, K::Edit, "", 109, 36, 28, 12, kCenter | kAutoHScroll | kBorder | kTabStop, {}, 0},
          {IDC_STATIC, K::Static, "Краткие комментарии (до 100 символов)", 25, 58, 83, 18, 0, {}, 0},
          {IDC_CARD_COMMENT, K::Edit, "", 24, 77, 131, 20, kMultiLine | kVScroll | kBorder | kTabStop, {}, 0},
          {IDC_STATIC, K::GroupBox, "Типы шлейфов", 169, 19, 118, 70, 0, {}, 0},
          {IDC_STATIC, K::Static, "ШС 1", 175, 31, 17, 8, 0, {}, 0},
          {IDC_CARD_LOOP1, K::Edit, "", 173, 40, 107, 12, kAutoHScroll | kBorder | kTabStop, {}, 0},
          {IDC_STATIC, K::Static, "ШС 2", 175, 57, 17, 8, 0, {}, 0},
          {IDC_CARD_LOOP2, K::Edit, "", 173, 66, 107, 12, kAutoHScroll | kBorder | kTabStop, {}, 0},
          {IDC_CARD_CONTROL, K::CheckBox, "Контроль включить", 172, 94, 84, 10, kTabStop, {}, 0},
          {IDC_CARD_STATE,
           K::Edit,
           "",
           80,
           119,
           208,
           31,
           kMultiLine | kReadOnly | kVScroll | kBorder | kTabStop,
           {},
           0},
          {IDC_CARD_REGISTER, K::PushButton, "Зарегистрировать объект", 97, 156, 107, 11, kTabStop, {}, 0},
          {IDC_CARD_DELETE, K::PushButton, "Удалить объект", 97, 171, 107, 11, kTabStop, {}, 0},
          {IDC_CARD_CANCEL, K::PushButton, "Отмена", 235, 165, 42, 11, kTabStop, {}, 0},
          {IDC_STATIC, K::Static, "Информация  о состоянии объекта", 17, 120, 56, 29, 0, {}, 0},
      }};
}

DialogTemplate ObjectState() {
  return {IDD_OBJECT_STATE,
          220,
          125,
          kSansSerif,
          8,
          "Информация о состоянии объекта",
          ds::kModalFrame | ds::kPopup | ds::kCaption | ds::kSysMenu,
          0,
          {
              {IDC_STATE_INFO,
               K::Edit,
               "",
               17,
               15,
               188,
               85,
               kMultiLine | kReadOnly | kVScroll | kBorder | kTabStop,
               {},
               0},
              {IDOK, K::DefPushButton, "OK", 80, 106, 68, 12, kTabStop, {}, 0},
          }};
}

std::vector<DialogTemplate> MakeDialogs() {
  std::vector<DialogTemplate> all;
  all.push_back(AboutBox());
  all.push_back(ConsoleWindow());
  all.push_back(ProgramSettingsPage());
  all.push_back(ReceiverSettingsPage());
  all.push_back(ExchangeProgress());
  all.push_back(ObjectCard());
  all.push_back(ObjectState());
  return all;
}

MenuItem Item(std::string_view text, int id) {
  return {text, id, {}, false};
}
MenuItem Separator() {
  return {};
}
MenuItem Popup(std::string_view text, std::vector<MenuItem> items, bool right = false) {
  return {text, 0, std::move(items), right};
}

std::vector<MenuTemplate> MakeMenus() {
  std::vector<MenuTemplate> all;
  all.push_back({IDR_MAINMENU,
                 {
                     Popup("Файл", {Item("Открыть файл протокола для просмотра", ID_OPEN_PROTOCOL),
                                    Separator(), Item("Выход", ID_EXIT)}),
                     Popup("Свойства", {Item("Настройки программы", ID_PROGRAM_SETTINGS),
                                        Item("Настройки Велдор", ID_RECEIVER_SETTINGS)}),
                     Popup("Тревоги", {Item("Очередь тревог\tF9", ID_ALARM_QUEUE),
                                       Item("История событий", ID_EVENT_HISTORY),
                                       Item("Отчёты…", ID_REPORTS)}),
                     Popup("Помощь", {Item("О программе", ID_ABOUT)}, true),
                 }});
  // One pop-up; the list's right click shows its items.
  all.push_back(
      {IDR_OBJECTMENU,
       {
           Popup("Объекты",
                 {
                     Item("Инициализировать новый объект", ID_OBJECT_NEW),
                     Separator(),
                     Popup("Режим контроля данного объекта", {Item("Включить", ID_OBJECT_CONTROL_ON),
                                                              Item("Выключить", ID_OBJECT_CONTROL_OFF)}),
                     Popup("Счетчик времени данного объекта", {Item("Сбросить", ID_OBJECT_RESET_COUNTER)}),
                     Item("Редактировать параметры данного объекта", ID_OBJECT_EDIT),
                     Item("Удалить информацию о данном объекте", ID_OBJECT_DELETE),
                     Separator(),
                     Popup("Режим контроля всех объектов", {Item("Включить", ID_OBJECTS_CONTROL_ON),
                                                            Item("Выключить", ID_OBJECTS_CONTROL_OFF)}),
                     Popup("Счётчики времени всех объектов", {Item("Сбросить", ID_OBJECTS_RESET_COUNTERS)}),
                     Item("Очистить информацию обо всех объектах", ID_OBJECTS_CLEAR_ALL),
                 }),
       }});
  return all;
}

struct StringEntry {
  int id;
  std::string_view text;
};

constexpr StringEntry kStrings[] = {
    {IDC_CLEAR_LOG, "Очистка окна протокола"},
    {IDC_LINK_STATE, "Состояние связи с Велдор"},
    {IDC_LINE_STATE, "Состояние телефонной линии"},
    {IDC_OBJECT_LIST, "Состояние объектов"},
    {IDC_CARD_ADDRESS, "Адрес объекта ( от 0001 до 9999)"},
    {IDC_CARD_DELETE, "Удаление объекта "},
    {IDC_CARD_CANCEL, "Отмена"},
};

}  // namespace

const ControlTemplate* DialogTemplate::Control(int controlId) const {
  if (controlId == IDC_STATIC) return nullptr;
  auto it = std::find_if(controls.begin(), controls.end(),
                         [&](const ControlTemplate& c) { return c.id == controlId; });
  return it == controls.end() ? nullptr : &*it;
}

const std::vector<DialogTemplate>& AllDialogs() {
  static const std::vector<DialogTemplate> dialogs = MakeDialogs();
  return dialogs;
}

const DialogTemplate* FindDialog(int id) {
  for (const DialogTemplate& d : AllDialogs())
    if (d.id == id) return &d;
  return nullptr;
}

const MenuTemplate* FindMenu(int id) {
  static const std::vector<MenuTemplate> menus = MakeMenus();
  for (const MenuTemplate& m : menus)
    if (m.id == id) return &m;
  return nullptr;
}

const std::vector<int>& SelectedObjectCommands() {
  static const std::vector<int> ids = {ID_OBJECT_CONTROL_ON, ID_OBJECT_CONTROL_OFF, ID_OBJECT_EDIT,
                                       ID_OBJECT_RESET_COUNTER, ID_OBJECT_DELETE};
  return ids;
}

std::string_view LoadString(int id) {
  for (const StringEntry& s : kStrings)
    if (s.id == id) return s.text;
  return {};
}

}  // namespace pelvaron::res
