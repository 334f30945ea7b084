// Temporary: replaced by the settings file implementation.
#include "platform/profile.h"
namespace platform {
int getPrivateProfileInt(const std::string&, const std::string&, int d, const std::string&) { return d; }
std::string getPrivateProfileString(const std::string&, const std::string&, const std::string& d, const std::string&) { return d; }
bool writePrivateProfileString(const std::string&, const std::string&, const std::string&, const std::string&) { return false; }
std::string settingsFilePath(const std::string&) { return "zelupdate.ini"; }
void setSettingsFileOverride(const std::string&) {}
}
