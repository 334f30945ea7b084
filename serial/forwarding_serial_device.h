// A serial device that hands every operation to another one: the base of wrappers that
// watch or spoil a line (count its bytes, damage one echo) by overriding only the
// implementation of what they change (writeImpl, readByteImpl, ...).
#pragma once

#include <memory>
#include <utility>

#include "serial/serial_device.h"

namespace serial {

class ForwardingSerialDevice : public SerialDevice {
 public:
  explicit ForwardingSerialDevice(std::unique_ptr<SerialDevice> inner)
      : m_inner(std::move(inner)) {}

  PortFailure openFailure() const override { return m_inner->openFailure(); }
  bool isOpen() const override { return m_inner->isOpen(); }
  ReceiveDelays receiveDelays() const override { return m_inner->receiveDelays(); }

 protected:
  bool openImpl() override { return m_inner->open(); }
  void closeImpl() override { m_inner->close(); }
  bool setQueueSizesImpl(uint32_t in, uint32_t out) override {
    return m_inner->setQueueSizes(in, out);
  }
  bool purgeImpl(bool input, bool output) override { return m_inner->purge(input, output); }
  bool getSettingsImpl(LineSettings& s) override { return m_inner->getSettings(s); }
  bool setSettingsImpl(const LineSettings& s) override { return m_inner->setSettings(s); }
  ReadResult readByteImpl(uint8_t& byte) override { return m_inner->readByte(byte); }
  bool writeImpl(const uint8_t* data, uint32_t size, uint32_t& written) override {
    return m_inner->write(data, size, written);
  }
  bool drainImpl() override { return m_inner->drain(); }
  bool outputHeldImpl(bool& held) override { return m_inner->outputHeld(held); }
  bool modemStatusImpl(bool& cts, bool& dsr) override { return m_inner->modemStatus(cts, dsr); }
  bool setRtsImpl() override { return m_inner->setRts(); }
  bool setDtrImpl() override { return m_inner->setDtr(); }
  bool clearDtrImpl() override { return m_inner->clearDtr(); }

  std::unique_ptr<SerialDevice> m_inner;
};

}  // namespace serial
