// Update mode: boot ROM, loader, transfer program and the packet protocol with its
// commands, driven by hand-built bytes.
#include <gtest/gtest.h>

#include <numeric>

#include "sim/registry.h"
#include "tests/sim/sim_fixture.h"
#include "tests/support/temp_dir.h"

namespace sim_testing {
namespace {

constexpr uint8_t kB16 = 2;
constexpr uint8_t kAm29F040 = 22;
constexpr uint8_t kI28F020 = 20;
constexpr uint32_t kBank = 0x50000;

Bytes epromType(uint8_t busWidth, uint8_t chip, uint32_t start) {
  Bytes request = {0x21, busWidth, chip};
  putLe32(request, start);
  return request;
}

Bytes erase(uint32_t start, uint32_t length, uint8_t chip = kAm29F040) {
  Bytes request = {0x27, kB16, chip};
  putLe32(request, start);
  putLe32(request, length);
  return request;
}

Bytes program(uint32_t address, const Bytes& data, uint8_t chip = kAm29F040) {
  Bytes request = {0x25, kB16, chip};
  putLe32(request, address);
  request.push_back(static_cast<uint8_t>(data.size()));
  request.push_back(static_cast<uint8_t>(data.size() >> 8));
  request.insert(request.end(), data.begin(), data.end());
  return request;
}

Bytes checksum(uint32_t address, uint32_t length) {
  Bytes request = {0x26, kB16};
  putLe32(request, address);
  putLe32(request, length);
  return request;
}

Bytes upload(uint32_t address, uint32_t count) {
  Bytes request = {0x24, kB16};
  putLe32(request, address);
  putLe32(request, count);
  return request;
}

Bytes pattern(size_t size, uint8_t seed) {
  Bytes bytes(size);
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(seed + i * 7);
  return bytes;
}

class UpdateModeTest : public SimTest {
 protected:
  // A bank of two AM29F040 at 0x50000 with the programming voltage on.
  void prepareBank() {
    ASSERT_EQ(exchange({0x22}), (Bytes{0xA2, 'D'}));
    ASSERT_EQ(exchange(epromType(kB16, kAm29F040, kBank)),
              (Bytes{0xA1, 0x01, 0x01, 0xFF, 0xFF, 0xA4, 0xA4, 0xFF, 0xFF}));
  }
};

TEST_F(UpdateModeTest, LoaderTakenWithItsSumAndRefusedWithout) {
  struct Row {
    const char* why;
    int sumError;
    uint8_t letter;
  };
  const Row rows[] = {{"right sum", 0, 'T'}, {"sum off by one", 1, 'C'}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.why);
    auto instrument = attach(std::string("sim:seed=") + std::to_string(row.sumError + 10));
    ASSERT_TRUE(openAt(9600));
    ASSERT_TRUE(send(std::string("SENSE:SWUP\r\n")));
    ASSERT_TRUE(openAt(19200, 8, kParityEven));
    Bytes loader = loaderDownload(57600);
    loader.back() = static_cast<uint8_t>(loader.back() + row.sumError);
    ASSERT_TRUE(send(loader));
    EXPECT_EQ(readRaw(1), Bytes{row.letter});
    EXPECT_EQ(instrument->mode(),
              row.letter == 'T' ? sim::Mode::LoaderWaitStart : sim::Mode::BootRom);
    comm.close();
  }
}

TEST_F(UpdateModeTest, LoaderAtOtherSettingsIsNotHeard) {
  auto instrument = attach("sim:");
  ASSERT_TRUE(openAt(9600));
  ASSERT_TRUE(send(std::string("SENSE:SWUP\r\n")));
  ASSERT_TRUE(openAt(19200, 8, kParityNone));  // parity must be even
  ASSERT_TRUE(send(loaderDownload(115200)));
  EXPECT_EQ(readRaw(1), Bytes{});
  EXPECT_EQ(instrument->counters.loaderDownloads, 0u);
}

TEST_F(UpdateModeTest, WordAddressedLoaderFormSetsItsDivisor) {
  auto instrument = attach("sim:");
  ASSERT_TRUE(openAt(9600));
  ASSERT_TRUE(send(std::string("SENSE:SWUP\r\n")));
  ASSERT_TRUE(openAt(19200, 8, kParityEven));
  Bytes image(64, 0x11);
  image[64 - 8] = 2;  // 57600 baud
  image.insert(image.begin(), static_cast<uint8_t>((64 - 2) / 2));
  ASSERT_TRUE(send(image));
  EXPECT_EQ(readRaw(1), Bytes{'T'});
  ASSERT_TRUE(send(Bytes{'S'}));
  EXPECT_EQ(instrument->linkBaud, 57600u);
  EXPECT_EQ(instrument->addressUnit, 4u);
}

TEST_F(UpdateModeTest, TransferProgramAtTheLoadersSpeed) {
  struct Row {
    uint32_t loaderBaud;
    int hostBaud;
    int sumError;
    Bytes letter;
  };
  const Row rows[] = {
      {115200, 115200, 0, {'T'}},
      {9600, 9600, 0, {'T'}},
      {38400, 38400, 1, {'C'}},  // wrong sum
      // Host still at the boot ROM's speed: the loader takes garbage, whatever it answers
      // arrives as garbage, and no transfer program runs.
      {57600, 19200, 0, {}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(testing::Message()
                 << row.loaderBaud << " " << row.hostBaud << " " << row.sumError);
    auto instrument = attach("sim:serial=" + std::to_string(row.loaderBaud + row.sumError));
    ASSERT_TRUE(openAt(9600));
    ASSERT_TRUE(send(std::string("SENSE:SWUP\r\n")));
    ASSERT_TRUE(openAt(19200, 8, kParityEven));
    ASSERT_TRUE(send(loaderDownload(row.loaderBaud)));
    ASSERT_EQ(readRaw(1), Bytes{'T'});
    ASSERT_TRUE(send(Bytes{'S'}));
    ASSERT_TRUE(openAt(row.hostBaud, 8, kParityEven));
    ASSERT_TRUE(send(transferDownload(pattern(1000, 3), 0x20000100, 0x20000100, row.sumError)));
    const Bytes letter = readRaw(1, 2000);
    if (row.letter.empty()) {
      EXPECT_NE(letter, Bytes{'T'});
    } else {
      EXPECT_EQ(letter, row.letter);
    }
    EXPECT_EQ(instrument->mode() == sim::Mode::TransferProgram, row.letter == Bytes{'T'});
    comm.close();
  }
}

TEST_F(UpdateModeTest, TransferProgramTooLargeIsRefusedAtOnce) {
  attach("sim:");
  ASSERT_TRUE(openAt(9600));
  ASSERT_TRUE(send(std::string("SENSE:SWUP\r\n")));
  ASSERT_TRUE(openAt(19200, 8, kParityEven));
  ASSERT_TRUE(send(loaderDownload(115200)));
  ASSERT_EQ(readRaw(1), Bytes{'T'});
  ASSERT_TRUE(send(Bytes{'S'}));
  ASSERT_TRUE(openAt(115200, 8, kParityEven));
  Bytes header;
  putLe32(header, 0x100000);
  putLe32(header, 0x100);
  putLe32(header, 0x100);
  ASSERT_TRUE(send(header));
  EXPECT_EQ(readRaw(1), Bytes{'O'});
}

TEST_F(UpdateModeTest, PowerOnIsAcknowledgedAndEveryByteWaitsForItsEcho) {
  auto instrument = attach("sim:");
  ASSERT_TRUE(enterTransferProgram());
  ASSERT_TRUE(send(requestPacket({0x22})));
  // Acknowledgement 02 20 00 20 00, one byte per echo.
  const Bytes ack = {0x02, 0x20, 0x00, 0x20, 0x00};
  for (uint8_t expected : ack) {
    ASSERT_EQ(readRaw(1, 100), Bytes{expected});
    EXPECT_EQ(readRaw(1, 500), Bytes{});  // nothing more until the echo is back
    ASSERT_TRUE(send(Bytes{expected}));
  }
  Bytes answer;
  ASSERT_TRUE(receivePacket(answer));
  EXPECT_EQ(answer, (Bytes{0xA2, 0x44}));
  EXPECT_EQ(instrument->counters.echoErrors, 0u);
  EXPECT_EQ(instrument->counters.echoTimeouts, 0u);
  EXPECT_TRUE(instrument->programmingPower);
}

TEST_F(UpdateModeTest, WrongOrMissingEchoAbandonsThatPacket) {
  auto instrument = attach("sim:");
  ASSERT_TRUE(enterTransferProgram());
  ASSERT_TRUE(send(requestPacket({0x23})));
  // The third byte of the acknowledgement comes back changed: the target sends no more of
  // it, and the answer packet follows at once.
  Bytes answer;
  ASSERT_EQ(readRaw(1), Bytes{0x02});
  ASSERT_TRUE(send(Bytes{0x02}));
  ASSERT_EQ(readRaw(1), Bytes{0x20});
  ASSERT_TRUE(send(Bytes{0x20}));
  ASSERT_EQ(readRaw(1), Bytes{0x00});
  ASSERT_TRUE(send(Bytes{0x01}));
  ASSERT_TRUE(receivePacket(answer));
  EXPECT_EQ(answer, (Bytes{0xA3, 'F'}));
  EXPECT_EQ(instrument->counters.echoErrors, 1u);
  EXPECT_FALSE(instrument->programmingPower);  // the command itself was carried out

  // No echo for the answer's first byte: the target gives up that packet after 2 s.
  ASSERT_TRUE(send(requestPacket({0x22})));
  ASSERT_TRUE(receivePacket(answer));
  EXPECT_EQ(answer, (Bytes{0x20, 0x00}));
  EXPECT_FALSE(receivePacket(answer, [](size_t, uint8_t) { return -1; }));
  clock.sleepMicros(1900000);
  instrument->advance();
  EXPECT_EQ(instrument->counters.echoTimeouts, 0u);
  clock.sleepMicros(200000);
  instrument->advance();
  EXPECT_EQ(instrument->counters.echoTimeouts, 1u);
  EXPECT_EQ(readRaw(1, 500), Bytes{});  // nothing more of it
  // And it takes the next request.
  EXPECT_EQ(exchange({0x23}), (Bytes{0xA3, 'F'}));
}

// Every command has its size; one more byte or one less is refused after the acknowledgement.
TEST_F(UpdateModeTest, RequestOfTheWrongSizeForItsCommandIsRefused) {
  attach("sim:hw=0x11000");
  ASSERT_TRUE(enterTransferProgram());
  ASSERT_EQ(exchange({0x22}), (Bytes{0xA2, 'D'}));
  struct Row {
    uint8_t command;
    size_t size;  // of the right request
  };
  const Row rows[] = {
      {0x21, 7}, {0x22, 1},   {0x23, 1}, {0x24, 10}, {0x26, 10}, {0x27, 11}, {0x28, 1},
      {0x29, 5}, {0x2A, 245}, {0x2C, 1}, {0x2E, 1},  {0x2F, 1},  {0x49, 1},
  };
  for (const Row& row : rows) {
    for (size_t size : {row.size - 1, row.size + 1}) {
      if (size == 0) continue;  // an empty request has no command at all
      SCOPED_TRACE(testing::Message() << std::hex << int{row.command} << " size " << size);
      Bytes request(size, 0);
      request[0] = row.command;
      EXPECT_EQ(exchange(request), (Bytes{0x20, 0xF2}));
    }
  }
  EXPECT_EQ(exchange({0x2E}), Bytes{0xAE});  // the right size still boots
}

TEST_F(UpdateModeTest, BadAndIncompleteRequests) {
  auto instrument = attach("sim:");
  ASSERT_TRUE(enterTransferProgram());

  // A wrong sum draws the error answer in place of the acknowledgement.
  Bytes bad = requestPacket({0x22});
  bad.back() ^= 0x01;
  ASSERT_TRUE(send(bad));
  Bytes answer;
  ASSERT_TRUE(receivePacket(answer));
  EXPECT_EQ(answer, (Bytes{0x20, 0xF0}));
  EXPECT_EQ(readRaw(1, 500), Bytes{});  // and nothing after it
  EXPECT_EQ(instrument->counters.badChecksumPackets, 1u);

  // A request cut short is dropped after 1 s of silence; one continued sooner is whole.
  const Bytes powerOn = requestPacket({0x22});
  ASSERT_TRUE(send(Bytes(powerOn.begin(), powerOn.begin() + 2)));
  clock.sleepMicros(1100000);
  EXPECT_EQ(exchange({0x22}), (Bytes{0xA2, 'D'}));
  EXPECT_EQ(instrument->counters.droppedPackets, 1u);
  ASSERT_TRUE(send(Bytes(powerOn.begin(), powerOn.begin() + 2)));
  clock.sleepMicros(900000);
  ASSERT_TRUE(send(Bytes(powerOn.begin() + 2, powerOn.end())));
  ASSERT_TRUE(receivePacket(answer));
  EXPECT_EQ(answer, (Bytes{0x20, 0x00}));
  ASSERT_TRUE(receivePacket(answer));
  EXPECT_EQ(answer, (Bytes{0xA2, 'D'}));

  // Unknown commands and wrong sizes are acknowledged and then refused.
  EXPECT_EQ(exchange({0x30}), (Bytes{0x20, 0xF1}));
  EXPECT_EQ(exchange({0x21, kB16}), (Bytes{0x20, 0xF2}));
  EXPECT_EQ(exchange(epromType(kB16, 0x42, kBank)), (Bytes{0x20, 0xF2}));  // unknown chip
  // Program data refused is followed by the status packet the host waits for.
  Bytes badCount = program(kBank, Bytes(16, 0));
  badCount[7] = 15;
  EXPECT_EQ(exchange(badCount), (Bytes{0x20, 0xF2}));
  ASSERT_TRUE(receivePacket(answer));
  EXPECT_EQ(answer, (Bytes{0x20, 0xF2}));
  EXPECT_EQ(exchange({0x22}), (Bytes{0xA2, 'D'}));
}

TEST_F(UpdateModeTest, ChipsOptionOverridesTheReportedCodes) {
  struct Row {
    const char* instrument;
    Bytes request;
    Bytes answer;
  };
  const Row rows[] = {
      // The board's two chips on its 16-bit bus report the codes given.
      {"sim:chips=89/BD",
       epromType(kB16, kAm29F040, kBank),
       {0xA1, 0x89, 0x89, 0xFF, 0xFF, 0xBD, 0xBD, 0xFF, 0xFF}},
      // A bank where a hand-written job names it, on a 32-bit bus of AM28F020.
      {"sim:chips=89/BD,flash=any",
       epromType(3, 19, 0x80000),
       {0xA1, 0x89, 0x89, 0x89, 0x89, 0xBD, 0xBD, 0xBD, 0xBD}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.instrument);
    attach(row.instrument);
    ASSERT_TRUE(enterTransferProgram());
    ASSERT_EQ(exchange({0x22}), (Bytes{0xA2, 'D'}));
    EXPECT_EQ(exchange(row.request), row.answer);
    comm.close();
  }
}

// The flash of the board's hardware: its place, bus width and chip type. The chip type of
// a request must be the one the chips identify as, which the chips option changes.
TEST_F(UpdateModeTest, BoardFlashFollowsTheHardware) {
  struct Row {
    const char* instrument;
    Bytes request;
    Bytes answer;
  };
  const Row rows[] = {
      {"sim:hw=0x10000",
       epromType(kB16, kAm29F040, 0x14FFFF),
       {0xA1, 0x01, 0x01, 0xFF, 0xFF, 0xA4, 0xA4, 0xFF, 0xFF}},
      {"sim:hw=0x10000", epromType(kB16, kAm29F040, 0x150000), {0x20, 0xF3}},  // past its end
      {"sim:hw=0x10000", epromType(kB16, kAm29F040, 0x4FFFF), {0x20, 0xF3}},   // before it
      {"sim:hw=0x10000", epromType(1, kAm29F040, kBank), {0x20, 0xF2}},        // 8-bit bus
      {"sim:hw=0x20000", epromType(3, kAm29F040, kBank), {0x20, 0xF2}},        // 32-bit bus
      // Without the extension: two I28F020 at 0x80000-0xFFFFF.
      {"sim:hw=0",
       epromType(kB16, kI28F020, 0x80000),
       {0xA1, 0x89, 0x89, 0xFF, 0xFF, 0xBD, 0xBD, 0xFF, 0xFF}},
      {"sim:hw=0", epromType(kB16, kAm29F040, kBank), {0x20, 0xF3}},
      {"sim:hw=0", erase(0xFFFFF, 2, kI28F020), {0x20, 0xF3}},  // across the end
      // A board number above 3 has the extension whatever the hardware word says.
      {"sim:hw=0,board=4",
       epromType(kB16, kAm29F040, kBank),
       {0xA1, 0x01, 0x01, 0xFF, 0xFF, 0xA4, 0xA4, 0xFF, 0xFF}},
      {"sim:hw=0,board=3", epromType(kB16, kAm29F040, kBank), {0x20, 0xF3}},
      // Erase and program name the chip type: it must be the chips' own.
      {"sim:hw=0x10000", erase(kBank, 0x10000, kI28F020), {0x20, 0xF2}},
      {"sim:hw=0x10000", program(kBank, Bytes(4, 0), 21), {0x20, 0xF2}},
      {"sim:hw=0x10000,chips=89/BD", erase(kBank, 0x10000, kAm29F040), {0x20, 0xF2}},
      {"sim:hw=0x10000,chips=89/BD", erase(kBank, 0x10000, kI28F020), {0xA7, 0x00}},
      {"sim:hw=0x10000,chips=12/34", erase(kBank, 0x10000, kAm29F040), {0x20, 0xF2}},
  };
  int serial = 0;
  for (const Row& row : rows) {
    SCOPED_TRACE(testing::Message() << row.instrument << " " << std::hex << int{row.request[0]});
    attach(std::string(row.instrument) + ",serial=" + std::to_string(++serial));
    ASSERT_TRUE(enterTransferProgram());
    ASSERT_EQ(exchange({0x22}), (Bytes{0xA2, 'D'}));
    EXPECT_EQ(exchange(row.request), row.answer);
    comm.close();
  }
}

// hw-after describes the board the instrument comes back as: its flash goes with it.
TEST_F(UpdateModeTest, BootIntoOtherHardwareBringsItsFlash) {
  auto instrument = attach("sim:hw=0,hw-after=0x10000,boot-time=1");
  ASSERT_EQ(instrument->banks.size(), 1u);
  EXPECT_EQ(instrument->banks[0].start, 0x80000u);
  ASSERT_TRUE(enterTransferProgram());
  EXPECT_EQ(exchange({0x2E}), Bytes{0xAE});
  clock.sleepMicros(1500000);
  instrument->advance();
  EXPECT_EQ(instrument->mode(), sim::Mode::Normal);
  ASSERT_EQ(instrument->banks.size(), 1u);
  EXPECT_EQ(instrument->banks[0].start, kBank);
  EXPECT_EQ(instrument->banks[0].type->code, kAm29F040);
}

TEST_F(UpdateModeTest, EraseProgramChecksumAndUploadAgree) {
  auto instrument = attach("sim:");
  ASSERT_TRUE(enterTransferProgram());
  prepareBank();

  // The bank holds old firmware; programming over it fails where a bit must rise.
  const Bytes data = pattern(240, 0x31);
  Bytes answer = exchange(program(kBank, data));
  ASSERT_EQ(answer.size(), 6u);
  EXPECT_EQ(answer[1], 'C');
  EXPECT_GE(le32(answer, 2), kBank);

  // Erase of two blocks (2 x 0x10000 bytes each): the answer takes the erase's time.
  const uint64_t start = nowMs();
  EXPECT_EQ(exchange(erase(kBank, 0x40000)), (Bytes{0xA7, 0x00}));
  EXPECT_GE(nowMs() - start, 2000u);
  EXPECT_EQ(instrument->flashBytes(kBank, 0x40000), Bytes(0x40000, 0xFF));
  EXPECT_NE(instrument->flashBytes(kBank + 0x40000, 16), Bytes(16, 0xFF));  // next block kept

  EXPECT_EQ(exchange(program(kBank + 0x100, data)), (Bytes{0xA5, 0x00}));
  EXPECT_EQ(instrument->flashBytes(kBank + 0x100, 240), data);

  const uint32_t expectedSum =
      std::accumulate(data.begin(), data.end(), 0u) + 0xFFu * (0x1000 - 240);
  answer = exchange(checksum(kBank, 0x1000));
  ASSERT_EQ(answer.size(), 5u);
  EXPECT_EQ(answer[0], 0xA6);
  EXPECT_EQ(le32(answer, 1), expectedSum);

  answer = exchange(upload(kBank + 0x100, 240));
  ASSERT_EQ(answer.size(), 250u);
  EXPECT_EQ(answer[0], 0xA4);
  EXPECT_EQ(le32(answer, 6), 240u);
  EXPECT_EQ(Bytes(answer.begin() + 10, answer.end()), data);
}

// Uploads come before the chips are identified: they read the flash that the board carries.
TEST_F(UpdateModeTest, UploadBeforeIdentificationReadsTheBoardsFlash) {
  struct Row {
    const char* instrument;
    uint8_t chip;
    uint32_t address;
    bool answered;
  };
  const Row rows[] = {
      {"sim:hw=0x10000,serial=1", kAm29F040, kBank, true},
      {"sim:hw=0,serial=2", kI28F020, 0x80000, true},
      {"sim:hw=0,serial=3", kI28F020, kBank, false},  // no flash there without the extension
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.instrument);
    attach(row.instrument);
    ASSERT_TRUE(enterTransferProgram());
    const Bytes saved = exchange(upload(row.address + 0x10, 16));
    if (!row.answered) {
      EXPECT_EQ(saved, (Bytes{0x20, 0xF3}));
    } else {
      ASSERT_EQ(saved.size(), 26u);
      EXPECT_EQ(saved[0], 0xA4);
      EXPECT_NE(Bytes(saved.begin() + 10, saved.end()), Bytes(16, 0xFF));  // old firmware
      // Identifying the bank afterwards keeps what the upload read.
      ASSERT_EQ(exchange({0x22}), (Bytes{0xA2, 'D'}));
      EXPECT_EQ(exchange(epromType(kB16, row.chip, row.address)).size(), 9u);
      EXPECT_EQ(exchange(upload(row.address + 0x10, 16)), saved);
    }
    comm.close();
  }
}

TEST_F(UpdateModeTest, RequestsOutsideTheBanksOrWithoutVoltageAreRefused) {
  attach("sim:");
  ASSERT_TRUE(enterTransferProgram());
  prepareBank();
  const uint32_t bankEnd = kBank + 0x100000 - 1;
  struct Row {
    const char* why;
    Bytes request;
    Bytes answer;
  };
  const Row rows[] = {
      {"program below the bank", program(0x40000, Bytes(16, 0)), {0x20, 0xF3}},
      {"program across the end", program(bankEnd - 7, Bytes(16, 0)), {0x20, 0xF3}},
      {"erase across the end", erase(bankEnd - 0xFFFF, 0x20000), {0x20, 0xF3}},
      {"checksum outside", checksum(0x200000, 4), {0x20, 0xF3}},
      {"upload outside", upload(0x10, 4), {0x20, 0xF3}},
      {"upload too long for a packet", upload(kBank, 246), {0x20, 0xF2}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.why);
    EXPECT_EQ(exchange(row.request), row.answer);
    if (row.request[0] == 0x25) {
      Bytes status;
      ASSERT_TRUE(receivePacket(status));  // program data refused: its status packet
    }
  }
  // Without programming voltage: identification, erase and program are refused; checksum
  // and upload still read.
  ASSERT_EQ(exchange({0x23}), (Bytes{0xA3, 'F'}));
  EXPECT_EQ(exchange(epromType(kB16, kAm29F040, kBank)), (Bytes{0x20, 0xF4}));
  EXPECT_EQ(exchange(erase(kBank, 0x20000)), (Bytes{0x20, 0xF4}));
  EXPECT_EQ(exchange(program(kBank, Bytes(4, 0))), (Bytes{0x20, 0xF4}));
  Bytes status;
  ASSERT_TRUE(receivePacket(status));
  EXPECT_EQ(exchange(checksum(kBank, 4)).size(), 5u);
  EXPECT_EQ(exchange(upload(kBank, 4)).size(), 14u);
}

TEST_F(UpdateModeTest, EndCmosRamAndBootThenItComesBackChanged) {
  auto instrument =
      attach("sim:baud=19200,boot-time=3,version-after=05.00,hw-after=0x11020,hw=0x11000");
  ASSERT_TRUE(openAt(19200));
  ASSERT_TRUE(enterTransferProgram());
  EXPECT_EQ(exchange({0x49}), Bytes{0x48});
  EXPECT_TRUE(instrument->transferProgramEnded);
  EXPECT_EQ(exchange({0x2F}), Bytes{0xAF});
  EXPECT_EQ(instrument->counters.cmosRamDeletes, 1u);
  const uint64_t bootAt = nowMs();
  EXPECT_EQ(exchange({0x2E}), Bytes{0xAE});

  int cts = -1;
  int dsr = -1;
  ASSERT_TRUE(modemLines(cts, dsr));
  EXPECT_EQ(cts + dsr, 0);  // both off while it boots
  // Its serial settings survived: it answers at 19200 again, but only after boot-time.
  ASSERT_TRUE(openAt(19200));
  EXPECT_EQ(query("*IDN?\r\n", 2000), "");
  while (query("*IDN?\r\n", 500).empty()) ASSERT_LT(nowMs() - bootAt, 5000u);
  EXPECT_GE(nowMs() - bootAt, 3000u);
  EXPECT_EQ(query("*IDN?\r\n"), "QUORIX&VANTEL,ZEL,57,05.00 ");
  EXPECT_EQ(query("READ:INFO:DATA?\r\n"), "69664");
  ASSERT_TRUE(modemLines(cts, dsr));
  EXPECT_EQ(cts + dsr, 2);
}

TEST_F(UpdateModeTest, ResidentTransferProgramTakesPacketsAt19200) {
  attach("sim:resident=yes");
  ASSERT_TRUE(openAt(9600));
  ASSERT_TRUE(send(std::string("SENSE:SWUP\r\n")));
  ASSERT_TRUE(openAt(19200, 8, kParityEven));
  EXPECT_EQ(exchange({0x22}), (Bytes{0xA2, 'D'}));
}

TEST_F(UpdateModeTest, DspModuleErasesWritesAndSumsWords) {
  auto instrument = attach("sim:hw=0x11000");  // option B20
  ASSERT_TRUE(enterTransferProgram());
  const uint32_t words = 70;
  Bytes request = {0x29};
  putLe32(request, words);
  EXPECT_EQ(exchange({0x28}), Bytes{0xA8});
  const uint64_t start = nowMs();
  EXPECT_EQ(exchange(request), (Bytes{0xA9, 0, 0, 0, 0}));
  EXPECT_GE(nowMs() - start, 5000u);

  uint32_t sum = 0;
  for (uint32_t first = 0; first < words; first += 60) {
    const uint32_t count = std::min<uint32_t>(60, words - first);
    Bytes write = {0x2A};
    putLe32(write, count);
    for (uint32_t i = 0; i < 60; ++i) {
      const uint32_t word = i < count ? 0x01020304u * (first + i + 1) : 0;
      putLe32(write, word);
      sum += word;
    }
    EXPECT_EQ(exchange(write), (Bytes{0xAA, 0, 0, 0, 0}));
  }
  const Bytes answer = exchange({0x2C});
  ASSERT_EQ(answer.size(), 9u);
  EXPECT_EQ(answer[0], 0xAC);
  EXPECT_EQ(le32(answer, 1), sum);
  EXPECT_EQ(le32(answer, 5), 0u);
  ASSERT_EQ(instrument->dspImage().size(), words);
  EXPECT_EQ(instrument->dspImage()[69], 0x01020304u * 70);
}

TEST_F(UpdateModeTest, B1ModuleIsPoweredByQamModeOrByPrepare) {
  Bytes request = {0x29};
  putLe32(request, 4);
  struct Row {
    const char* why;
    bool qamMode;
    bool prepare;
    uint8_t status;
  };
  const Row rows[] = {
      {"unpowered", false, false, 1},
      {"QAM mode before update mode", true, false, 0},
      {"prepared by the transfer program", false, true, 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.why);
    attach(std::string("sim:hw=0x10020,serial=") + std::to_string(&row - rows));
    ASSERT_TRUE(openAt(9600));
    if (row.qamMode) {
      ASSERT_TRUE(send(std::string("\r\n\r\nSYST:MODE QAM\r\n")));
    }
    ASSERT_TRUE(enterTransferProgram());
    if (row.prepare) {
      ASSERT_EQ(exchange({0x28}), Bytes{0xA8});
    }
    EXPECT_EQ(exchange(request), (Bytes{0xA9, row.status, 0, 0, 0}));
    comm.close();
  }
  // Without any option there is no module to prepare.
  attach("sim:hw=0x10000");
  ASSERT_TRUE(enterTransferProgram());
  EXPECT_EQ(exchange({0x28}), (Bytes{0x20, 0xF4}));
}

// The firmware's valid mark: an erase clears it; switched off and on then, the instrument waits
// in update mode and answers no text command, also as a new instrument from its state folder;
// the end of the transfer program after a checksum sets it again.
TEST_F(UpdateModeTest, PowerCycleAfterAnEraseFindsTheFirmwareIncomplete) {
  testing_support::TempDir dir(false);
  const std::string port = "sim:state=" + dir.file("st");
  auto instrument = attach(port);
  ASSERT_TRUE(enterTransferProgram());
  prepareBank();
  ASSERT_EQ(exchange(erase(kBank, 0x10000)), (Bytes{0xA7, 0x00}));
  EXPECT_FALSE(instrument->firmwareValid);
  EXPECT_NE(dir.read("st/state").find("firmware-valid=no"), std::string::npos);

  struct Row {
    const char* name;
    bool newInstrument;  // from the state folder, as the next program finds it
    sim::Mode mode;
  };
  const Row rows[] = {
      {"power cycle", false, sim::Mode::BootRom},
      {"switched on by the next program", true, sim::Mode::BootRom},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    if (row.newInstrument) {
      comm.close();
      sim::resetInstruments();
      instrument = attach(port);
    } else {
      instrument->powerCycle();
    }
    EXPECT_EQ(instrument->mode(), row.mode);
    ASSERT_TRUE(openAt(9600));
    int cts = -1, dsr = -1;
    ASSERT_TRUE(modemLines(cts, dsr));
    EXPECT_EQ(cts, 0);
    EXPECT_EQ(dsr, 1);
    EXPECT_EQ(query("*IDN?"), "");
  }

  // Programmed, checked and ended: whole again, and a power cycle starts its firmware.
  instrument->firmwareValid = false;
  instrument->powerCycle();
  ASSERT_TRUE(openAt(19200, 8, kParityEven));
  ASSERT_TRUE(send(loaderDownload(115200)));
  ASSERT_EQ(readRaw(1, 2000), (Bytes{'T'}));
  ASSERT_TRUE(send(Bytes{'S'}));
  ASSERT_TRUE(openAt(115200, 8, kParityEven));
  ASSERT_TRUE(send(transferDownload(Bytes(64, 0x90))));
  ASSERT_EQ(readRaw(1, 2000), (Bytes{'T'}));
  prepareBank();
  ASSERT_FALSE(exchange(checksum(kBank, 0x100)).empty());
  EXPECT_FALSE(instrument->firmwareValid);  // not before the end
  ASSERT_FALSE(exchange({0x49}).empty());
  EXPECT_TRUE(instrument->firmwareValid);
  instrument->powerCycle();
  EXPECT_EQ(instrument->mode(), sim::Mode::Normal);
  EXPECT_EQ(instrument->counters.powerCycles, 2u);  // this instrument's, since it was switched on
}

}  // namespace
}  // namespace sim_testing
