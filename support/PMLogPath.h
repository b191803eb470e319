// How the log reads a path: the rules that need no platform call.
#ifndef PM_PMLOGPATH_H
#define PM_PMLOGPATH_H

#include <string>

// A backslash or a slash: Windows takes either between the parts of a path.
bool IsPathSeparator(char c);

// Whether the path is in a namespace that reaches devices and pipes by their names: \\.\ and
// \\?\ (with either slash, also \\. and \\? alone), and \??\. A UNC path (\\server\share\...)
// is not.
bool IsInDeviceNamespace(const std::string& path);

// Whether `finalPath`, as GetFinalPathNameByHandleA answers it ("\\?\C:\dir\file",
// "\\?\UNC\server\share\file"), names the full path `path` ("C:\dir\file",
// "\\server\share\file"). Windows' file names do not depend on case; the letters A to Z are
// compared without it, every other byte as it is (a name that differs only there is taken as
// another). A separator at the end of either does not count.
bool IsFinalPathOf(std::string finalPath, const std::string& path);

#endif
