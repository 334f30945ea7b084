#include "platform/request_counts.h"

#include <atomic>

namespace platform {
namespace {

constexpr int kMaxPendingInterrupts = 16;

std::atomic<int> g_interrupts{0};
std::atomic<int> g_terminations{0};
// Requests to end since catching began, taken or not: the second one may end the program.
std::atomic<int> g_terminationsSeen{0};
std::atomic<bool> g_secondTerminationEnds{false};
std::atomic<unsigned> g_graceSeconds{0};
// Catchers are made and go on the program's own thread.
int g_catchers = 0;

std::atomic<int>& counter(Request kind) {
  return kind == Request::Interrupt ? g_interrupts : g_terminations;
}

}  // namespace

namespace request_counts {

void countInterrupt() {
  int pending = g_interrupts.load();
  while (pending < kMaxPendingInterrupts &&
         !g_interrupts.compare_exchange_weak(pending, pending + 1)) {
  }
}

TerminationCounted countTermination() {
  g_terminations.fetch_add(1);
  const int before = g_terminationsSeen.fetch_add(1);
  TerminationCounted counted;
  if (before == 0 || !g_secondTerminationEnds.load()) return counted;
  counted.graceSeconds = g_graceSeconds.load();
  counted.endNow = before > 1 || counted.graceSeconds == 0;
  counted.startGrace = !counted.endNow;
  return counted;
}

void countPosted(Request kind) {
  if (kind == Request::Interrupt) {
    countInterrupt();
  } else {
    g_terminations.fetch_add(1);
  }
}

bool beginCatching(const RequestCatching& catching, CatchSettings& replaced) {
  replaced.secondTerminationEnds = g_secondTerminationEnds.exchange(catching.secondTerminationEnds);
  replaced.graceSeconds = g_graceSeconds.exchange(catching.secondTerminationGraceSeconds);
  return g_catchers++ == 0;
}

bool endCatching(const CatchSettings& replaced) {
  g_secondTerminationEnds = replaced.secondTerminationEnds;
  g_graceSeconds = replaced.graceSeconds;
  if (--g_catchers > 0) return false;
  g_interrupts = 0;
  g_terminations = 0;
  g_terminationsSeen = 0;
  return true;
}

}  // namespace request_counts

int pendingRequests(Request kind) {
  return counter(kind).load();
}

bool takeRequest(Request kind) {
  std::atomic<int>& count = counter(kind);
  int pending = count.load();
  while (pending > 0) {
    if (count.compare_exchange_weak(pending, pending - 1)) return true;
  }
  return false;
}

int takeAllRequests(Request kind) {
  return counter(kind).exchange(0);
}

}  // namespace platform
