#include "ui/history_view.h"

namespace ui {
namespace {

HistoryProvider& provider() {
  static HistoryProvider installed;
  return installed;
}

}  // namespace

void setHistoryProvider(HistoryProvider provider_) {
  provider() = std::move(provider_);
}

const HistoryProvider& historyProvider() {
  return provider();
}

}  // namespace ui
