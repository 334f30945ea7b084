// The settings file: an INI file read and written with the semantics of the Windows
// private-profile calls. Writing a key creates the file, section or key when missing and
// leaves every other line of the file as it was.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace platform {

// The integer value of a key: its leading decimal digits (with an optional sign), or the
// default when the file, section or key is missing or the value has no digits.
int getPrivateProfileInt(const std::string& section, const std::string& key, int defaultValue,
                         const std::string& file);
// The text value of a key, or the default when it is missing.
std::string getPrivateProfileString(const std::string& section, const std::string& key,
                                    const std::string& defaultValue, const std::string& file);
// The entries of a section in file order (first entry of each name), values as
// getPrivateProfileString gives them; empty when the file or section is missing.
std::vector<std::pair<std::string, std::string>> getPrivateProfileSection(
    const std::string& section, const std::string& file);
// Sets a key. False when the file cannot be written.
bool writePrivateProfileString(const std::string& section, const std::string& key,
                               const std::string& value, const std::string& file);

// The settings file of the program: beside the program file with ".exe" replaced by
// ".ini" where the program file ends in ".exe"; otherwise
// $XDG_CONFIG_HOME/zelupdate/zelupdate.ini (~/.config/... when the variable is unset).
// An override (--settings FILE) wins over both.
std::string settingsFilePath(const std::string& programPath);
void setSettingsFileOverride(const std::string& file);

}  // namespace platform
