// The dialog's controls as the console keeps them: texts, states, list lines, bars and
// timers, printed as they change. Internal to the console front end.
#pragma once

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "frontends/console/console_host_impl.h"
#include "platform/clock.h"

namespace ui {

class ConsoleWindow : public DialogWindow {
 public:
  struct Control {
    ControlKind kind = ControlKind::StaticText;
    uint32_t style = 0;
    std::string text;
    bool enabled = true;
    bool visible = true;
    bool checked = false;
    std::vector<std::string> items;
    std::vector<int64_t> itemData;
    int topIndex = 0;
    int selection = -1;
    int low = 0, high = 100, pos = 0;
  };
  struct Timer {
    int id;
    uint32_t periodMs;
    uint64_t dueMicros;
  };

  ConsoleWindow(ConsoleHost::Impl& host, ConsoleHost& owner, Dialog& dialog)
      : m_host(host), m_owner(owner), m_dialog(dialog) {
    for (const ControlTemplate& t : dialog.dialogTemplate().controls) {
      if (t.id < 0) continue;
      Control& c = m_controls[t.id];
      c.kind = t.kind;
      c.style = t.style;
      c.text = t.text;
      c.enabled = (t.style & kStyleDisabled) == 0;
      c.visible = (t.style & kStyleHidden) == 0;
    }
  }

  Dialog& dialog() { return m_dialog; }
  bool ended() const { return m_ended; }
  int result() const { return m_result; }
  std::vector<Timer>& timers() { return m_timers; }
  const Control* find(int id) const {
    auto it = m_controls.find(id);
    return it == m_controls.end() ? nullptr : &it->second;
  }

  void setText(int id, const std::string& text) override {
    if (Control* c = get(id)) c->text = text;
  }
  std::string text(int id) const override {
    const Control* c = find(id);
    return c ? c->text : std::string();
  }
  void enable(int id, bool enabled) override {
    if (Control* c = get(id)) c->enabled = enabled;
  }
  bool isEnabled(int id) const override {
    const Control* c = find(id);
    return c && c->enabled;
  }
  void show(int id, bool visible) override {
    if (Control* c = get(id)) c->visible = visible;
  }
  bool isVisible(int id) const override {
    const Control* c = find(id);
    return c && c->visible;
  }
  void setCheck(int id, bool checked) override {
    if (Control* c = get(id)) c->checked = checked;
  }
  bool isChecked(int id) const override {
    const Control* c = find(id);
    return c && c->checked;
  }

  void listReset(int id) override {
    Control* c = get(id);
    if (!c) return;
    c->items.clear();
    c->itemData.clear();
    c->topIndex = 0;
    c->selection = -1;
    if (m_host.lastLineControl == id) m_host.forgetLastLine();
  }
  int listAdd(int id, const std::string& text) override {
    Control* c = get(id);
    if (!c) return -1;
    const int index = insert(*c, text);
    if (c->kind == ControlKind::ListBox) m_host.printListLine(id, text);
    return index;
  }
  int listCount(int id) const override {
    const Control* c = find(id);
    return c ? static_cast<int>(c->items.size()) : 0;
  }
  std::string listText(int id, int index) const override {
    const Control* c = find(id);
    if (!c || index < 0 || index >= static_cast<int>(c->items.size())) return {};
    return c->items[static_cast<size_t>(index)];
  }
  void listDelete(int id, int index) override {
    Control* c = get(id);
    if (!c || index < 0 || index >= static_cast<int>(c->items.size())) return;
    const bool last = index + 1 == static_cast<int>(c->items.size());
    c->items.erase(c->items.begin() + index);
    c->itemData.erase(c->itemData.begin() + index);
    if (c->selection == index) {
      c->selection = -1;
    } else if (c->selection > index) {
      --c->selection;
    }
    if (last && c->kind == ControlKind::ListBox) m_host.unprintListLine(id);
  }
  void listSetTopIndex(int id, int index) override {
    Control* c = get(id);
    if (c && index >= 0 && index < std::max<int>(1, static_cast<int>(c->items.size())))
      c->topIndex = index;
  }
  int listTopIndex(int id) const override {
    const Control* c = find(id);
    return c ? c->topIndex : 0;
  }
  void listSetSelection(int id, int index) override {
    Control* c = get(id);
    if (c) c->selection = index >= 0 && index < static_cast<int>(c->items.size()) ? index : -1;
  }
  int listSelection(int id) const override {
    const Control* c = find(id);
    return c ? c->selection : -1;
  }

  void comboReset(int id) override { listReset(id); }
  int comboAdd(int id, const std::string& text) override {
    Control* c = get(id);
    return c ? insert(*c, text) : -1;
  }
  int comboCount(int id) const override { return listCount(id); }
  std::string comboText(int id, int index) const override { return listText(id, index); }
  void comboSetItemData(int id, int index, int64_t data) override {
    Control* c = get(id);
    if (c && index >= 0 && index < static_cast<int>(c->itemData.size()))
      c->itemData[static_cast<size_t>(index)] = data;
  }
  int64_t comboItemData(int id, int index) const override {
    const Control* c = find(id);
    if (!c || index < 0 || index >= static_cast<int>(c->itemData.size())) return -1;
    return c->itemData[static_cast<size_t>(index)];
  }
  void comboSetSelection(int id, int index) override { listSetSelection(id, index); }
  int comboSelection(int id) const override { return listSelection(id); }

  void progressSetRange(int id, int low, int high) override {
    if (Control* c = get(id)) {
      c->low = low;
      c->high = high;
    }
  }
  void progressSetPos(int id, int pos) override {
    Control* c = get(id);
    if (!c) return;
    const int before = c->pos;
    c->pos = std::clamp(pos, c->low, std::max(c->low, c->high));
    // The end of a transfer is shown when it is reached: a run stops its timer before its
    // last box, so no tick would show it.
    if (id == m_host.options.transferBarId && c->pos == c->high && c->pos != before) {
      m_host.showProgressEnd(*this);
    }
  }
  int progressPos(int id) const override {
    const Control* c = find(id);
    return c ? c->pos : 0;
  }

  void setTimer(int timerId, uint32_t periodMs) override {
    const uint64_t due = platform::clock().nowMicros() + uint64_t{periodMs} * 1000;
    for (Timer& t : m_timers) {
      if (t.id == timerId) {
        t.periodMs = periodMs;
        t.dueMicros = due;
        return;
      }
    }
    m_timers.push_back({timerId, periodMs, due});
  }
  void killTimer(int timerId) override {
    std::erase_if(m_timers, [timerId](const Timer& t) { return t.id == timerId; });
    if (m_timers.empty()) {
      m_host.beginOutput();
      m_host.flush();
    }
  }
  MessageBoxAnswer showMessageBox(const std::string& text, const std::string& /*caption*/,
                                  MessageBoxKind kind) override {
    return m_host.askUser(text, kind);
  }
  void askQuestion(const std::string& text, const std::string& /*caption*/,
                   std::function<void(MessageBoxAnswer)> answered) override {
    m_host.openQuestion(text, std::move(answered));
  }
  void withdrawQuestion() override { m_host.closeQuestion(nullptr); }
  int runModal(Dialog& dialog) override { return m_owner.runModal(dialog); }
  void endDialog(int result) override {
    m_ended = true;
    m_result = result;
  }
  void repaint() override { m_host.flush(); }
  bool pumpMessages() override {
    bool any = false;
    while (m_host.dispatchOne()) any = true;
    return any;
  }
  void appendSystemMenuItem(int, const std::string&) override {}
  void removeSystemMenuClose() override {}

 private:
  Control* get(int id) {
    auto it = m_controls.find(id);
    return it == m_controls.end() ? nullptr : &it->second;
  }
  // Appends, or inserts in plain character order into a sorted list.
  static int insert(Control& c, const std::string& text) {
    auto at = c.items.end();
    if (c.style & kStyleSorted) at = std::upper_bound(c.items.begin(), c.items.end(), text);
    const auto index = at - c.items.begin();
    c.items.insert(at, text);
    c.itemData.insert(c.itemData.begin() + index, 0);
    if (c.selection >= index) ++c.selection;
    return static_cast<int>(index);
  }

  ConsoleHost::Impl& m_host;
  ConsoleHost& m_owner;
  Dialog& m_dialog;
  std::map<int, Control> m_controls;
  std::vector<Timer> m_timers;
  bool m_ended = false;
  int m_result = 0;
};

}  // namespace ui
