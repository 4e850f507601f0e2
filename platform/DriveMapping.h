#pragma once
// Windows paths ("C:\ZELPOS\TEMPDATA\ATTLOG.DB") on a Linux file system. Drive C: is
// $WINEPREFIX/drive_c (default ~/.wine/drive_c), where Wine keeps ZelPos's files. Qt-free: the
// engine and the creator libraries use it too.
#include <filesystem>
#include <string>
#include <string_view>

namespace zel::platform {

// The Wine prefix in force: $WINEPREFIX when set and not empty, else ~/.wine.
std::filesystem::path WinePrefix();

// Host directory of drive C: (WinePrefix() / "drive_c").
std::filesystem::path DriveCRoot();

// Maps a Windows path to a host path. "X:\..." resolves under drive X (C: is DriveCRoot(),
// others $WINEPREFIX/dosdevices/x:); a path that starts with '/' is a host path and is returned
// as it is. Backslashes and slashes both separate. Each component is matched exactly first,
// then without regard to (ASCII) case, as Wine does; a component that does not exist keeps the
// case given, so a file about to be created gets the name the caller wrote.
std::filesystem::path MapWindowsPath(std::string_view windowsPath);

// True when the two names are equal without regard to ASCII case.
bool SameNameIgnoringCase(std::string_view a, std::string_view b);

}  // namespace zel::platform
