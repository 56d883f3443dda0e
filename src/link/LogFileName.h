// The file name the traffic log is saved to: it must name a file on disk.
//
// Windows opens the reserved device names (CON, PRN, AUX, NUL, COM1 to COM9, LPT1 to LPT9,
// also with superscript digits) in every folder, whatever their extension, and the device
// paths (\\.\COM7) as devices: saving the log to "C:\data\COM7.rtf" would write the whole
// session down the stimulator's serial line, and the stimulator would run every logged
// command again. Such names are refused before anything is opened, on every system, so that
// a script behaves the same wherever it runs; the save then checks that what it opened is a
// disk file before it writes.
//
// Portable: pure text rules. The platform's save calls them.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace quor {

// The name a client passed (UTF-16, its whole length) as UTF-8; raises quor::Exception when
// it is no text a file can be named by: an embedded NUL, or an unpaired surrogate (which
// would otherwise become another character, and another file).
std::string LogFileNameFromUtf16(std::u16string_view name);

// Raises quor::Exception, saying why, when the name (UTF-8) names a device rather than a
// disk file: a reserved device name as its last part, as written or once the name is made
// whole as Windows does before opening (relative to `currentDirectoryUtf8` when given; "."
// and ".." resolved; trailing dots and spaces cut: "C:\data\COM8\sub\.." names COM8), or a
// device path (\\.\..., \\?\... other than a drive or network path, \??\...). An embedded
// NUL is refused too.
void RefuseDeviceName(const std::string& nameUtf8, const std::string& currentDirectoryUtf8 = {});

// The reason a file could not be created when its full name is too long for the system
// (more than `maxPath` characters in all, or more than `maxComponent` in one folder or file
// name); none when it is not. Lengths count UTF-16 code units, as Windows does.
std::optional<std::string> NameTooLongReason(std::u16string_view fullName, size_t maxPath, size_t maxComponent);

// The message of a file that cannot be created: Cannot create file "<name>". <reason>
std::string CannotCreateFileMessage(const std::string& nameUtf8, const std::string& reason);

}  // namespace quor
