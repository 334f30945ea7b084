// Baud rates that termios has no speed constant for.
#pragma once

#include <cstdint>

namespace serial {

// Sets both speeds of an open tty to any rate. False when the driver refuses it or can only
// come more than 2 % near it; the tty's settings are then as before.
bool setCustomBaudRate(int fd, uint32_t baudRate);

}  // namespace serial
