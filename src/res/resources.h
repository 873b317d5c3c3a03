#pragma once

// The console's resources as plain data: dialog templates in dialog units,
// menus, the string table and the icons. No toolkit here; the window side
// builds widgets from these.

#include <cstdint>
#include <string_view>
#include <vector>

namespace pelvaron::res {

// Resource numbers.
inline constexpr int IDD_ABOUTBOX = 100;
inline constexpr int IDD_CONSOLE = 102;
inline constexpr int IDD_PROGRAM_SETTINGS = 131;
inline constexpr int IDD_RECEIVER_SETTINGS = 133;
inline constexpr int IDD_EXCHANGE_PROGRESS = 137;
inline constexpr int IDD_OBJECT_CARD = 145;
inline constexpr int IDD_OBJECT_STATE = 146;

inline constexpr int IDR_MAINMENU = 129;
inline constexpr int IDR_OBJECTMENU = 144;

inline constexpr int IDI_PROGRAM = 128;
inline constexpr int IDI_ALARM = 141;   // plain red square
inline constexpr int IDI_NORMAL = 142;  // plain green square

// Standard button ids.
inline constexpr int IDOK = 1;
inline constexpr int IDCANCEL = 2;
inline constexpr int IDC_STATIC = -1;

// Menu commands.
inline constexpr int ID_PROGRAM_SETTINGS = 32771;
inline constexpr int ID_EXIT = 32772;
inline constexpr int ID_RECEIVER_SETTINGS = 32773;
inline constexpr int ID_ABOUT = 32774;
inline constexpr int ID_OBJECT_NEW = 32775;
inline constexpr int ID_OBJECT_CONTROL_OFF = 32776;
inline constexpr int ID_OBJECT_CONTROL_ON = 32778;
inline constexpr int ID_OBJECT_RESET_COUNTER = 32779;
inline constexpr int ID_OBJECT_EDIT = 32780;
inline constexpr int ID_OBJECTS_CLEAR_ALL = 32783;
inline constexpr int ID_OBJECTS_CONTROL_ON = 32784;
inline constexpr int ID_OBJECTS_CONTROL_OFF = 32785;
inline constexpr int ID_OBJECTS_RESET_COUNTERS = 32786;
inline constexpr int ID_OPEN_PROTOCOL = 32787;
inline constexpr int ID_OBJECT_DELETE = 32788;
inline constexpr int ID_ALARM_QUEUE = 32789;
inline constexpr int ID_EVENT_HISTORY = 32790;
inline constexpr int ID_REPORTS = 32799;

// Controls of the main console window.
inline constexpr int IDC_PROTOCOL_LIST = 1000;
inline constexpr int IDC_DATE_TIME = 1002;
inline constexpr int IDC_CLEAR_LOG = 1003;
inline constexpr int IDC_LINK_STATE = 1005;
inline constexpr int IDC_CASE_STATE = 1006;
inline constexpr int IDC_LINE_STATE = 1007;
inline constexpr int IDC_OBJECT_LIST = 1022;

// Controls of the program settings page.
inline constexpr int IDC_COM_PORT = 1006;
inline constexpr int IDC_SAVE_PROTOCOL = 1007;
inline constexpr int IDC_BROWSE = 1008;
inline constexpr int IDC_PROTOCOL_PATH = 1011;
inline constexpr int IDC_ATTEMPTS = 1020;

// Controls of the receiver settings page.
inline constexpr int IDC_CHECK_LINE = 1012;
inline constexpr int IDC_CHECK_INTERVAL = 1013;
inline constexpr int IDC_PICKUP_RINGS = 1014;
inline constexpr int IDC_FORMAT_LOMIR = 1034;
inline constexpr int IDC_FORMAT_CONTACT_ID = 1035;
inline constexpr int IDC_FORMATS_ONE = 1036;
inline constexpr int IDC_FORMATS_TWO = 1037;

// Controls of the progress window.
inline constexpr int IDC_PROGRESS_TEXT = 1016;
inline constexpr int IDC_PROGRESS_ATTEMPT = 1017;

// Controls of the object card.
inline constexpr int IDC_CARD_ADDRESS = 1023;
inline constexpr int IDC_CARD_PERIOD = 1024;
inline constexpr int IDC_CARD_COMMENT = 1025;
inline constexpr int IDC_CARD_LOOP1 = 1026;
inline constexpr int IDC_CARD_LOOP2 = 1027;
inline constexpr int IDC_CARD_CONTROL = 1028;
inline constexpr int IDC_CARD_STATE = 1029;
inline constexpr int IDC_CARD_REGISTER = 1030;
inline constexpr int IDC_CARD_DELETE = 1031;
inline constexpr int IDC_CARD_CANCEL = 1032;

// Control of the state window.
inline constexpr int IDC_STATE_INFO = 1026;

enum class ControlKind {
  GroupBox,
  Static,
  Icon,  // a static showing an icon resource at its natural size
  Edit,
  PushButton,
  DefPushButton,
  CheckBox,     // automatic check box
  RadioButton,  // automatic radio button
  DropList,     // combo box, drop-down list (no typing)
  ListBox,
  ListView,
};

// Control style flags (only those the console's templates use).
namespace cs {
inline constexpr std::uint32_t kCenter = 1u << 0;       // text centred
inline constexpr std::uint32_t kRight = 1u << 1;        // text right-aligned
inline constexpr std::uint32_t kCenterImage = 1u << 2;  // static text centred vertically too
inline constexpr std::uint32_t kBorder = 1u << 3;
inline constexpr std::uint32_t kReadOnly = 1u << 4;
inline constexpr std::uint32_t kMultiLine = 1u << 5;
inline constexpr std::uint32_t kTabStop = 1u << 6;
inline constexpr std::uint32_t kLeftText = 1u << 7;  // check box with its text on the left
inline constexpr std::uint32_t kGroup = 1u << 8;     // first control of a group
inline constexpr std::uint32_t kVScroll = 1u << 9;
inline constexpr std::uint32_t kAutoHScroll = 1u << 10;      // edit scrolls horizontally
inline constexpr std::uint32_t kNoSelection = 1u << 11;      // list box lines cannot be selected
inline constexpr std::uint32_t kUseTabStops = 1u << 12;      // list box expands tabs
inline constexpr std::uint32_t kDisableNoScroll = 1u << 13;  // scroll bar always shown
inline constexpr std::uint32_t kNoIntegralHeight = 1u << 14;
inline constexpr std::uint32_t kReport = 1u << 15;  // list view in report view
inline constexpr std::uint32_t kSingleSel = 1u << 16;
inline constexpr std::uint32_t kEditLabels = 1u << 17;
inline constexpr std::uint32_t kAutoVScroll = 1u << 18;
}  // namespace cs

// Dialog style flags.
namespace ds {
inline constexpr std::uint32_t kPopup = 1u << 0;
inline constexpr std::uint32_t kChild = 1u << 1;  // a property page
inline constexpr std::uint32_t kCaption = 1u << 2;
inline constexpr std::uint32_t kSysMenu = 1u << 3;
inline constexpr std::uint32_t kThickFrame = 1u << 4;  // resizable
inline constexpr std::uint32_t kMinimizeBox = 1u << 5;
inline constexpr std::uint32_t kMaximizeBox = 1u << 6;
inline constexpr std::uint32_t kModalFrame = 1u << 7;
inline constexpr std::uint32_t kBorder = 1u << 8;  // a thin frame, no caption
inline constexpr std::uint32_t kVisible = 1u << 9;
inline constexpr std::uint32_t kAppWindow = 1u << 10;  // shown in the task bar
inline constexpr std::uint32_t kDisabled = 1u << 11;
}  // namespace ds

struct ControlTemplate {
  int id = IDC_STATIC;
  ControlKind kind = ControlKind::Static;
  std::string_view text;
  int x = 0, y = 0, cx = 0, cy = 0;  // dialog units
  std::uint32_t style = 0;
  std::vector<std::string_view> rows;  // rows of a drop-down list
  int icon = 0;                        // icon resource of a ControlKind::Icon
};

struct DialogTemplate {
  int id = 0;
  int cx = 0, cy = 0;  // client size in dialog units
  std::string_view fontFace;
  int pointSize = 8;
  std::string_view caption;
  std::uint32_t style = 0;
  int menu = 0;  // menu resource, 0 for none
  std::vector<ControlTemplate> controls;

  // The control with this id, or nullptr (ids -1 are not looked up).
  const ControlTemplate* Control(int controlId) const;
};

// The template with this number, or nullptr.
const DialogTemplate* FindDialog(int id);
// Every template, in resource order.
const std::vector<DialogTemplate>& AllDialogs();

struct MenuItem {
  std::string_view text;        // empty for a separator
  int id = 0;                   // command id; 0 for a separator or a sub-menu
  std::vector<MenuItem> items;  // a sub-menu when not empty
  bool rightJustify = false;    // placed at the right end of a menu bar

  bool IsSeparator() const { return text.empty() && items.empty(); }
  bool IsPopup() const { return !items.empty(); }
};

struct MenuTemplate {
  int id = 0;
  std::vector<MenuItem> items;  // the bar (menu 129) or the one pop-up (menu 144)
};

// The menu with this number, or nullptr.
const MenuTemplate* FindMenu(int id);

// The commands of menu 144 that act on the selected object: greyed when the
// menu opens without a selection.
const std::vector<int>& SelectedObjectCommands();

// The string resource with this number; empty when there is none.
std::string_view LoadString(int id);

}  // namespace pelvaron::res
