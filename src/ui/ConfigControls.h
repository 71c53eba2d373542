// The Win32 controls that show a settings item in the settings window (the
// ConfigControl of its view, ConfigItemViews.h): an edit box for the numeric
// families, a combo box for the lists. Both commit the user's input to their
// item (CommitEditText, CommitListChoice) and report whether the value
// changed; the page then applies the change.
#pragma once

#include <windows.h>

#include <string>

#include "settings/SoundConfigItem.h"
#include "ui/ConfigItemViews.h"
#include "ui/Window.h"
#include "ui/WindowControl.h"

// Edit box of an integer or decimal item. Commits on Enter (and applies the
// change itself) and when it loses the focus (EN_KILLFOCUS, which the page
// routes to OnCommand and then applies).
class CWCConfigEdit : public CWCEdit, public ConfigControl {
 public:
  // item and views are not owned and outlive the control.
  CWCConfigEdit(SoundConfigItem& item, ConfigItemViews& views) : m_item(item), m_views(views) {}

  LRESULT WndProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) override;
  bool OnCommand(WPARAM wParam, LPARAM lParam) override;

  // The commit step: the box's text to the item; true when the value changed
  // (and was stored into the record).
  bool Commit();
  SoundConfigItem& GetItem() const { return m_item; }

  // ConfigControl
  void SetText(const std::string& text) override { CWCEdit::SetText(text); }
  void SetEnabled(bool enabled) override;
  int GetEntryCount() override { return 0; }
  std::string GetEntryText(int) override { return std::string(); }
  void SelectEntry(int) override {}

 private:
  SoundConfigItem& m_item;
  ConfigItemViews& m_views;
};

// Combo box of a list item. Commits on CBN_SELCHANGE.
class CWCConfigList : public CWCComboBox, public ConfigControl {
 public:
  // item is not owned and outlives the control.
  explicit CWCConfigList(ConfigList& item) : m_item(item) {}

  bool OnCommand(WPARAM wParam, LPARAM lParam) override;
  ConfigList& GetItem() const { return m_item; }

  // ConfigControl
  void SetText(const std::string& text) override;
  void SetEnabled(bool enabled) override;
  int GetEntryCount() override { return GetCount(); }
  std::string GetEntryText(int index) override { return GetItemText(index); }
  void SelectEntry(int index) override { SetSelection(index); }

 private:
  ConfigList& m_item;
};

// Makes the controls of one settings page: each is added to the page (which
// owns it), placed, given the page's font, and returned for the item's view.
class ConfigPageFactory : public ConfigControlFactory {
 public:
  // page, views and font are not owned.
  ConfigPageFactory(Window& page, ConfigItemViews& views, HFONT font) : m_page(page), m_views(views), m_font(font) {}

  ConfigControl* CreateEdit(SoundConfigItem& item, int id, int x, int y, int width, int height) override;
  ConfigControl* CreateList(ConfigList& item, int id, int x, int y, int width, int height) override;

 private:
  Window& m_page;
  ConfigItemViews& m_views;
  HFONT m_font;
};
