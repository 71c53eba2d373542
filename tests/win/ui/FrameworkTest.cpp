// The window framework on real windows: message routing to the owning
// control, mouse capture counting, client sizing, tab pages and the commit of
// a focused edit box when its page is hidden.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <memory>

#include "UiTestUtil.h"
#include "ui/Window.h"

namespace {

// Counts what the owning window routes to it.
class CountingButton : public CWCButton {
 public:
  CountingButton(int id, bool handles) : m_handles(handles) { SetId(id); }
  ~CountingButton() override {
    if (m_deleted != nullptr) *m_deleted = true;
  }
  bool OnCommand(WPARAM wParam, LPARAM) override {
    ++commands;
    lastCode = HIWORD(wParam);
    return m_handles;
  }
  bool OnNotify(WPARAM, LPARAM) override {
    ++notifies;
    return m_handles;
  }
  void WatchDeletion(bool* deleted) { m_deleted = deleted; }

  int commands = 0;
  int notifies = 0;
  int lastCode = -1;

 private:
  bool m_handles;
  bool* m_deleted = nullptr;
};

// An edit box that counts its focus-loss notifications.
class CountingEdit : public CWCEdit {
 public:
  explicit CountingEdit(int id) { SetId(id); }
  bool OnCommand(WPARAM wParam, LPARAM) override {
    if (HIWORD(wParam) != EN_KILLFOCUS) return false;
    ++killFocus;
    return true;
  }
  int killFocus = 0;
};

class FrameworkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    InitUiTest();
    m_window.Register(GetModuleHandleA(nullptr), "FrameworkTestWindow", nullptr,
                      reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1));
    ASSERT_NE(m_window.Create(nullptr, WS_OVERLAPPEDWINDOW, nullptr, "Framework"), nullptr);
    ShowWindow(m_window.GetHwnd(), SW_SHOW);
  }
  void TearDown() override {
    m_window.Close();
    DrainMessages();  // also the quit message the destroyed window posted
  }

  Window m_window;
};

TEST_F(FrameworkTest, CommandsAndNotificationsReachTheOwningControl) {
  auto* first = m_window.Add(std::make_unique<CountingButton>(42, true));
  auto made = std::make_unique<CountingButton>(42, true);
  made->SetRect(10, 10, 80, 24);
  auto* second = m_window.Add(std::move(made));
  auto* refusing = m_window.Add(std::make_unique<CountingButton>(43, false));
  ASSERT_NE(first->GetHwnd(), nullptr);
  EXPECT_EQ(m_window.FindControl(42), first);  // the first of two with the same id
  EXPECT_EQ(m_window.FindControl(44), nullptr);

  HWND hwnd = m_window.GetHwnd();
  SendMessageA(hwnd, WM_COMMAND, MAKEWPARAM(42, BN_CLICKED), reinterpret_cast<LPARAM>(first->GetHwnd()));
  EXPECT_EQ(first->commands, 1);
  EXPECT_EQ(first->lastCode, BN_CLICKED);
  EXPECT_EQ(second->commands, 0);
  SendMessageA(hwnd, WM_COMMAND, MAKEWPARAM(43, BN_CLICKED), 0);
  EXPECT_EQ(refusing->commands, 1);
  SendMessageA(hwnd, WM_COMMAND, MAKEWPARAM(44, BN_CLICKED), 0);  // nobody's: DefWindowProc

  // A click on the real button arrives as BN_CLICKED through the same road.
  SendMessageA(second->GetHwnd(), BM_CLICK, 0, 0);
  EXPECT_EQ(first->commands, 2);

  // WM_NOTIFY goes by the sender's window, not by the id.
  NMHDR header = {};
  header.hwndFrom = second->GetHwnd();
  header.idFrom = 42;
  header.code = NM_CLICK;
  SendMessageA(hwnd, WM_NOTIFY, 42, reinterpret_cast<LPARAM>(&header));
  EXPECT_EQ(second->notifies, 1);
  EXPECT_EQ(first->notifies, 0);
}

// Each callback runs for its own notification only; a control with a
// callback takes every command of its own, one without leaves them to the
// window.
TEST_F(FrameworkTest, CallbacksRunForTheirOwnNotification) {
  int clicked = 0, selected = 0, dropped = 0;
  auto add = [&](auto made, int id) {
    made->SetId(id);
    made->SetRect(10, 10 + 30 * (id - 60), 80, 24);
    return m_window.Add(std::move(made));
  };
  auto* button = add(std::make_unique<CWCButton>(), 60);
  button->onClicked = [&] { ++clicked; };
  auto* check = add(std::make_unique<CWCCheckBox>(), 61);
  check->onClicked = [&] { ++clicked; };
  auto* combo = add(std::make_unique<CWCComboBox>(), 62);
  combo->onSelectionChanged = [&] { ++selected; };
  combo->onDropDown = [&] { ++dropped; };
  auto* plain = add(std::make_unique<CWCComboBox>(), 63);

  const struct {
    CWindowControl* control;
    WORD code;
    int clicked, selected, dropped;
    bool handled;
  } cases[] = {
      {button, BN_CLICKED, 1, 0, 0, true},   {button, BN_SETFOCUS, 0, 0, 0, true},
      {check, BN_CLICKED, 1, 0, 0, true},    {combo, CBN_SELCHANGE, 0, 1, 0, true},
      {combo, CBN_DROPDOWN, 0, 0, 1, true},  {combo, CBN_CLOSEUP, 0, 0, 0, true},
      {plain, CBN_SELCHANGE, 0, 0, 0, false},
  };
  for (const auto& c : cases) {
    clicked = selected = dropped = 0;
    const bool handled = c.control->OnCommand(MAKEWPARAM(c.control->GetId(), c.code), 0);
    EXPECT_EQ(handled, c.handled) << c.control->GetId() << " " << c.code;
    EXPECT_EQ(clicked, c.clicked) << c.control->GetId() << " " << c.code;
    EXPECT_EQ(selected, c.selected) << c.control->GetId() << " " << c.code;
    EXPECT_EQ(dropped, c.dropped) << c.control->GetId() << " " << c.code;
  }

  // A real click reaches the callback through the window.
  clicked = 0;
  SendMessageA(button->GetHwnd(), BM_CLICK, 0, 0);
  EXPECT_EQ(clicked, 1);
}

TEST_F(FrameworkTest, MouseCaptureFollowsTheCountOfPressedButtons) {
  HWND hwnd = m_window.GetHwnd();
  SendMessageA(hwnd, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(10, 10));
  EXPECT_EQ(GetCapture(), hwnd);
  SendMessageA(hwnd, WM_RBUTTONDOWN, MK_RBUTTON, MAKELPARAM(10, 10));
  EXPECT_EQ(m_window.GetPressedButtons(), 2);
  SendMessageA(hwnd, WM_LBUTTONUP, 0, MAKELPARAM(10, 10));
  EXPECT_EQ(GetCapture(), hwnd);  // one button still down
  SendMessageA(hwnd, WM_RBUTTONUP, 0, MAKELPARAM(10, 10));
  EXPECT_EQ(GetCapture(), nullptr);
  EXPECT_EQ(m_window.GetPressedButtons(), 0);
  SendMessageA(hwnd, WM_MBUTTONUP, 0, 0);  // an unmatched release does not go below zero
  EXPECT_EQ(m_window.GetPressedButtons(), 0);
}

TEST_F(FrameworkTest, SetClientSizeKeepsThePlaceWhenAskedTo) {
  HWND hwnd = m_window.GetHwnd();
  m_window.SetClientSize(40, 50, 200, 100);
  RECT before = {};
  GetWindowRect(hwnd, &before);
  m_window.SetClientSize(-1, -1, 300, 254);
  RECT after = {};
  GetWindowRect(hwnd, &after);
  RECT client = {};
  GetClientRect(hwnd, &client);
  EXPECT_EQ(client.right, 300);
  EXPECT_EQ(client.bottom, 254);
  EXPECT_EQ(after.left, before.left);
  EXPECT_EQ(after.top, before.top);
  EXPECT_EQ(m_window.GetClientWidth(), 300);
  EXPECT_EQ(m_window.GetClientHeight(), 254);
}

TEST_F(FrameworkTest, SetClientSizeCountsAMenuBarOfSeveralLines) {
  HMENU menu = CreateMenu();
  for (int i = 0; i < 12; ++i) AppendMenuA(menu, MF_STRING, static_cast<UINT_PTR>(1000 + i), "Long menu entry");
  SetMenu(m_window.GetHwnd(), menu);  // destroyed with the window
  m_window.SetClientSize(-1, -1, 300, 254);
  RECT client = {};
  GetClientRect(m_window.GetHwnd(), &client);
  EXPECT_EQ(client.right, 300);
  EXPECT_EQ(client.bottom, 254);
}

TEST_F(FrameworkTest, ControlsOfTheKinds) {
  auto* combo = m_window.Add(std::make_unique<CWCComboBox>());
  combo->SetRect(10, 10, 100, 120);
  combo->AddString("short");
  combo->AddString("a much longer entry of the list");
  EXPECT_EQ(combo->GetCount(), 2);
  EXPECT_EQ(combo->GetItemText(1), "a much longer entry of the list");
  EXPECT_EQ(combo->GetItemText(-1), "");
  EXPECT_EQ(combo->GetItemText(5), "");
  combo->FitDropDownWidth();
  EXPECT_GT(SendMessageA(combo->GetHwnd(), CB_GETDROPPEDWIDTH, 0, 0), 100);
  combo->Clear();
  EXPECT_EQ(combo->GetCount(), 0);

  auto madeEdit = std::make_unique<CWCEdit>();
  madeEdit->SetStyle(madeEdit->GetStyle() | ES_MULTILINE | ES_AUTOHSCROLL);
  madeEdit->SetRect(10, 40, 100, 50);
  auto* edit = m_window.Add(std::move(madeEdit));
  edit->SetText("one\ntwo");
  EXPECT_EQ(edit->GetText(), "one\r\ntwo");

  auto* list = m_window.Add(std::make_unique<CWCListView>());
  EXPECT_NE(list->GetHwnd(), nullptr);
  EXPECT_EQ(static_cast<DWORD>(GetWindowLongPtrA(list->GetHwnd(), GWL_EXSTYLE)) & WS_EX_CLIENTEDGE,
            static_cast<DWORD>(WS_EX_CLIENTEDGE));
  EXPECT_NE(m_window.Add(std::make_unique<CWCProgress>())->GetHwnd(), nullptr);
  auto* check = m_window.Add(std::make_unique<CWCCheckBox>());
  check->SetChecked(true);
  EXPECT_TRUE(check->IsChecked());
}

TEST_F(FrameworkTest, DestroyingTheWindowDeletesItsControlsAndItCanBeMadeAgain) {
  bool deleted = false;
  m_window.Add(std::make_unique<CountingButton>(7, true))->WatchDeletion(&deleted);
  m_window.Close();
  EXPECT_TRUE(deleted);
  EXPECT_EQ(m_window.GetHwnd(), nullptr);
  EXPECT_EQ(m_window.GetControlCount(), 0u);
  DrainMessages();
  EXPECT_NE(m_window.Create(nullptr, WS_OVERLAPPEDWINDOW, nullptr, "Again"), nullptr);
}

// A two-page tab window with an edit box on each page.
class TwoPages : public TabWindow {
 public:
  LRESULT WndProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) override {
    if (message == WM_DESTROY) {
      TabWindow::WndProc(hwnd, message, wParam, lParam);
      DrainQuit();
      return 0;
    }
    return TabWindow::WndProc(hwnd, message, wParam, lParam);
  }
  static void DrainQuit() {
    MSG msg;
    PeekMessageA(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE);
  }
  ~TwoPages() override { Close(); }
};

TEST(TabWindowTest, SwitchingPagesCommitsTheFocusedEditFirst) {
  InitUiTest();
  TabClientWindow page0, page1;
  TabClientWindow* pages[] = {&page0, &page1};
  TwoPages window;
  window.Register(GetModuleHandleA(nullptr), "TwoPagesTest", nullptr, reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1),
                  pages, 2);
  ASSERT_NE(window.Create(nullptr, WS_OVERLAPPEDWINDOW | WS_HSCROLL, nullptr, "Tabs", 200), nullptr);
  EXPECT_EQ(GetWindowLongPtrA(window.GetHwnd(), GWL_STYLE) & (WS_HSCROLL | WS_CLIPCHILDREN), WS_CLIPCHILDREN);
  EXPECT_EQ(window.GetTab()->GetId(), 200);
  EXPECT_EQ(GetParent(page0.GetHwnd()), window.GetTab()->GetHwnd());
  window.GetTab()->AddTab("one", 0);
  window.GetTab()->AddTab("two", 1);
  window.SetClientSize(-1, -1, 300, 200);
  ShowWindow(window.GetHwnd(), SW_SHOW);
  EXPECT_TRUE(IsWindowVisible(page0.GetHwnd()));
  EXPECT_FALSE(IsWindowVisible(page1.GetHwnd()));
  RECT pageRect = {};
  GetClientRect(page0.GetHwnd(), &pageRect);
  EXPECT_GT(pageRect.right, 250);  // laid out in the tab control's display area

  auto* edit = page0.Add(std::make_unique<CountingEdit>(500));
  edit->SetRect(8, 8, 100, 22);
  SetForegroundWindow(window.GetHwnd());
  SetFocus(edit->GetHwnd());
  ASSERT_TRUE(edit->HasFocus());

  // The user picks the second tab: the control notifies its window.
  window.GetTab()->SetSelection(1);
  NMHDR header = {window.GetTab()->GetHwnd(), 200, static_cast<UINT>(TCN_SELCHANGE)};
  SendMessageA(window.GetHwnd(), WM_NOTIFY, 200, reinterpret_cast<LPARAM>(&header));
  EXPECT_GE(edit->killFocus, 1);
  EXPECT_FALSE(edit->HasFocus());
  EXPECT_FALSE(IsWindowVisible(page0.GetHwnd()));
  EXPECT_TRUE(IsWindowVisible(page1.GetHwnd()));

  // Closing deletes the page's controls and keeps the page objects for the next time.
  window.Close();
  EXPECT_EQ(page0.GetHwnd(), nullptr);
  EXPECT_EQ(page0.GetControlCount(), 0u);
  ASSERT_NE(window.Create(nullptr, WS_OVERLAPPEDWINDOW, nullptr, "Tabs", 200), nullptr);
  EXPECT_NE(page1.GetHwnd(), nullptr);
}

}  // namespace
