// The hint for a user whom no serial port lets in: on Linux a serial port is open to the
// members of the dialout group, and a port without access shows as "(access denied)".
#pragma once

#include <string>
#include <vector>

#include "app/port_list.h"
#include "serial/device_factory.h"
#include "serial/serial_inventory.h"

inline constexpr const char* kPortAccessHint =
    "Every port found is in use or not accessible to this user. Serial ports are open to the\n"
    "members of the dialout group: sudo usermod -aG dialout $USER, then log in again.\n";

// True when the list has entries and each of them is marked "(access denied)".
bool everyPortDenied(const std::vector<PortListEntry>& entries);

// Why this user cannot open the port now, as one phrase its serial backend gives (see
// explainSerialAccess, which also names kNotInDialout). Empty when nothing stands in the
// way, and for ports that are not device paths (network, simulated).
std::string portAccessProblem(const std::string& device);

// The cause of a network port's failure as a run says it after its failing step:
// "connection refused", "host not found", "busy with another client", "no answer"; empty for
// None.
std::string portFailureText(serial::PortFailure failure);
// The same as `zelupdate ports` marks the port's entry: "refused", "host not found", "busy",
// "no answer"; empty for None.
std::string portFailureMark(serial::PortFailure failure);
// The status line that a run adds after the step whose open failed: "DEVICE: cause" (the
// device as terminal text), "rfc2217://rack-4:2001: connection refused"; empty for None.
std::string portFailureLine(const std::string& device, serial::PortFailure failure);

// Where the serial inventory is read: /sys and /dev, or the fake trees that ZEL_SYSFS_ROOT and
// ZEL_DEV_ROOT name (tests).
serial::SerialInventoryRoots serialInventoryRoots();

// What to tell about an adapter's latency timer: empty when it is 2 ms or less, or unknown;
// else "latency timer 16 ms: ..." with how to set 1 ms on this system (the sysfs file on
// Linux, the port's advanced settings in the device manager on Windows).
std::string latencyTimerWarning(const serial::SerialDeviceInfo& info);

// The same for the port a run is about to use: only where the timer stays slow while this
// program holds the port. Empty for ports that are no local adapter.
std::string runLatencyWarning(const std::string& device);
