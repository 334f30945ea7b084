#include "platform/message_pump.h"

namespace platform {
namespace {
std::function<bool()> g_hook;
}

void setMessagePumpHook(std::function<bool()> hook) {
  g_hook = std::move(hook);
}

bool dispatchOneMessage() {
  return g_hook ? g_hook() : false;
}

}  // namespace platform
