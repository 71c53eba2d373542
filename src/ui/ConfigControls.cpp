#include <windows.h>

#include "ui/ConfigControls.h"

#include <memory>

#include "ui/Window.h"

// ---- CWCConfigEdit ----

bool CWCConfigEdit::Commit() {
  EditCommit commit = CommitEditText(m_item, GetText());
  if (commit.rewriteBox) CWCEdit::SetText(commit.boxText);
  return commit.changed;
}

LRESULT CWCConfigEdit::WndProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_KEYDOWN:
      if (wParam == VK_RETURN) {
        ConfigSnapshot snapshot = m_views.Model().TakeSnapshot();
        if (Commit()) m_views.Apply(snapshot);
      }
      break;
    case WM_CHAR:
      // A single-line box beeps at a carriage return; Enter has done its work.
      if (wParam == '\r') return 0;
      break;
    case WM_GETDLGCODE: {
      // Enter belongs to the box, also in a window that runs the dialog
      // manager's keyboard handling.
      const MSG* msg = reinterpret_cast<const MSG*>(lParam);
      LRESULT code = CallPrevious(hwnd, message, wParam, lParam);
      if (msg != nullptr && (msg->message == WM_KEYDOWN || msg->message == WM_CHAR) && msg->wParam == VK_RETURN) {
        code |= DLGC_WANTALLKEYS;
      }
      return code;
    }
    default:
      break;
  }
  return CWCEdit::WndProc(hwnd, message, wParam, lParam);
}

bool CWCConfigEdit::OnCommand(WPARAM wParam, LPARAM) {
  if (HIWORD(wParam) != EN_KILLFOCUS) return false;
  return Commit();
}

void CWCConfigEdit::SetEnabled(bool enabled) {
  if (m_hWnd != nullptr) EnableWindow(m_hWnd, enabled ? TRUE : FALSE);
}

// ---- CWCConfigList ----

bool CWCConfigList::OnCommand(WPARAM wParam, LPARAM) {
  if (HIWORD(wParam) != CBN_SELCHANGE) return false;
  return CommitListChoice(m_item, GetSelection());
}

void CWCConfigList::SetText(const std::string& text) {
  int count = GetCount();
  for (int i = 0; i < count; ++i) {
    if (GetItemText(i) == text) {
      SetSelection(i);
      return;
    }
  }
}

void CWCConfigList::SetEnabled(bool enabled) {
  if (m_hWnd != nullptr) EnableWindow(m_hWnd, enabled ? TRUE : FALSE);
}

// ---- ConfigPageFactory ----

ConfigControl* ConfigPageFactory::CreateEdit(SoundConfigItem& item, int id, int x, int y, int width, int height) {
  auto made = std::make_unique<CWCConfigEdit>(item, m_views);
  made->SetId(id);
  made->SetExStyle(made->GetExStyle() | WS_EX_CLIENTEDGE | WS_EX_WINDOWEDGE);
  CWCConfigEdit* edit = m_page.Add(std::move(made));  // the page owns it from here
  edit->SetText(item.GetValue());
  edit->SetRect(x, y, width, height);
  edit->SetFont(m_font);
  if (edit->GetHwnd() != nullptr) edit->Subclass();
  return edit;
}

ConfigControl* ConfigPageFactory::CreateList(ConfigList& item, int id, int x, int y, int width, int height) {
  auto made = std::make_unique<CWCConfigList>(item);
  made->SetId(id);
  CWCConfigList* list = m_page.Add(std::move(made));  // the page owns it from here
  for (uint32_t i = 0;; ++i) {
    std::string entry = item.GetEntry(i);
    if (entry.empty()) break;
    list->AddString(entry);
  }
  list->SetRect(x, y, width, height);
  list->SetFont(m_font);
  list->FitDropDownWidth();
  return list;
}
