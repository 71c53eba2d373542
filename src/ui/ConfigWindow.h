// The settings window: every item of the settings model as a row of label,
// edit or combo box, and hint, on eight tabbed pages. Each commit in a box is
// applied at once (auto-save, capture restart when the rate or the format
// changed, CONFIG packet when connected).
//
// The object and its pages live from program start to program end; the
// window and its controls exist only between Show and its closing, and may be
// made again any number of times. Main thread only.
#pragma once

#include <windows.h>

#include <functional>
#include <memory>

#include "settings/SoundConfig.h"
#include "ui/ConfigItemViews.h"
#include "ui/Gdi.h"
#include "ui/Window.h"
#include "ui/WindowPlaceMemory.h"

// One page: routes a command from one of its boxes to the box and applies
// the change the box reports.
class ConfigClientWindow : public TabClientWindow {
 public:
  ConfigClientWindow() = default;
  ~ConfigClientWindow() override;

  // The views of the window's controls, through which the page applies
  // changes; not owned.
  void SetViews(ConfigItemViews* views) { m_views = views; }
  LRESULT WndProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) override;

 private:
  ConfigItemViews* m_views = nullptr;
};

class ConfigWindow : public TabWindow {
 public:
  static constexpr int CLIENT_MAX = 8;
  static constexpr int TAB_ID = 200;
  static constexpr int LABEL_ID_BASE = 300;
  static constexpr int CONTROL_ID_BASE = 500;
  static constexpr int HINT_ID_BASE = 700;
  static constexpr int CLIENT_WIDTH = 500;
  static constexpr int CLIENT_HEIGHT = 480;
  // The columns of a row at their narrowest: label, box and hint.
  static constexpr int LABEL_X = 8;
  static constexpr int LABEL_WIDTH = 128;
  static constexpr int BOX_X = 136;
  static constexpr int BOX_WIDTH = 128;
  static constexpr int HINT_X = 288;
  static constexpr int HINT_WIDTH = 144;
  // Where the columns of every page go and how wide the window is. The label
  // and hint columns grow to their widest text in the window's font; the
  // columns right of a grown one move along and the window grows to hold
  // them, so that no text is cut.
  struct Layout {
    int labelWidth = LABEL_WIDTH;
    int boxX = BOX_X;
    int hintX = HINT_X;
    int hintWidth = HINT_WIDTH;
    int clientWidth = CLIENT_WIDTH;
  };
  // Files dropped on the window: the main window's drop handler (wave files
  // to the wave-file source, anything else loaded as settings). The handler
  // finishes the drop (DragFinish).
  using DropHandler = std::function<void(HDROP)>;

  // model is not owned and outlives this object.
  explicit ConfigWindow(SoundConfig& model);
  ~ConfigWindow() override;

  // At program start: makes the pages and registers the window classes (the
  // window's class is named by the "Settings" string). icon and font are not
  // owned; the font is used by every control of the window. Places and sizes
  // are those of 96 DPI scaled by dpi / 96 (the font is made for that DPI).
  void Register(HINSTANCE instance, HICON icon, HFONT font, int dpi = 96);
  void SetDropHandler(DropHandler handler) { m_dropHandler = std::move(handler); }
  // Where the window reopens where it was left: the preferences (not owned;
  // null: at the system's place each time) and the monitors (empty: the
  // system's).
  void SetPlaceMemory(Preferences* preferences, MonitorWorkAreas workAreas) {
    m_place.Use(preferences, std::move(workAreas));
  }

  // Makes and shows the window (where it was left), or, when it exists,
  // shows it normally and gives it the focus.
  void Show();
  // Whether the window exists (between Show and its closing).
  bool Exists() const { return GetHwnd() != nullptr; }
  // Shows the model's current values in the boxes, and which can be set,
  // when the window exists.
  void RefreshControls();
  // The window's keys: Tab and Shift+Tab between the items of the shown page,
  // Ctrl+Tab and Ctrl+Shift+Tab to the next and the previous page (round the
  // end), Esc closes the window as its close button does, Enter commits the
  // edit box it is typed in. The message loop offers every message; true
  // when the message was the window's and has been handled.
  bool TranslateDialogMessage(MSG* msg);
  // Shows page index; while the window is active the keyboard goes to the
  // page's first item (the first enabled box).
  void ShowPage(int index) override;
  // Selects page index in the tab control and shows it, as a click on its
  // tab does.
  void SelectPage(int index);
  // The page selected in the tab control (0 without a window).
  int GetShownPage() const;

  LRESULT WndProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) override;

  // The page an item belongs on, from its section path.
  static int ClientIndexOf(const SoundConfigItem& item);
  ConfigClientWindow* GetClient(int index) const;
  // The control of a model item (id 500 + index) wherever it is, or null.
  CWindowControl* FindItemControl(int index) const;
  // The tab texts, in page order.
  static const char* const TAB_TEXTS[CLIENT_MAX];
  // The layout of the window as it was last made, in the screen's pixels.
  const Layout& GetLayout() const { return m_layout; }
  // A 96-DPI length in the screen's pixels.
  int Scaled(int length) const { return MulDiv(length, m_dpi, 96); }
  int GetDpi() const { return m_dpi; }
  // WM_DPICHANGED: the window was moved to a monitor of another scale. It
  // takes the suggested place (when there is one), makes a font of its own
  // for the new DPI (the one it had made before is freed), measures the
  // columns again in it and sizes and places the window, the tab control and
  // every row at that DPI; what the boxes hold stays.
  void OnDpiChanged(int dpi, const RECT* suggested);

 private:
  void CreateWindowAndControls();
  // Measures every label and hint in the window's font.
  Layout MeasureLayout() const;
  // Places every row's label, box and hint by the layout, in the window's
  // font.
  void PlaceRows();
  // Puts the keyboard on the first enabled box of page index, its text
  // selected as Tab selects it.
  void FocusFirstItem(int index);
  // On activation: the keyboard back where it was when the window was left,
  // or, when that box is gone, hidden or grayed, on the shown page's first.
  void RestoreFocus();

  SoundConfig& m_model;
  ConfigItemViews m_views{m_model};  // of the controls, while the window exists
  HFONT m_font = nullptr;  // the registration's (not owned) or m_dpiFont
  int m_dpi = 96;
  // The font made for the DPI of the monitor the window was moved to; null
  // until it is moved to another DPI than the registration's.
  ScopedGdiObject<HFONT> m_dpiFont;
  std::unique_ptr<ConfigClientWindow[]> m_client;  // the eight pages, made once at registration
  DropHandler m_dropHandler;
  WindowPlaceMemory m_place{Preferences::PlacedWindow::SETTINGS};
  Layout m_layout;
  HWND m_lastFocus = nullptr;  // the box that had the keyboard when the window was left
};
