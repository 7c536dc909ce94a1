// Where things are: the executable's folder, the user's data, cache and
// configuration folders, the system's temporary folder.
#pragma once

#include <filesystem>

namespace zqd::platform {

// The folder that holds the running executable (not the working directory).
std::filesystem::path ExecutableDir();

// A folder for the user's own data (XDG data home or %LOCALAPPDATA%), used
// for a copy of a record that could not be saved where it belongs.
std::filesystem::path UserDataDir();

// A folder for what can be made again (XDG cache home, or %LOCALAPPDATA%
// ...\cache): the waveform summaries of archives.
std::filesystem::path UserCacheDir();

// The folder of the user's settings (XDG config home, or the data folder on
// Windows).
std::filesystem::path UserConfigDir();

// The system's folder for temporary files ($TMPDIR, %TEMP%, /tmp).
std::filesystem::path TempDir();

// Where the main window reads and writes T1.DAT and T2.csv: the program's
// own folder where it may be written, else the user's data folder (made if
// missing), as for a program installed in a system folder.
std::filesystem::path DataFolder();

// Whether the current user may create files in a folder.
bool FolderWritable(const std::filesystem::path& dir);

// A number that differs between processes, for unique names.
unsigned long ProcessId();

}  // namespace zqd::platform
