// The window framework: a Window object is linked to its Win32 window by one
// static window procedure (the object in the window's user data from
// WM_CREATE on), owns the child controls added to it, and routes WM_COMMAND
// and WM_NOTIFY to them. TabWindow adds a tab control with one page window
// (a TabClientWindow) per tab.
//
// A window object outlives its window: it is registered once, created,
// destroyed by WM_CLOSE or Close, and may be created again. Main thread only.
#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "ui/WindowControl.h"

// The calls that make a window class and a window: the system's by default,
// fakes in tests (a window that cannot be made).
struct WindowFunctions {
  ATOM(WINAPI* registerClass)(const WNDCLASSEXA* windowClass);
  HWND(WINAPI* createWindow)
  (DWORD exStyle, LPCSTR className, LPCSTR title, DWORD style, int x, int y, int width, int height, HWND parent,
   HMENU menu, HINSTANCE instance, LPVOID param);
};
// RegisterClassExA and CreateWindowExA.
const WindowFunctions& SystemWindowFunctions();

class Window {
 public:
  Window() = default;
  Window(const Window&) = delete;
  Window& operator=(const Window&) = delete;
  // Closes the window if it still exists (WM_CLOSE, handled by this class's
  // own procedure: derived parts are gone by then, so derived windows close
  // themselves in their own destructors).
  virtual ~Window();

  // Moves and sizes the window so that its client area is width x height; a
  // negative x or y keeps the current left or top.
  virtual void SetClientSize(int x, int y, int width, int height);
  virtual LRESULT WndProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

  // Registers the window class: the framework's procedure, the icon, the
  // arrow cursor and the background brush. Zero when the class could not be
  // registered (also when a class of that name exists already, which then
  // serves as well: every class of the framework has the same procedure).
  ATOM Register(HINSTANCE instance, const std::string& className, HICON icon, HBRUSH background);
  // Creates the window (256 x 256 at the default place) unless it exists;
  // returns it.
  HWND Create(HWND parent, DWORD style, HMENU menuOrId, const std::string& title);
  // Sends WM_CLOSE to the window, if there is one, and forgets it.
  void Close();
  // Where Register and Create make the class and the window (the system's
  // unless set; the table must outlive the window object).
  void SetWindowFunctions(const WindowFunctions& functions) { m_functions = &functions; }

  // Creates the control's window on this window and takes ownership of it.
  // Returns the control, which lives until the window is destroyed.
  CWindowControl* AddControl(std::unique_ptr<CWindowControl> control);
  template <typename T>
  T* Add(std::unique_ptr<T> control) {
    T* added = control.get();
    AddControl(std::move(control));
    return added;
  }
  // The same, with the control's id, place and size (client pixels) set
  // before its window is made, and its font after.
  template <typename T>
  T* AddAt(std::unique_ptr<T> control, int id, int x, int y, int width, int height, HFONT font) {
    control->SetId(id);
    control->SetRect(x, y, width, height);
    T* added = Add(std::move(control));
    added->SetFont(font);
    return added;
  }
  // The first control with that id, or null.
  CWindowControl* FindControl(int id) const;
  // The control whose window is hwnd, or null.
  CWindowControl* FindControlByHwnd(HWND hwnd) const;
  // Deletes every control (each destroys its window).
  void DeleteControls();
  size_t GetControlCount() const { return m_controls.size(); }

  HWND GetHwnd() const { return m_hWnd; }
  HINSTANCE GetInstance() const { return m_instance; }
  const std::string& GetClassName() const { return m_className; }
  bool IsActive() const { return m_active; }
  int GetClientWidth() const { return m_clientWidth; }
  int GetClientHeight() const { return m_clientHeight; }
  // Mouse buttons pressed over the window (it holds the capture while > 0).
  int GetPressedButtons() const { return m_mouse.pressed; }

 protected:
  static LRESULT CALLBACK StaticWndProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
  // What WM_DESTROY does for every window of the framework: controls deleted,
  // handle forgotten; Window's own procedure then posts the quit message.
  void ForgetWindow();

  HINSTANCE m_instance = nullptr;
  HWND m_hWnd = nullptr;

 private:
  struct MouseState {
    HWND window = nullptr;
    int pressed = 0;
  };

  void ButtonDown();
  void ButtonUp();

  const WindowFunctions* m_functions = &SystemWindowFunctions();
  std::string m_className;
  MouseState m_mouse;
  bool m_hasScrollBars = false;
  // Owned, in insertion order.
  std::vector<std::unique_ptr<CWindowControl>> m_controls;
  bool m_active = false;
  int m_clientWidth = 0;
  int m_clientHeight = 0;
};

class TabClientWindow : public Window {
 public:
  TabClientWindow() = default;
  ~TabClientWindow() override;

  ATOM Register(HINSTANCE instance, const std::string& className, HICON icon, HBRUSH background);
  LRESULT WndProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) override;

  // Where ShowPage puts the keyboard focus after taking it from a control of
  // a hidden page; null (no window keeps the focus).
  HWND GetFocusHolder() const { return m_focusHolder; }

 private:
  HWND m_focusHolder = nullptr;
};

class TabWindow : public Window {
 public:
  TabWindow() = default;
  ~TabWindow() override;

  // Registers the window's class and, for page i, the class named className +
  // "TabClient" + i. The pages are not owned; they must outlive this window.
  // Registering twice is a programming error.
  ATOM Register(HINSTANCE instance, const std::string& className, HICON icon, HBRUSH background,
                TabClientWindow* const* pages, int pageCount);
  // Creates the window (no scroll bars, clipping its children), its tab
  // control with the id tabId, and every page as a child of the tab control;
  // only the first page is shown.
  HWND Create(HWND parent, DWORD style, HMENU menuOrId, const std::string& title, int tabId);
  // Shows page index and hides the others. A control of a hidden page that
  // has the keyboard focus gets WM_KILLFOCUS first (an edit box commits),
  // and the focus goes to the page's focus holder.
  virtual void ShowPage(int index);
  LRESULT WndProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) override;

  CWCTab* GetTab() const { return m_tab; }
  int GetPageCount() const { return static_cast<int>(m_pages.size()); }
  TabClientWindow* GetPage(int index) const;

 protected:
  // WM_DESTROY of a tab window without the quit message: the controls (the
  // tab control, and with its window the pages) deleted, the handle forgotten.
  void ForgetTabWindow();

 private:
  void LayoutPages();

  CWCTab* m_tab = nullptr;               // owned through the control list
  std::vector<TabClientWindow*> m_pages;  // not owned
  bool m_registered = false;
};
