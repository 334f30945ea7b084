// Who runs the program and where: the names a service record keeps, and the user's home.
#pragma once

#include <string>

namespace platform {

// The machine's name; empty when the system does not tell it.
std::string hostName();

// The name of the user the program runs as (whose files it writes): from the user
// database, else the environment (USER); empty when neither knows it.
std::string userName();

// The user's home folder: HOME, else the user database's; empty when neither knows it.
std::string homeFolder();

}  // namespace platform
