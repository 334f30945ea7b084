// A serial device that hands every operation to another one: the base of wrappers that
// watch or spoil a line (count its bytes, damage one echo) by overriding only what they
// change.
#pragma once

#include <memory>
#include <utility>

#include "serial/serial_device.h"

namespace platform {

class ForwardingSerialDevice : public SerialDevice {
 public:
  explicit ForwardingSerialDevice(std::unique_ptr<SerialDevice> inner)
      : m_inner(std::move(inner)) {}

  bool open() override { return m_inner->open(); }
  PortFailure openFailure() const override { return m_inner->openFailure(); }
  void close() override { m_inner->close(); }
  bool isOpen() const override { return m_inner->isOpen(); }
  bool setQueueSizes(uint32_t in, uint32_t out) override { return m_inner->setQueueSizes(in, out); }
  bool purge(bool input, bool output) override { return m_inner->purge(input, output); }
  bool getSettings(LineSettings& s) override { return m_inner->getSettings(s); }
  bool setSettings(const LineSettings& s) override { return m_inner->setSettings(s); }
  ReadResult readByte(uint8_t& byte) override { return m_inner->readByte(byte); }
  bool write(const uint8_t* data, uint32_t size, uint32_t& written) override {
    return m_inner->write(data, size, written);
  }
  bool drain() override { return m_inner->drain(); }
  bool outputHeld(bool& held) override { return m_inner->outputHeld(held); }
  bool modemStatus(bool& cts, bool& dsr) override { return m_inner->modemStatus(cts, dsr); }
  bool setRts() override { return m_inner->setRts(); }
  bool setDtr() override { return m_inner->setDtr(); }
  bool clearDtr() override { return m_inner->clearDtr(); }
  ReceiveDelays receiveDelays() const override { return m_inner->receiveDelays(); }

 protected:
  std::unique_ptr<SerialDevice> m_inner;
};

}  // namespace platform
