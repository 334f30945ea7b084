#include "tests/frontends/win32/window_driver.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "frontends/win32/test_hooks/win32_test_hooks.h"

namespace win32_test {
namespace hooks = ui::win32::test_hooks;
namespace {

constexpr uint32_t kPollMs = 2;

// A PNG of 8-bit RGB rows, its image data in stored (uncompressed) deflate blocks: large,
// but written without a compression library.
uint32_t crc32(const std::string& bytes) {
  uint32_t crc = 0xFFFFFFFFu;
  for (unsigned char b : bytes) {
    crc ^= b;
    for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return crc ^ 0xFFFFFFFFu;
}

void putBig(std::string& out, uint32_t value) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<char>(value >> shift));
}

void chunk(std::string& out, const char* type, const std::string& data) {
  putBig(out, static_cast<uint32_t>(data.size()));
  const std::string typed = std::string(type, 4) + data;
  out += typed;
  putBig(out, crc32(typed));
}

std::string png(const hooks::Picture& picture) {
  std::string raw;
  for (int y = 0; y < picture.height; ++y) {
    raw.push_back(0);  // no filter
    for (int x = 0; x < picture.width; ++x) {
      const uint32_t p = picture.pixels[static_cast<size_t>(y) * picture.width + x];
      raw.push_back(static_cast<char>(p >> 16));
      raw.push_back(static_cast<char>(p >> 8));
      raw.push_back(static_cast<char>(p));
    }
  }
  std::string zlib = "\x78\x01";
  uint32_t a = 1;
  uint32_t b = 0;
  for (unsigned char c : raw) {
    a = (a + c) % 65521;
    b = (b + a) % 65521;
  }
  for (size_t at = 0; at < raw.size() || at == 0; at += 65535) {
    const size_t length = std::min<size_t>(65535, raw.size() - at);
    const bool last = at + length >= raw.size();
    zlib.push_back(last ? 1 : 0);
    zlib.push_back(static_cast<char>(length & 0xFF));
    zlib.push_back(static_cast<char>(length >> 8));
    zlib.push_back(static_cast<char>(~length & 0xFF));
    zlib.push_back(static_cast<char>((~length >> 8) & 0xFF));
    zlib.append(raw, at, length);
    if (last) break;
  }
  putBig(zlib, (b << 16) | a);
  std::string header;
  putBig(header, static_cast<uint32_t>(picture.width));
  putBig(header, static_cast<uint32_t>(picture.height));
  header +=
      std::string("\x08\x02\x00\x00\x00", 5);  // 8 bits, RGB, deflate, no filter, no interlace
  std::string out = "\x89PNG\r\n\x1a\n";
  chunk(out, "IHDR", header);
  chunk(out, "IDAT", zlib);
  chunk(out, "IEND", "");
  return out;
}

}  // namespace

namespace {

void save(const hooks::Picture& picture, const char* name) {
  ASSERT_GT(picture.width, 0) << name;
  const char* dir = std::getenv("ZEL_SCREENSHOT_DIR");
  if (!dir || !*dir) return;
  std::ofstream out(std::string(dir) + "/" + name, std::ios::binary);
  const std::string bytes = png(picture);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  EXPECT_TRUE(out.good()) << name;
}

}  // namespace

void screenshot(int dialogId, const char* name) {
  save(hooks::picture(dialogId), name);
}

void boxScreenshot(const char* name) {
  save(hooks::messageBoxPicture(), name);
}

void systemMenuScreenshot(int dialogId, const char* name, std::vector<bool>* enabled) {
  save(hooks::systemMenuPicture(dialogId, enabled), name);
}

void historyScreenshot(const char* name) {
  save(hooks::historyPicture(), name);
}

void helpTextScreenshot(const char* name) {
  save(hooks::helpTextPicture(), name);
}

WindowDriver::WindowDriver(int timeoutMs) : m_timeoutMs(timeoutMs) {}

WindowDriver::~WindowDriver() {
  hooks::setPoll(0, {});
}

WindowDriver& WindowDriver::then(const std::string& what, Step step) {
  m_steps.push_back(Entry{what, std::move(step)});
  return *this;
}

WindowDriver& WindowDriver::waitForDialog(int dialogId) {
  return then("dialog " + std::to_string(dialogId) + " shown",
              [dialogId] { return hooks::dialogShown(dialogId); });
}

WindowDriver& WindowDriver::click(int dialogId, int controlId) {
  return then("click " + std::to_string(controlId) + " of " + std::to_string(dialogId),
              [dialogId, controlId] {
                const hooks::ControlState control = hooks::control(dialogId, controlId);
                // Only the window that has the input (no box above it) takes the click.
                if (!control.exists || !control.enabled || !hooks::dialogHasInput(dialogId))
                  return false;
                hooks::click(dialogId, controlId);
                return true;
              });
}

WindowDriver& WindowDriver::answer(ui::MessageBoxAnswer answer) {
  return then("a message box answered", [this, answer] {
    const hooks::BoxState box = hooks::messageBox();
    if (!box.shown) return false;
    m_boxes.push_back(SeenBox{box.text, box.caption, box.kind});
    hooks::answerMessageBox(answer);
    return true;
  });
}

WindowDriver& WindowDriver::answer(const std::string& text, ui::MessageBoxAnswer answer) {
  then("the box \"" + text + "\"", [text] {
    const hooks::BoxState box = hooks::messageBox();
    if (!box.shown) return false;
    EXPECT_EQ(box.text, text);
    return true;
  });
  return this->answer(answer);
}

WindowDriver& WindowDriver::check(const std::string& what, std::function<void()> action) {
  return then(what, [action = std::move(action)] {
    action();
    return true;
  });
}

void WindowDriver::start() {
  m_stepStarted = std::chrono::steady_clock::now();
  hooks::setPoll(kPollMs, [this] { poll(); });
}

void WindowDriver::poll() {
  if (done()) return;
  Entry& entry = m_steps[m_next];
  if (entry.step()) {
    if (std::getenv("ZEL_DRIVER_TRACE"))
      std::fprintf(stderr, "step %s after %lld ms\n", entry.what.c_str(),
                   static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                              std::chrono::steady_clock::now() - m_stepStarted)
                                              .count()));
    ++m_next;
    m_stepStarted = std::chrono::steady_clock::now();
    return;
  }
  const auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(
      std::chrono::steady_clock::now() - m_stepStarted);
  if (waited.count() > m_timeoutMs) {
    // A window that waits for an answer nobody gives would hang the suite: give up loudly.
    std::fprintf(stderr, "window driver: step %zu (%s) not done within %d ms\n", m_next,
                 entry.what.c_str(), m_timeoutMs);
    const hooks::BoxState box = hooks::messageBox();
    if (box.shown) std::fprintf(stderr, "box shown: %s\n", box.text.c_str());
    std::fflush(stderr);
    std::_Exit(1);
  }
}

}  // namespace win32_test
