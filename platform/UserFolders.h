// The user's own folders, and whether the program may keep a file beside itself.
#pragma once

#include <string>

namespace plat {

// The folder for the user's settings, with a trailing separator; not created here.
// Linux: $XDG_CONFIG_HOME/zv8810-fwu/ (~/.config when unset).
// Windows: %APPDATA%\ZV8810 Firmware Updater\.
std::string UserConfigFolder();

// The folder for the user's data (crash reports), with a trailing separator; not created here.
// Linux: $XDG_DATA_HOME/zv8810-fwu/ (~/.local/share when unset).
// Windows: %LOCALAPPDATA%\ZV8810 Firmware Updater\.
std::string UserDataFolder();

// A folder of installed programs, which a program never writes into whoever runs it (an
// administrator's run would leave files the package manager or the uninstaller does not know):
// /usr and below on Linux; Program Files (either) on Windows.
bool IsInstalledProgramFolder(const std::string& folder);

// Whether this process can make a new file in folder (nothing is left behind by asking).
bool CanCreateFileIn(const std::string& folder);

// Whether this process can write the existing file at path (its content is not touched).
bool CanWriteFile(const std::string& path);

}  // namespace plat
