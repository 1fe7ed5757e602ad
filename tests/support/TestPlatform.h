// What the tests need from the operating system, on Linux and on Windows alike: temporary folders,
// the process id, environment variables, and the paths handed to the ODBC drivers.
//
// Under Wine the ODBC drivers are the build machine's Linux drivers (Wine's odbc32 hands every call to
// unixODBC), so a database file is named to them by its Linux path, and unixODBC reads the odbc.ini that
// ODBCINI names in the Linux environment that started Wine (scripts/test-windows sets it).
#pragma once

#include <filesystem>
#include <string>

namespace testsupport {

// A new, empty folder under the temporary folder, its name starting with prefix; throws when none can
// be made.
std::filesystem::path MakeTempFolder(const std::string& prefix);

// Removes a folder with everything in it, never throwing. Files copied from the read-only test suites
// are read-only, which on Windows forbids their removal: they are made writable first.
void RemoveFolder(const std::filesystem::path& folder);

int ProcessId();

// Sets an environment variable of this process (unless it is set already and overwrite is false).
void SetEnvironment(const std::string& name, const std::string& value, bool overwrite = true);

// The system's reason when a folder is opened for reading as if it were a file.
#ifdef _WIN32
inline constexpr const char* kFolderOpenedAsFile = "Permission denied";
#else
inline constexpr const char* kFolderOpenedAsFile = "Is a directory";
#endif

// Whether this is a Windows program running under Wine.
bool RunningUnderWine();

// A file path as the ODBC driver reads it: the Linux path under Wine, the path itself elsewhere.
std::string DriverPath(const std::filesystem::path& path);

// The file that a Linux path names, as this program opens it (under Wine: through the Z: drive).
std::filesystem::path FromBuildMachinePath(const std::string& linuxPath);

}  // namespace testsupport
