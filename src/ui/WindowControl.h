// The child controls of the window framework. CWindowControl holds what every
// control has (id, place, styles, window); each kind supplies its Win32 class
// and a few typed helpers. The kinds that notify their owner take a callback
// per notification (a button's onClicked, a combo box's onSelectionChanged);
// controls with behaviour of their own derive from a kind and override
// OnCommand or OnNotify, which the owning window calls.
//
// A Window owns the controls added to it and deletes them when its window is
// destroyed. Main thread only.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <functional>
#include <string>

// The control kinds' styles. The values are fixed on purpose: the window
// tests check them and the settings window's layout was drawn with them;
// each expression is checked against the value it has always had.
namespace control_style {
constexpr DWORD CHILD = WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS;
constexpr DWORD STATIC = CHILD | SS_LEFT;
constexpr DWORD EDIT = CHILD | WS_TABSTOP | ES_NOHIDESEL;
constexpr DWORD BUTTON = CHILD | WS_TABSTOP | BS_DEFPUSHBUTTON;
constexpr DWORD RADIO_BUTTON = CHILD | WS_TABSTOP | BS_AUTORADIOBUTTON;
constexpr DWORD CHECK_BOX = CHILD | WS_TABSTOP | BS_AUTOCHECKBOX;
constexpr DWORD COMBO_BOX =
    CHILD | WS_VSCROLL | WS_TABSTOP | CBS_DROPDOWNLIST | CBS_AUTOHSCROLL | CBS_HASSTRINGS | CBS_DISABLENOSCROLL;
constexpr DWORD TAB = CHILD | WS_TABSTOP;
constexpr DWORD LIST_VIEW = CHILD | WS_VSCROLL | WS_HSCROLL | WS_TABSTOP;
constexpr DWORD PROGRESS = CHILD | PBS_SMOOTH;
static_assert(STATIC == 0x54000000, "static style");
static_assert(EDIT == 0x54010100, "edit style");
static_assert(BUTTON == 0x54010001, "button style");
static_assert(RADIO_BUTTON == 0x54010009, "radio button style");
static_assert(CHECK_BOX == 0x54010003, "check box style");
static_assert(COMBO_BOX == 0x54210A43, "combo box style");
static_assert(TAB == 0x54010000, "tab style");
static_assert(LIST_VIEW == 0x54310000, "list view style");
static_assert(PROGRESS == 0x54000001, "progress style");
}  // namespace control_style

class CWindowControl {
 public:
  CWindowControl() = default;
  CWindowControl(const CWindowControl&) = delete;
  CWindowControl& operator=(const CWindowControl&) = delete;
  // Destroys the control's window, if it still has one.
  virtual ~CWindowControl();

  virtual const char* GetClassName() const = 0;
  // The text the window is created with; the kinds set their text afterwards.
  virtual const char* GetTitle() const { return nullptr; }
  // Sees the control's messages once Subclass has run; the default hands
  // them to the procedure that Subclass replaced.
  virtual LRESULT WndProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
  // Creates the control's window as a child of parent; an existing window is
  // returned as it is.
  virtual HWND Create(HINSTANCE instance, HWND parent);
  // WM_COMMAND from this control (its id in the low word of wParam); true
  // when handled.
  virtual bool OnCommand(WPARAM wParam, LPARAM lParam);
  // WM_NOTIFY from this control's window; true when handled.
  virtual bool OnNotify(WPARAM wParam, LPARAM lParam);

  void SetId(int id) { m_id = id; }
  int GetId() const { return m_id; }
  // Moves the window at once when it exists.
  void SetRect(int x, int y, int width, int height);
  int GetX() const { return m_x; }
  int GetY() const { return m_y; }
  int GetWidth() const { return m_width; }
  int GetHeight() const { return m_height; }
  // Style bits; change them before Create.
  void SetStyle(DWORD style) { m_style = style; }
  DWORD GetStyle() const { return m_style; }
  void SetExStyle(DWORD exStyle) { m_exStyle = exStyle; }
  DWORD GetExStyle() const { return m_exStyle; }

  HWND GetHwnd() const { return m_hWnd; }
  bool HasFocus() const;
  // Sends WM_SETFONT (with redraw).
  void SetFont(HFONT font);
  // Routes the window's messages through WndProc. Needs the window.
  void Subclass();

 protected:
  explicit CWindowControl(DWORD style, DWORD exStyle = 0) : m_style(style), m_exStyle(exStyle) {}
  // Hands a message to the procedure the subclassing replaced.
  LRESULT CallPrevious(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
  // Window text helpers shared by the kinds.
  void SetWindowTextTo(const std::string& text);
  std::string GetWindowTextOf() const;

  HWND m_hWnd = nullptr;

 private:
  static LRESULT CALLBACK ControlProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

  int m_id = -1;
  int m_x = 0;
  int m_y = 0;
  int m_width = 0;
  int m_height = 0;
  DWORD m_style = WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS;
  DWORD m_exStyle = 0;
  WNDPROC m_previousProc = nullptr;
};

class CWCStatic : public CWindowControl {
 public:
  CWCStatic() : CWindowControl(control_style::STATIC) {}
  const char* GetClassName() const override { return "Static"; }
  void SetText(const std::string& text) { SetWindowTextTo(text); }
  std::string GetText() const { return GetWindowTextOf(); }
};

class CWCEdit : public CWindowControl {
 public:
  CWCEdit() : CWindowControl(control_style::EDIT) {}
  const char* GetClassName() const override { return "Edit"; }
  // Replaces the whole text (as an undoable replacement of the selection);
  // lone line feeds become CR LF.
  void SetText(const std::string& text);
  std::string GetText() const { return GetWindowTextOf(); }
};

class CWCButton : public CWindowControl {
 public:
  CWCButton() : CWindowControl(control_style::BUTTON) {}
  const char* GetClassName() const override { return "Button"; }
  void SetText(const std::string& text) { SetWindowTextTo(text); }
  // Called on BN_CLICKED. While it is set, every command of the control
  // counts as handled.
  std::function<void()> onClicked;
  bool OnCommand(WPARAM wParam, LPARAM lParam) override;

 protected:
  explicit CWCButton(DWORD style) : CWindowControl(style) {}
};

class CWCRadioButton : public CWCButton {
 public:
  CWCRadioButton() : CWCButton(control_style::RADIO_BUTTON) {}
  bool IsChecked() const;
  void SetChecked(bool checked);
};

class CWCCheckBox : public CWCButton {
 public:
  CWCCheckBox() : CWCButton(control_style::CHECK_BOX) {}
  bool IsChecked() const;
  void SetChecked(bool checked);
};

class CWCComboBox : public CWindowControl {
 public:
  CWCComboBox() : CWindowControl(control_style::COMBO_BOX) {}
  const char* GetClassName() const override { return "ComboBox"; }
  // Deletes every entry.
  void Clear();
  // Appends an entry; its index, or a negative value on failure.
  int AddString(const std::string& text);
  int GetCount() const;
  // The entry's text; empty for a negative index or an entry that is not there.
  std::string GetItemText(int index) const;
  // The selected entry, -1 for none.
  int GetSelection() const;
  void SetSelection(int index);
  // Makes the dropped list as wide as the widest entry in the control's font,
  // plus 32 pixels.
  void FitDropDownWidth();
  // Called on CBN_SELCHANGE and CBN_DROPDOWN. While either is set, every
  // command of the control counts as handled.
  std::function<void()> onSelectionChanged;
  std::function<void()> onDropDown;
  bool OnCommand(WPARAM wParam, LPARAM lParam) override;
};

class CWCTab : public CWindowControl {
 public:
  CWCTab() : CWindowControl(control_style::TAB) {}
  const char* GetClassName() const override { return "SysTabControl32"; }
  void AddTab(const std::string& text, int index);
  int GetTabCount() const;
  int GetSelection() const;
  // Selects a tab without notifying (as TCM_SETCURSEL does).
  void SetSelection(int index);
  // Called with the new selection on TCN_SELCHANGE.
  std::function<void(int selected)> onSelectionChanged;
  bool OnNotify(WPARAM wParam, LPARAM lParam) override;
};

class CWCListView : public CWindowControl {
 public:
  CWCListView() : CWindowControl(control_style::LIST_VIEW, WS_EX_CLIENTEDGE | WS_EX_WINDOWEDGE) {}
  const char* GetClassName() const override { return "SysListView32"; }
};

class CWCProgress : public CWindowControl {
 public:
  CWCProgress() : CWindowControl(control_style::PROGRESS) {}
  const char* GetClassName() const override { return "msctls_progress32"; }
};
