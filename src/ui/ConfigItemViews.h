// How the settings window shows the items of the settings model: one view per
// kind of item, each making its control through the window's factory and
// showing its item's value (and, for an edit box, whether the item can be set)
// in it. Portable: the controls are reached through ConfigControl, which the
// Win32 boxes (ConfigControls.h) and the tests' fakes implement.
//
// Main thread only. The views live while the window's controls do; the
// window forgets them (Forget) before its controls go.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "settings/SoundConfig.h"
#include "settings/SoundConfigItem.h"

// What a view needs of the control that shows its item. An edit box uses
// SetText and SetEnabled; a combo box the entry calls.
class ConfigControl {
 public:
  virtual ~ConfigControl() = default;
  virtual void SetText(const std::string& text) = 0;
  virtual void SetEnabled(bool enabled) = 0;
  virtual int GetEntryCount() = 0;
  virtual std::string GetEntryText(int index) = 0;
  virtual void SelectEntry(int index) = 0;
};

// Makes the controls of one settings page (the page and its font are the
// factory's). The list factory adds every entry of the item, in order.
class ConfigControlFactory {
 public:
  virtual ~ConfigControlFactory() = default;
  virtual ConfigControl* CreateEdit(SoundConfigItem& item, int id, int x, int y, int width, int height) = 0;
  virtual ConfigControl* CreateList(ConfigList& item, int id, int x, int y, int width, int height) = 0;
};

// One item shown in one control (neither owned).
class ConfigItemView {
 public:
  virtual ~ConfigItemView() = default;
  // Shows the item's value in the control.
  virtual void ShowValue() = 0;
  // Shows whether the item can be set; only an edit box follows it.
  virtual void ShowEnabled(bool) {}
};

// A number item (integer or decimal) in an edit box.
class ConfigEditView : public ConfigItemView {
 public:
  ConfigEditView(ConfigNumberItem& item, ConfigControl& control) : m_item(item), m_control(control) {}
  void ShowValue() override { m_control.SetText(m_item.GetValue()); }
  void ShowEnabled(bool enabled) override { m_control.SetEnabled(enabled); }

 private:
  ConfigNumberItem& m_item;
  ConfigControl& m_control;
};

// A list item in a combo box of its entries.
class ConfigListView : public ConfigItemView {
 public:
  // The dropped height of a combo box at 96 DPI: room for every entry.
  static int DroppedHeight(const ConfigList& item);

  ConfigListView(ConfigList& item, ConfigControl& control) : m_item(item), m_control(control) {}
  // Selects the entry equal to the value. A box without that entry (its
  // list and the item's no longer agree) is logged and left as it is.
  void ShowValue() override;

 private:
  ConfigList& m_item;
  ConfigControl& m_control;
};

// The views of the settings window's controls over one model.
class ConfigItemViews {
 public:
  // model is not owned and outlives this object.
  explicit ConfigItemViews(SoundConfig& model) : m_model(model) {}
  ConfigItemViews(const ConfigItemViews&) = delete;
  ConfigItemViews& operator=(const ConfigItemViews&) = delete;

  SoundConfig& Model() const { return m_model; }

  // Makes the control of item index with factory: an edit box for a number,
  // a combo box (as high as DroppedHeight, whatever height says) for a list,
  // none for another kind. The control shows the value and is kept until
  // Forget; null when none was made.
  ConfigControl* Create(int32_t index, ConfigControlFactory& factory, int id, int x, int y, int width, int height);
  // Every control shows its item's value, and whether it can be set.
  void ShowValues();
  // Every edit box is enabled when the model enables its item.
  void ShowEnabled();
  // After a commit in one of the controls: the model applies the change
  // (SoundConfig::Apply) and the edit boxes follow what can be set now.
  void Apply(const ConfigSnapshot& snapshot);
  // The window is closing: its controls are no longer touched.
  void Forget() { m_views.clear(); }

 private:
  struct Shown {
    int32_t index;
    std::unique_ptr<ConfigItemView> view;
  };
  SoundConfig& m_model;
  std::vector<Shown> m_views;
};
