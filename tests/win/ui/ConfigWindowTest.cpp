// The settings window on real windows: its pages and rows, the combo boxes,
// the commits of the boxes and what they send, and the window's life (shown
// twice, closed and opened again, values received while it was closed).
#include <windows.h>
#include <commctrl.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "SettingsFakes.h"
#include "TestUtil.h"
#include "UiTestUtil.h"
#include "resources/resource.h"
#include "support/Language.h"
#include "support/Strings.h"
#include "ui/ConfigControls.h"
#include "ui/ConfigWindow.h"

namespace {

HFONT MakeDialogFont() {
  LOGFONTA font = {};
  GetObjectA(GetStockObject(DEFAULT_GUI_FONT), sizeof(font), &font);
  font.lfHeight = 14;
  font.lfWidth = 0;
  return CreateFontIndirectA(&font);
}

// A control's rectangle in its parent's client coordinates.
RECT PlaceOf(HWND control) {
  RECT rect = {};
  GetWindowRect(control, &rect);
  MapWindowPoints(HWND_DESKTOP, GetParent(control), reinterpret_cast<POINT*>(&rect), 2);
  return rect;
}

class ConfigWindowTest : public ::testing::Test {
 protected:
  ConfigWindowTest() : m_model(&m_channel, true, m_dir.Path()), m_window(m_model) {}

  void SetUp() override {
    InitUiTest();
    UseTestResources();
    m_channel.status = PacketChannel::Status::CONNECTED;
    m_model.SetCapture(&m_capture);
    m_font = MakeDialogFont();
    m_window.Register(GetModuleHandleA(nullptr), nullptr, m_font);
  }
  void TearDown() override {
    m_window.Close();
    DrainMessages();
    DeleteObject(m_font);
  }

  int IndexOf(const std::string& key) const {
    for (int i = 0; i < m_model.GetCount(); ++i) {
      if (m_model.GetItem(i)->GetKey() == key) return i;
    }
    ADD_FAILURE() << "no item " << key;
    return 0;
  }
  template <typename Control>
  Control* ControlOf(const std::string& key) const {
    Control* control = dynamic_cast<Control*>(m_window.FindItemControl(IndexOf(key)));
    EXPECT_NE(control, nullptr) << key;
    return control;
  }
  // The user picks entry index of an item's combo box.
  void Choose(const std::string& key, int index) {
    CWCConfigList* combo = ControlOf<CWCConfigList>(key);
    combo->SetSelection(index);
    SendMessageA(GetParent(combo->GetHwnd()), WM_COMMAND, MAKEWPARAM(combo->GetId(), CBN_SELCHANGE),
                 reinterpret_cast<LPARAM>(combo->GetHwnd()));
  }
  // The user types into an item's box (the box has the focus).
  CWCConfigEdit* Type(const std::string& key, const std::string& text) {
    CWCConfigEdit* edit = ControlOf<CWCConfigEdit>(key);
    SetForegroundWindow(m_window.GetHwnd());
    SetFocus(edit->GetHwnd());
    SetWindowTextA(edit->GetHwnd(), text.c_str());
    return edit;
  }
  std::string Value(const std::string& key) const { return m_model.GetItem(IndexOf(key))->GetValue(); }
  // Handles every waiting message through the window's keyboard handling,
  // as the program's message loop does.
  void Pump() {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (msg.message == WM_QUIT || m_window.TranslateDialogMessage(&msg)) continue;
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    }
  }
  // The user presses a key, with Ctrl and Shift held or not: the key goes
  // where the keyboard is, through the message loop, and the modifiers are
  // held in the thread's key state while it is handled.
  void Press(WPARAM key, bool control = false, bool shift = false) {
    BYTE state[256] = {};
    GetKeyboardState(state);
    state[VK_CONTROL] = control ? 0x80 : 0;
    state[VK_SHIFT] = shift ? 0x80 : 0;
    SetKeyboardState(state);
    HWND target = GetFocus() != nullptr ? GetFocus() : m_window.GetHwnd();
    PostMessageA(target, WM_KEYDOWN, key, 1);
    if (key == VK_RETURN || key == VK_ESCAPE) PostMessageA(target, WM_CHAR, key == VK_RETURN ? '\r' : 0x1B, 1);
    Pump();
    state[VK_CONTROL] = 0;
    state[VK_SHIFT] = 0;
    SetKeyboardState(state);
  }
  // The id of the control that has the keyboard (0: none of the window's).
  int FocusId() const {
    HWND focus = GetFocus();
    return focus != nullptr && IsChild(m_window.GetHwnd(), focus) ? GetDlgCtrlID(focus) : 0;
  }
  // The ids of the enabled boxes of a page, in row order: the order of Tab.
  std::vector<int> BoxesOf(int page) const {
    std::vector<int> ids;
    for (int i = 0; i < m_model.GetCount(); ++i) {
      if (ConfigWindow::ClientIndexOf(*m_model.GetItem(i)) != page) continue;
      if (IsWindowEnabled(m_window.FindItemControl(i)->GetHwnd())) ids.push_back(ConfigWindow::CONTROL_ID_BASE + i);
    }
    return ids;
  }

  TempDir m_dir;
  FakeChannel m_channel;
  FakeCapture m_capture;
  SoundConfig m_model;
  ConfigWindow m_window;
  HFONT m_font = nullptr;
};

TEST_F(ConfigWindowTest, PagesRowsAndTabs) {
  m_window.Show();
  HWND hwnd = m_window.GetHwnd();
  ASSERT_NE(hwnd, nullptr);
  // 500 x 480, or wider when the hints need it (LabelsAndHintsFitTheirBoxes).
  const ConfigWindow::Layout& layout = m_window.GetLayout();
  RECT client = {};
  GetClientRect(hwnd, &client);
  EXPECT_GE(layout.clientWidth, 500);
  EXPECT_EQ(client.right, layout.clientWidth);
  EXPECT_EQ(client.bottom, 480);
  char className[64] = {};
  GetClassNameA(hwnd, className, sizeof(className));
  EXPECT_EQ(std::string(className), WithoutMnemonic(LoadResourceString(IDS_SETTINGS)));

  CWCTab* tab = m_window.GetTab();
  ASSERT_EQ(tab->GetTabCount(), 8);
  EXPECT_EQ(tab->GetId(), 200);
  const char* texts[] = {"Param 1", "Param 2", "Reverb A", "Reverb B", "Delay A", "Delay B", "Analyzer", "Filter"};
  for (int i = 0; i < 8; ++i) {
    char text[32] = {};
    TCITEMA item = {};
    item.mask = TCIF_TEXT;
    item.pszText = text;
    item.cchTextMax = sizeof(text);
    SendMessageA(tab->GetHwnd(), TCM_GETITEMA, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&item));
    EXPECT_STREQ(text, texts[i]);
  }
  for (int i = 1; i < 8; ++i) EXPECT_FALSE(IsWindowVisible(m_window.GetClient(i)->GetHwnd())) << i;

  // Every item has its three controls; "Reverb A" holds items 19 to 30.
  int perPage[8] = {};
  for (int i = 0; i < m_model.GetCount(); ++i) {
    int page = ConfigWindow::ClientIndexOf(*m_model.GetItem(i));
    ++perPage[page];
    ConfigClientWindow* client = m_window.GetClient(page);
    EXPECT_NE(client->FindControl(500 + i), nullptr) << i;
    auto* label = dynamic_cast<CWCStatic*>(client->FindControl(300 + i));
    auto* hint = dynamic_cast<CWCStatic*>(client->FindControl(700 + i));
    ASSERT_NE(label, nullptr);
    ASSERT_NE(hint, nullptr);
    EXPECT_EQ(label->GetText(), m_model.GetItem(i)->GetKey());
    EXPECT_EQ(hint->GetText(), m_model.GetItem(i)->GetHint());
  }
  const int expected[8] = {8, 11, 12, 12, 4, 4, 10, 7};
  for (int page = 0; page < 8; ++page) EXPECT_EQ(perPage[page], expected[page]) << page;
  for (int i = 19; i <= 30; ++i) EXPECT_EQ(ConfigWindow::ClientIndexOf(*m_model.GetItem(i)), 2);

  ConfigClientWindow* reverbA = m_window.GetClient(2);
  RECT first = PlaceOf(reverbA->FindControl(500 + 19)->GetHwnd());
  EXPECT_EQ(first.left, layout.boxX);
  EXPECT_EQ(first.top, 8);
  RECT last = PlaceOf(reverbA->FindControl(500 + 30)->GetHwnd());
  EXPECT_EQ(last.top, 360);
  EXPECT_EQ(last.right - last.left, 128);
  EXPECT_EQ(last.bottom - last.top, 22);
  RECT label = PlaceOf(reverbA->FindControl(300 + 30)->GetHwnd());
  EXPECT_EQ(label.left, 8);
  EXPECT_EQ(label.top, 364);
  EXPECT_EQ(label.right - label.left, layout.labelWidth);
  RECT hint = PlaceOf(reverbA->FindControl(700 + 30)->GetHwnd());
  EXPECT_EQ(hint.left, layout.hintX);
  EXPECT_EQ(hint.right - hint.left, layout.hintWidth);
  // The columns keep their places and widths unless a text needs more.
  EXPECT_GE(layout.labelWidth, 128);
  EXPECT_EQ(layout.boxX, 8 + layout.labelWidth);
  EXPECT_EQ(layout.hintX, layout.boxX + 128 + 24);
  EXPECT_GE(layout.hintWidth, 144);

  // Every control uses the window's font.
  EXPECT_EQ(reinterpret_cast<HFONT>(SendMessageA(tab->GetHwnd(), WM_GETFONT, 0, 0)), m_font);
  EXPECT_EQ(reinterpret_cast<HFONT>(SendMessageA(reverbA->FindControl(300 + 30)->GetHwnd(), WM_GETFONT, 0, 0)), m_font);
}

// Every label and hint is shown whole: its text, measured in the control's
// own font, is no wider than the control, which lies inside its page and
// clear of the box beside it. Run in both languages.
// At 96 DPI and moved to monitors of 144, 192 and 96 DPI again
// (WM_DPICHANGED): the window and its rows are those of 96 DPI scaled, in a
// font made for the DPI (the one made before freed), what a box holds stays,
// and every label and hint fits its box.
TEST_F(ConfigWindowTest, LabelsAndHintsFitTheirBoxes) {
  m_window.Show();
  const HWND hwnd = m_window.GetHwnd();
  ConfigClientWindow* reverbA = m_window.GetClient(2);
  const HWND firstBox = reverbA->FindControl(500 + 19)->GetHwnd();
  HFONT previousFont = m_font;
  int previousDpi = 96;
  for (int dpi : {96, 144, 192, 96}) {
    SCOPED_TRACE("DPI " + std::to_string(dpi));
    auto scaled = [&](int length) { return MulDiv(length, dpi, 96); };
    if (dpi != previousDpi) {
      SetWindowTextA(firstBox, "12345");
      RECT frame = {};
      GetWindowRect(hwnd, &frame);
      RECT suggested = {frame.left + 10, frame.top + 20,
                        frame.left + 10 + MulDiv(frame.right - frame.left, dpi, previousDpi),
                        frame.top + 20 + MulDiv(frame.bottom - frame.top, dpi, previousDpi)};
      EXPECT_EQ(SendMessageA(hwnd, WM_DPICHANGED, MAKEWPARAM(dpi, dpi), reinterpret_cast<LPARAM>(&suggested)), 0);
      RECT moved = {};
      GetWindowRect(hwnd, &moved);
      EXPECT_EQ(moved.left, suggested.left);
      EXPECT_EQ(moved.top, suggested.top);
      EXPECT_EQ(m_window.GetDpi(), dpi);
      char held[16] = {};
      GetWindowTextA(firstBox, held, sizeof(held));
      EXPECT_STREQ(held, "12345");
      const HFONT now = reinterpret_cast<HFONT>(SendMessageA(m_window.GetTab()->GetHwnd(), WM_GETFONT, 0, 0));
      EXPECT_NE(now, previousFont);
      EXPECT_EQ(reinterpret_cast<HFONT>(SendMessageA(firstBox, WM_GETFONT, 0, 0)), now);
      // The test's font stays; each one the window made is freed with the next.
      EXPECT_EQ(GetObjectType(previousFont), previousFont == m_font ? static_cast<DWORD>(OBJ_FONT) : 0u);
      LOGFONTA made = {};
      GetObjectA(now, sizeof(made), &made);
      EXPECT_EQ(made.lfHeight, scaled(14));
      previousFont = now;
      previousDpi = dpi;
    }
    RECT client = {};
    GetClientRect(hwnd, &client);
    EXPECT_EQ(client.right, m_window.GetLayout().clientWidth);
    EXPECT_GE(client.right, scaled(500));
    EXPECT_EQ(client.bottom, scaled(480));
    const RECT first = PlaceOf(firstBox);
    EXPECT_EQ(first.left, m_window.GetLayout().boxX);
    EXPECT_EQ(first.top, scaled(8));
    EXPECT_EQ(first.right - first.left, scaled(128));
    int checked = 0;
    for (int i = 0; i < m_model.GetCount(); ++i) {
      ConfigClientWindow* page = m_window.GetClient(ConfigWindow::ClientIndexOf(*m_model.GetItem(i)));
      RECT pageRect = {};
      GetClientRect(page->GetHwnd(), &pageRect);
      const RECT box = PlaceOf(page->FindControl(500 + i)->GetHwnd());
      for (int id : {300 + i, 700 + i}) {
        auto* text = dynamic_cast<CWCStatic*>(page->FindControl(id));
        ASSERT_NE(text, nullptr) << id;
        const std::string shown = text->GetText();
        RECT client = {};
        GetClientRect(text->GetHwnd(), &client);
        const int extent = TextExtent(text->GetHwnd(), shown);
        EXPECT_LE(extent, client.right) << id << " \"" << shown << "\"";
        const RECT place = PlaceOf(text->GetHwnd());
        EXPECT_LE(place.right, pageRect.right) << id << " \"" << shown << "\"";
        if (id < 500) {
          EXPECT_LE(place.right, box.left) << id;
        } else {
          EXPECT_GE(place.left, box.right) << id;
        }
        ++checked;
      }
    }
    EXPECT_EQ(checked, 2 * m_model.GetCount());
  }
  // The range hints are joined by the separator of the code page in use.
  const std::string rate = m_model.GetItem(IndexOf("SamplingRate"))->GetHint();
  EXPECT_NE(rate.find(GetAnsiCodePage() == 932 ? "\x81\x60" : "~"), std::string::npos) << rate;
}

TEST_F(ConfigWindowTest, ComboBoxesDropToTheirEntries) {
  m_window.Show();
  CWCConfigList* panCurve = ControlOf<CWCConfigList>("PanCurve");
  CWCConfigList* bypass = ControlOf<CWCConfigList>("FrontBypassFlag");
  ASSERT_NE(panCurve, nullptr);
  ASSERT_NE(bypass, nullptr);
  EXPECT_EQ(panCurve->GetHeight(), 154);
  EXPECT_EQ(bypass->GetHeight(), 56);
  // The list really drops that far (Wine leaves the selection field and its
  // border out of the dropped rectangle).
  RECT box = {};
  GetWindowRect(panCurve->GetHwnd(), &box);
  RECT dropped = {};
  SendMessageA(panCurve->GetHwnd(), CB_GETDROPPEDCONTROLRECT, 0, reinterpret_cast<LPARAM>(&dropped));
  EXPECT_GE(dropped.bottom - box.top, 154 - (box.bottom - box.top) - 2);
  EXPECT_EQ(panCurve->GetCount(), 9);
  EXPECT_EQ(panCurve->GetItemText(panCurve->GetSelection()), Value("PanCurve"));
  EXPECT_GE(SendMessageA(panCurve->GetHwnd(), CB_GETDROPPEDWIDTH, 0, 0), 32);
}

TEST_F(ConfigWindowTest, ChoosingTheSameEntrySendsNothingAnotherAppliesAtOnce) {
  m_window.Show();
  CWCConfigList* panCurve = ControlOf<CWCConfigList>("PanCurve");
  int current = panCurve->GetSelection();
  Choose("PanCurve", current);
  EXPECT_TRUE(m_channel.packets.empty());

  Choose("PanCurve", current == 3 ? 4 : 3);
  ASSERT_EQ(m_channel.packets.size(), 1u);
  EXPECT_EQ(m_channel.packets[0].type, PacketChannel::CONFIG);
  EXPECT_EQ(Value("PanCurve"), panCurve->GetItemText(current == 3 ? 4 : 3));
  EXPECT_EQ(m_model.GetRecord().panCurve, static_cast<uint32_t>(current == 3 ? 4 : 3));
  EXPECT_NE(m_dir.Read(SoundConfig::AUTOSAVE_FILE).find("SINCOS"), std::string::npos);
}

TEST_F(ConfigWindowTest, EnterThenLeavingTheBoxCommitsOnce) {
  m_window.Show();
  CWCConfigEdit* edit = Type("SamplingRate", "48000");
  SendMessageA(edit->GetHwnd(), WM_KEYDOWN, VK_RETURN, 0);
  EXPECT_EQ(Value("SamplingRate"), "48000");
  EXPECT_EQ(m_model.GetSamplingRate(), 48000);
  EXPECT_EQ(m_channel.packets.size(), 1u);
  EXPECT_EQ(m_capture.stops, 1);  // a new rate restarts the capture

  SetFocus(m_window.GetTab()->GetHwnd());  // Tab: the focus leaves the box
  EXPECT_FALSE(edit->HasFocus());
  EXPECT_EQ(m_channel.packets.size(), 1u);
  EXPECT_EQ(m_capture.stops, 1);

  // Leaving alone commits too; a value out of range is clamped in the box.
  Type("SamplingRate", "100");
  SetFocus(m_window.GetTab()->GetHwnd());
  EXPECT_EQ(Value("SamplingRate"), "16000");
  EXPECT_EQ(edit->GetText(), "16000");
  EXPECT_EQ(m_channel.packets.size(), 2u);

  // "1.0" over "1.00" rewrites the box and changes nothing.
  m_window.ShowPage(1);
  CWCConfigEdit* volume = Type("Volume", "1.0");
  SetFocus(m_window.GetTab()->GetHwnd());
  EXPECT_EQ(volume->GetText(), "1.00");
  EXPECT_EQ(m_channel.packets.size(), 2u);
}

// The keys themselves, through a message loop that offers every message to
// the window's keyboard handling as the program's loop does.
TEST_F(ConfigWindowTest, TabKeyMovesOnAndCommitsEnterCommitsInPlace) {
  m_window.Show();
  CWCConfigEdit* edit = Type("SamplingRate", "22050");
  Press(VK_RETURN);
  EXPECT_EQ(Value("SamplingRate"), "22050");
  EXPECT_TRUE(edit->HasFocus());  // Enter stays in the box
  EXPECT_TRUE(m_window.Exists());
  EXPECT_EQ(m_channel.packets.size(), 1u);

  Press(VK_TAB);
  EXPECT_FALSE(edit->HasFocus());
  EXPECT_EQ(FocusId(), 500 + IndexOf("WaveFormat"));  // the next box of the page
  EXPECT_EQ(m_channel.packets.size(), 1u);            // already committed by Enter

  // Enter checks the value as leaving the box does: out of range, clamped
  // in the box and in the record.
  Type("SamplingRate", "100");
  Press(VK_RETURN);
  EXPECT_EQ(Value("SamplingRate"), "16000");
  EXPECT_EQ(edit->GetText(), "16000");
  EXPECT_EQ(m_channel.packets.size(), 2u);
}

// The keyboard starts on the first box, Tab and Shift+Tab walk the boxes of
// the shown page in row order round the end, skipping grayed ones and the
// other pages.
TEST_F(ConfigWindowTest, TabAndShiftTabWalkEachPageInRowOrder) {
  m_window.Show();
  for (int page = 0; page < ConfigWindow::CLIENT_MAX; ++page) {
    m_window.SelectPage(page);
    const std::vector<int> boxes = BoxesOf(page);
    ASSERT_FALSE(boxes.empty()) << page;
    EXPECT_EQ(FocusId(), boxes[0]) << "page " << page;
    for (size_t i = 1; i <= boxes.size(); ++i) {
      Press(VK_TAB);
      EXPECT_EQ(FocusId(), boxes[i % boxes.size()]) << "page " << page << ", Tab " << i;
    }
    for (size_t i = boxes.size(); i > 0; --i) {
      Press(VK_TAB, false, true);
      EXPECT_EQ(FocusId(), boxes[i - 1]) << "page " << page << ", Shift+Tab " << boxes.size() - i + 1;
    }
  }
}

// Ctrl+Tab and Ctrl+Shift+Tab turn the pages round the end; the keyboard
// lands on the new page's first box, and the box left behind is committed.
TEST_F(ConfigWindowTest, CtrlTabTurnsThePagesRoundTheEnd) {
  m_window.Show();
  ASSERT_EQ(FocusId(), 500);  // the first item
  for (int turn = 1; turn <= ConfigWindow::CLIENT_MAX; ++turn) {
    Press(VK_TAB, true);
    const int page = turn % ConfigWindow::CLIENT_MAX;
    EXPECT_EQ(m_window.GetShownPage(), page);
    for (int i = 0; i < ConfigWindow::CLIENT_MAX; ++i) {
      EXPECT_EQ(IsWindowVisible(m_window.GetClient(i)->GetHwnd()) != FALSE, i == page)
          << "turn " << turn << ", page " << i;
    }
    EXPECT_EQ(FocusId(), BoxesOf(page)[0]) << "turn " << turn;
    if (page == 1) {
      // An edit box's text selected, as Tab selects it: typing replaces it.
      DWORD start = 1;
      DWORD end = 0;
      SendMessageA(GetFocus(), EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
      EXPECT_EQ(start, 0u);
      EXPECT_EQ(end, static_cast<DWORD>(Value("Volume").size()));
    }
  }
  Press(VK_TAB, true, true);
  EXPECT_EQ(m_window.GetShownPage(), ConfigWindow::CLIENT_MAX - 1);
  EXPECT_EQ(FocusId(), BoxesOf(ConfigWindow::CLIENT_MAX - 1)[0]);
  Press(VK_TAB, true, true);
  EXPECT_EQ(m_window.GetShownPage(), ConfigWindow::CLIENT_MAX - 2);

  m_window.SelectPage(1);
  Type("Volume", "0.5");
  Press(VK_TAB, true);
  EXPECT_EQ(Value("Volume"), "0.50");
  EXPECT_EQ(m_channel.packets.size(), 1u);
  EXPECT_EQ(m_window.GetShownPage(), 2);
}

// Esc closes the window as its close button does, and what was typed in a
// box counts the same either way.
TEST_F(ConfigWindowTest, EscClosesAsTheCloseButtonDoes) {
  const struct {
    const char* way;
    bool escape;
  } ways[] = {{"the close button", false}, {"Esc", true}};
  int packets = 0;
  for (const auto& way : ways) {
    SCOPED_TRACE(way.way);
    m_window.Show();
    ASSERT_TRUE(m_window.Exists());
    const std::string rate = Value("SamplingRate") == "48000" ? "22050" : "48000";
    Type("SamplingRate", rate);
    if (way.escape) {
      Press(VK_ESCAPE);
    } else {
      SendMessageA(m_window.GetHwnd(), WM_SYSCOMMAND, SC_CLOSE, 0);
      Pump();
    }
    EXPECT_FALSE(m_window.Exists());
    EXPECT_EQ(Value("SamplingRate"), rate);
    EXPECT_EQ(m_channel.packets.size(), static_cast<size_t>(++packets));
  }
  // Esc in an open combo box list closes the list, not the window.
  m_window.Show();
  CWCConfigList* combo = ControlOf<CWCConfigList>("DisplayMode");
  ASSERT_EQ(GetFocus(), combo->GetHwnd());
  SendMessageA(combo->GetHwnd(), CB_SHOWDROPDOWN, TRUE, 0);
  ASSERT_NE(SendMessageA(combo->GetHwnd(), CB_GETDROPPEDSTATE, 0, 0), 0);
  Press(VK_ESCAPE);
  EXPECT_TRUE(m_window.Exists());
  EXPECT_EQ(SendMessageA(combo->GetHwnd(), CB_GETDROPPEDSTATE, 0, 0), 0);
}

// The keyboard stays where it was while the user works in another window.
TEST_F(ConfigWindowTest, TheKeyboardComesBackToItsBoxWithTheWindow) {
  m_window.Show();
  m_window.SelectPage(2);
  Press(VK_TAB);
  Press(VK_TAB);
  const int box = FocusId();
  ASSERT_EQ(box, BoxesOf(2)[2]);
  HWND other = CreateWindowExA(0, "STATIC", "other", WS_POPUP | WS_VISIBLE, 0, 0, 50, 50, nullptr, nullptr,
                               GetModuleHandleA(nullptr), nullptr);
  ASSERT_NE(other, nullptr);
  SetActiveWindow(other);
  Pump();
  EXPECT_EQ(FocusId(), 0);
  m_window.Show();
  EXPECT_EQ(GetActiveWindow(), m_window.GetHwnd());
  EXPECT_EQ(FocusId(), box);
  DestroyWindow(other);
}

TEST_F(ConfigWindowTest, SwitchingTabsCommitsTheFocusedBox) {
  m_window.Show();
  CWCConfigEdit* edit = Type("SamplingRate", "44100");
  ASSERT_TRUE(edit->HasFocus());
  // The user picks "Param 2": the tab control notifies the window.
  CWCTab* tab = m_window.GetTab();
  tab->SetSelection(1);
  NMHDR header = {tab->GetHwnd(), static_cast<UINT_PTR>(tab->GetId()), static_cast<UINT>(TCN_SELCHANGE)};
  SendMessageA(m_window.GetHwnd(), WM_NOTIFY, static_cast<WPARAM>(tab->GetId()), reinterpret_cast<LPARAM>(&header));
  EXPECT_EQ(Value("SamplingRate"), "44100");
  EXPECT_EQ(m_channel.packets.size(), 1u);
  EXPECT_FALSE(IsWindowVisible(m_window.GetClient(0)->GetHwnd()));
  EXPECT_TRUE(IsWindowVisible(m_window.GetClient(1)->GetHwnd()));
  // The keyboard on the new page's first item, not left on the tabs.
  EXPECT_EQ(FocusId(), 500 + IndexOf("Volume"));

  // A click on the tab control itself, which takes the keyboard for itself
  // when pressed: the keyboard still ends on the page's first box.
  RECT reverbA = {};
  ASSERT_NE(SendMessageA(tab->GetHwnd(), TCM_GETITEMRECT, 2, reinterpret_cast<LPARAM>(&reverbA)), 0);
  const LPARAM at = MAKELPARAM((reverbA.left + reverbA.right) / 2, (reverbA.top + reverbA.bottom) / 2);
  SendMessageA(tab->GetHwnd(), WM_LBUTTONDOWN, MK_LBUTTON, at);
  SendMessageA(tab->GetHwnd(), WM_LBUTTONUP, 0, at);
  DrainMessages();
  EXPECT_EQ(m_window.GetShownPage(), 2);
  EXPECT_EQ(FocusId(), BoxesOf(2)[0]);
}

TEST_F(ConfigWindowTest, FilterBoxesFollowTheFilterType) {
  m_window.Show();
  Choose("BiquadType", 0);  // NONE: nothing to set
  Choose("BiquadType", 1);  // a [PL7X] filter takes one value
  EXPECT_TRUE(IsWindowEnabled(ControlOf<CWCConfigEdit>("BiquadValue")->GetHwnd()));
  EXPECT_FALSE(IsWindowEnabled(ControlOf<CWCConfigEdit>("Center Frequency")->GetHwnd()));
  Choose("BiquadType", 6);  // LPF and the others take frequency, gain and Q
  EXPECT_FALSE(IsWindowEnabled(ControlOf<CWCConfigEdit>("BiquadValue")->GetHwnd()));
  EXPECT_TRUE(IsWindowEnabled(ControlOf<CWCConfigEdit>("Center Frequency")->GetHwnd()));
}

TEST_F(ConfigWindowTest, ShowingAgainOnlyBringsTheWindowForward) {
  m_window.Show();
  HWND hwnd = m_window.GetHwnd();
  ShowWindow(hwnd, SW_MINIMIZE);
  m_window.Show();
  EXPECT_EQ(m_window.GetHwnd(), hwnd);
  EXPECT_FALSE(IsIconic(hwnd));
  EXPECT_TRUE(IsWindowVisible(hwnd));
  EXPECT_EQ(GetActiveWindow(), hwnd);
  EXPECT_EQ(m_window.GetClient(2)->GetControlCount(), 36u);  // the rows were not made twice
}

TEST_F(ConfigWindowTest, ClosedWindowShowsReceivedValuesWhenOpenedAgain) {
  m_window.Show();
  m_window.Close();
  DrainMessages();
  EXPECT_FALSE(m_window.Exists());
  EXPECT_EQ(m_window.GetClient(0)->GetHwnd(), nullptr);

  // The device sends its record while the window is closed; the items must
  // not touch the boxes that went with the window.
  SoundConfigData record = m_model.GetRecord();
  record.volume = 0.25f;
  record.biquadType = 6;
  Receive(m_model, record);
  EXPECT_EQ(Value("Volume"), "0.25");

  m_window.Show();
  ASSERT_TRUE(m_window.Exists());
  EXPECT_EQ(ControlOf<CWCConfigEdit>("Volume")->GetText(), "0.25");
  CWCConfigList* biquad = ControlOf<CWCConfigList>("BiquadType");
  EXPECT_EQ(biquad->GetSelection(), 6);
  EXPECT_TRUE(IsWindowEnabled(ControlOf<CWCConfigEdit>("Center Frequency")->GetHwnd()));

  // While it is open, a received record is shown at once.
  record.volume = 0.5f;
  Receive(m_model, record);
  m_window.RefreshControls();
  EXPECT_EQ(ControlOf<CWCConfigEdit>("Volume")->GetText(), "0.50");
}

TEST_F(ConfigWindowTest, DroppedFilesGoToTheDropHandler) {
  std::vector<std::string> dropped;
  m_window.SetDropHandler([&dropped](HDROP drop) {
    UINT count = DragQueryFileA(drop, 0xFFFFFFFF, nullptr, 0);
    for (UINT i = 0; i < count; ++i) {
      char name[MAX_PATH] = {};
      DragQueryFileA(drop, i, name, MAX_PATH);
      dropped.push_back(name);
    }
    DragFinish(drop);
  });
  m_window.Show();
  // A drop of two files as the shell hands it over.
  const char names[] = "C:\\a\\X.WAV\0C:\\b\\s.cfg\0";
  HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, sizeof(DROPFILES) + sizeof(names) + 1);
  ASSERT_NE(memory, nullptr);
  auto* files = static_cast<DROPFILES*>(GlobalLock(memory));
  files->pFiles = sizeof(DROPFILES);
  memcpy(reinterpret_cast<char*>(files) + sizeof(DROPFILES), names, sizeof(names));
  GlobalUnlock(memory);
  SendMessageA(m_window.GetHwnd(), WM_DROPFILES, reinterpret_cast<WPARAM>(memory), 0);
  ASSERT_EQ(dropped.size(), 2u);
  EXPECT_EQ(dropped[0], "C:\\a\\X.WAV");
  EXPECT_EQ(dropped[1], "C:\\b\\s.cfg");
  EXPECT_NE(GetWindowLongPtrA(m_window.GetHwnd(), GWL_EXSTYLE) & WS_EX_ACCEPTFILES, 0);
}

// The window's texts in the user's language: the class is named by the
// "Settings" string (the tab texts and the labels are fixed).
TEST_F(ConfigWindowTest, ClassNameFollowsTheLanguage) {
  const char* expectJapanese = getenv("QUILL_EXPECT_JAPANESE");
  m_window.Show();
  char className[64] = {};
  GetClassNameA(m_window.GetHwnd(), className, sizeof(className));
  if (expectJapanese != nullptr && expectJapanese[0] == '1') {
    EXPECT_STREQ(className, "\x90\xdd\x92\xe8");  // in code page 932
  } else {
    EXPECT_STREQ(className, "Settings");
  }
}

}  // namespace

namespace {

// Writes a window's picture as a 24-bit BMP file.
bool SaveWindowPicture(HWND hwnd, const std::string& path) {
  RECT rect = {};
  GetWindowRect(hwnd, &rect);
  int width = rect.right - rect.left;
  int height = rect.bottom - rect.top;
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
  HGDIOBJ old = SelectObject(memory, bitmap);
  // Copied from the screen: the window is on top of a display of its own.
  BitBlt(memory, 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY);
  BITMAPINFOHEADER info = {};
  info.biSize = sizeof(info);
  info.biWidth = width;
  info.biHeight = height;
  info.biPlanes = 1;
  info.biBitCount = 24;
  info.biCompression = BI_RGB;
  int stride = (width * 3 + 3) & ~3;
  std::vector<char> pixels(static_cast<size_t>(stride) * static_cast<size_t>(height));
  SelectObject(memory, old);
  GetDIBits(memory, bitmap, 0, static_cast<UINT>(height), pixels.data(), reinterpret_cast<BITMAPINFO*>(&info),
            DIB_RGB_COLORS);
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  BITMAPFILEHEADER file = {};
  file.bfType = 0x4D42;
  file.bfOffBits = sizeof(file) + sizeof(info);
  file.bfSize = file.bfOffBits + static_cast<DWORD>(pixels.size());
  FILE* out = fopen(path.c_str(), "wb");
  if (out == nullptr) return false;
  fwrite(&file, sizeof(file), 1, out);
  fwrite(&info, sizeof(info), 1, out);
  fwrite(pixels.data(), 1, pixels.size(), out);
  return fclose(out) == 0;
}

// A tool for review, not a test: with QUILL_UI_SHOTS naming a folder, writes
// a picture of every page of the settings window there (page0.bmp to
// page7.bmp). The test entries leave it out (tests/win/ui/CMakeLists.txt);
// run it by hand in the build folder (build/win64), with a folder that exists:
//   QUILL_UI_SHOTS='Z:\tmp' ../../tests/win/ui/with-display bin/ui_win_tests.exe
//   --gtest_filter='ConfigWindowPictures.*'
class ConfigWindowPictures : public ConfigWindowTest {};

TEST_F(ConfigWindowPictures, EveryPageForReview) {
  const char* folder = getenv("QUILL_UI_SHOTS");
  ASSERT_TRUE(folder != nullptr && folder[0] != '\0') << "QUILL_UI_SHOTS names no folder for the pictures";
  m_window.Show();
  SetWindowPos(m_window.GetHwnd(), HWND_TOP, 0, 0, 0, 0, SWP_NOSIZE);
  for (int page = 0; page < ConfigWindow::CLIENT_MAX; ++page) {
    m_window.GetTab()->SetSelection(page);
    m_window.ShowPage(page);
    RedrawWindow(m_window.GetHwnd(), nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    DrainMessages();
    EXPECT_TRUE(SaveWindowPicture(m_window.GetHwnd(), std::string(folder) + "\\page" + std::to_string(page) + ".bmp"));
  }
}

}  // namespace
