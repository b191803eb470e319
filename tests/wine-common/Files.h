// A file's bytes through CreateFile and ReadFile, and the check of a log file byte for byte.
#ifndef PM_WINE_FILES_H
#define PM_WINE_FILES_H

#include <string>
#include <vector>

#include "Where.h"

namespace winetest {

// False when the file cannot be opened or read. Opened with every sharing, so a program that
// still holds the file does not stop the reading.
bool ReadFileBytes(const std::string& path, std::string* bytes);
// Creates or replaces the file with these bytes.
bool WriteFileBytes(const std::string& path, const std::string& bytes);
// True also when there was no file.
bool DeleteFileIfPresent(const std::string& path);
bool FileExists(const std::string& path);

// A folder `link` that is a Unix symbolic link to the folder `target` (Windows paths), as a user
// of the machine could make one; Wine's own CreateSymbolicLinkA makes nothing. Made and removed
// from a Unix shell; false when that did not happen within ten seconds. Removing takes the link
// alone, never its target.
bool MakeFolderLink(const std::string& link, const std::string& target);
bool RemoveFolderLink(const std::string& link);
// The names in a folder (without "." and ".."); empty when it has none or cannot be read.
std::vector<std::string> FolderEntries(const std::string& folder);

// The file holds exactly these lines, each ended by CR LF.
void ExpectFileLines(Where where, const std::string& path, const std::vector<std::string>& lines);

}  // namespace winetest

#define EXPECT_FILE_LINES(path, ...) ::winetest::ExpectFileLines(HERE, path, __VA_ARGS__)

#endif
