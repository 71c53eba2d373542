#include "ui/ConfigItemViews.h"

#include <utility>

#include "support/Log.h"

// ---- ConfigListView ----

int ConfigListView::DroppedHeight(const ConfigList& item) {
  return (static_cast<int>(item.GetEntryCount()) + 2) * 14;
}

void ConfigListView::ShowValue() {
  const std::string value = m_item.GetValue();
  const int count = m_control.GetEntryCount();
  for (int i = 0; i < count; ++i) {
    if (m_control.GetEntryText(i) == value) {
      m_control.SelectEntry(i);
      return;
    }
  }
  Log("ConfigListView: %s: the box has no entry \"%s\"; its choice is left as it is\n", m_item.GetKey().c_str(),
      value.c_str());
}

// ---- ConfigItemViews ----

ConfigControl* ConfigItemViews::Create(int32_t index, ConfigControlFactory& factory, int id, int x, int y, int width,
                                       int height) {
  SoundConfigItem* item = m_model.GetItem(index);
  if (item == nullptr) return nullptr;
  std::unique_ptr<ConfigItemView> view;
  ConfigControl* control = nullptr;
  if (auto* number = dynamic_cast<ConfigNumberItem*>(item)) {
    control = factory.CreateEdit(*number, id, x, y, width, height);
    if (control != nullptr) view = std::make_unique<ConfigEditView>(*number, *control);
  } else if (auto* list = dynamic_cast<ConfigList*>(item)) {
    control = factory.CreateList(*list, id, x, y, width, ConfigListView::DroppedHeight(*list));
    if (control != nullptr) view = std::make_unique<ConfigListView>(*list, *control);
  }
  if (view == nullptr) return nullptr;
  view->ShowValue();
  m_views.push_back(Shown{index, std::move(view)});
  return control;
}

void ConfigItemViews::ShowValues() {
  for (Shown& shown : m_views) shown.view->ShowValue();
  ShowEnabled();
}

void ConfigItemViews::ShowEnabled() {
  for (Shown& shown : m_views) shown.view->ShowEnabled(m_model.IsItemEnabled(shown.index));
}

void ConfigItemViews::Apply(const ConfigSnapshot& snapshot) {
  m_model.Apply(snapshot);
  ShowEnabled();
}
