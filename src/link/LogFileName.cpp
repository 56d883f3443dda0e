#include "LogFileName.h"

#include <algorithm>
#include <vector>

#include "base/Exceptions.h"
#include "base/TextConvert.h"

namespace quor {

namespace {

bool IsHighSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLowSurrogate(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }
bool IsSeparator(char c) { return c == '\\' || c == '/'; }
char Upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

std::string CodePointText(char16_t c) { return "U+" + IntToHex(c); }  // a surrogate has four digits

// The name as a message shows it: a NUL as \0, an unpaired surrogate as U+FFFD.
std::string Shown(std::u16string_view name) {
    std::string text;
    for (char c : Utf16ToUtf8(name)) {
        if (c == '\0') {
            text += "\\0";
        } else {
            text += c;
        }
    }
    return text;
}

// A digit of a reserved port name: 1 to 9, or the superscript digits Windows also maps.
bool IsPortDigit(std::string_view rest) {
    if (rest.size() == 1) return rest[0] >= '1' && rest[0] <= '9';
    return rest == "\xC2\xB9" || rest == "\xC2\xB2" || rest == "\xC2\xB3";  // ¹ ² ³
}

// The part of a file name that Windows compares with its device names: up to the first "."
// or ":", without the spaces before it ("COM7 .rtf", "NUL:", "con..").
std::string DeviceStem(std::string_view fileName) {
    const size_t end = fileName.find_first_of(".:");
    std::string stem(fileName.substr(0, end));
    while (!stem.empty() && stem.back() == ' ') stem.pop_back();
    for (char& c : stem) c = Upper(c);
    return stem;
}

bool IsReservedDeviceName(std::string_view fileName) {
    const std::string stem = DeviceStem(fileName);
    for (const char* name : {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"}) {
        if (stem == name) return true;
    }
    const std::string_view prefix = std::string_view(stem).substr(0, 3);
    return (prefix == "COM" || prefix == "LPT") && IsPortDigit(std::string_view(stem).substr(3));
}

// The last part of a path: after the last separator, or after a drive ("C:COM7").
std::string_view LastPart(std::string_view name) {
    const size_t separator = name.find_last_of("\\/");
    if (separator != std::string_view::npos) return name.substr(separator + 1);
    if (name.size() >= 2 && name[1] == ':') return name.substr(2);
    return name;
}

bool IsDriveLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

enum class TPathForm { Ordinary, LongDiskPath, DevicePath };

// \\.\X and \\?\X (either slash) name objects of the system's device namespace; \\?\ is
// also how a long path to a disk file ("\\?\C:\...") or network file ("\\?\UNC\...") is
// written, and \??\ is the same namespace by its internal name.
TPathForm FormOf(std::string_view name) {
    const auto separatorAt = [&](size_t i) { return i < name.size() && IsSeparator(name[i]); };
    if (separatorAt(0) && name.size() >= 3 && name[1] == '?' && name[2] == '?' && separatorAt(3)) {
        return TPathForm::DevicePath;  // \??\...
    }
    if (!separatorAt(0) || !separatorAt(1) || name.size() < 3 || (name[2] != '.' && name[2] != '?')) {
        return TPathForm::Ordinary;
    }
    if (name.size() > 3 && !separatorAt(3)) return TPathForm::Ordinary;  // \\.host\share is a network path
    if (name[2] == '?') {
        const std::string_view rest = name.substr(std::min<size_t>(4, name.size()));
        if (rest.size() >= 3 && IsDriveLetter(rest[0]) && rest[1] == ':' && IsSeparator(rest[2])) {
            return TPathForm::LongDiskPath;
        }
        if (rest.size() >= 4 && Upper(rest[0]) == 'U' && Upper(rest[1]) == 'N' && Upper(rest[2]) == 'C' &&
            IsSeparator(rest[3])) {
            return TPathForm::LongDiskPath;
        }
    }
    return TPathForm::DevicePath;
}

// The root a path starts from, as written: a network share ("\\server\share"), a drive
// with or without its separator ("C:\", "C:"), a separator; empty for a relative path.
size_t RootLength(std::string_view name) {
    if (name.size() >= 2 && IsSeparator(name[0]) && IsSeparator(name[1])) {
        size_t end = 2, parts = 0;
        while (end < name.size() && parts < 2) {
            if (IsSeparator(name[end])) ++parts;
            if (parts < 2) ++end;
        }
        return end;
    }
    if (name.size() >= 2 && IsDriveLetter(name[0]) && name[1] == ':') return name.size() > 2 && IsSeparator(name[2]) ? 3 : 2;
    return !name.empty() && IsSeparator(name[0]) ? 1 : 0;
}

// The name as Windows makes it before it opens anything: "." and ".." resolved (never above
// the root), runs of separators as one, and trailing dots and spaces cut from the last part
// (unless the name ends in a separator). "C:\data\COM7.rtf\." is "C:\data\COM7.rtf",
// "COM8\sub\.." is "COM8". A relative name is taken from `directory` when one is given.
std::string Normalised(std::string_view name, std::string_view directory) {
    std::string full(name);
    if (RootLength(name) == 0 && !directory.empty()) full = std::string(directory) + "/" + full;
    const size_t root = RootLength(full);
    const bool endsInSeparator = !full.empty() && IsSeparator(full.back());
    std::vector<std::string> parts;
    size_t at = root;
    while (at < full.size()) {
        const size_t end = std::min(full.find_first_of("\\/", at), full.size());
        std::string part = full.substr(at, end - at);
        at = end + 1;
        if (part.empty()) continue;
        const bool last = at >= full.size() && !endsInSeparator;
        if (last) {
            while (!part.empty() && part.back() == ' ') part.pop_back();
            if (part != "." && part != "..") {
                while (!part.empty() && (part.back() == '.' || part.back() == ' ')) part.pop_back();
            }
        }
        if (part.empty() || part == ".") continue;
        if (part == ".." && !parts.empty() && parts.back() != "..") {
            parts.pop_back();
        } else if (part != ".." || root == 0) {
            parts.push_back(part);
        }
    }
    std::string result = full.substr(0, root);
    for (const std::string& part : parts) {
        const bool drive = result.size() == 2 && result[1] == ':';  // "C:" + a name relative to its folder
        if (!result.empty() && !IsSeparator(result.back()) && !drive) result += '\\';
        result += part;
    }
    return result;
}

}  // namespace

std::string CannotCreateFileMessage(const std::string& nameUtf8, const std::string& reason) {
    return "Cannot create file \"" + nameUtf8 + "\". " + reason;
}

std::string LogFileNameFromUtf16(std::u16string_view name) {
    for (size_t i = 0; i < name.size(); ++i) {
        const char16_t c = name[i];
        if (c == 0) {
            throw Exception(CannotCreateFileMessage(
                Shown(name), "The name contains a NUL character (code 0), which no file name can hold: remove it."));
        }
        if (IsHighSurrogate(c) && i + 1 < name.size() && IsLowSurrogate(name[i + 1])) {
            ++i;  // a whole character
        } else if (IsHighSurrogate(c) || IsLowSurrogate(c)) {
            throw Exception(CannotCreateFileMessage(
                Shown(name), "The name contains an unpaired surrogate (" + CodePointText(c) +
                                 "), which is half of a character, not text: correct the name."));
        }
    }
    return Utf16ToUtf8(name);
}

void RefuseDeviceName(const std::string& nameUtf8, const std::string& currentDirectoryUtf8) {
    if (nameUtf8.find('\0') != std::string::npos) {
        std::u16string shown;
        for (char c : nameUtf8) shown += c == '\0' ? u'\0' : u'?';
        LogFileNameFromUtf16(shown);  // raises the message of an embedded NUL
    }
    const TPathForm form = FormOf(nameUtf8);
    if (form == TPathForm::DevicePath) {
        throw Exception(CannotCreateFileMessage(
            nameUtf8, "It is a device path (\\\\.\\ or \\\\?\\ followed by a device), not a file on disk: give the "
                      "name of a file, such as C:\\data\\session.rtf."));
    }
    // A long path ("\\?\C:\...") is taken as written, device names included: Windows then
    // makes a file of that name.
    // The last part counts as the system sees it, after normalisation, and as written.
    std::string_view device = LastPart(nameUtf8);
    const std::string normalised = Normalised(nameUtf8, currentDirectoryUtf8);
    if (!IsReservedDeviceName(device)) device = LastPart(normalised);
    if (form == TPathForm::Ordinary && IsReservedDeviceName(device)) {
        throw Exception(CannotCreateFileMessage(
            nameUtf8, DeviceStem(device) +
                          " is a device name: Windows opens CON, PRN, AUX, NUL, COM1 to COM9 and LPT1 to LPT9 as "
                          "devices in every folder and with any extension, so the log would go to the device, not "
                          "to a file. Choose another name."));
    }
}

std::optional<std::string> NameTooLongReason(std::u16string_view fullName, size_t maxPath, size_t maxComponent) {
    size_t longestPart = 0, part = 0;
    for (char16_t c : fullName) {
        part = (c == u'\\' || c == u'/') ? 0 : part + 1;
        if (part > longestPart) longestPart = part;
    }
    if (fullName.size() <= maxPath && longestPart <= maxComponent) return std::nullopt;
    return "The name is too long: " + std::to_string(fullName.size()) + " characters, with " +
           std::to_string(longestPart) + " in its longest folder or file name, where the system takes at most " +
           std::to_string(maxPath) + " in all and " + std::to_string(maxComponent) +
           " in one folder or file name: choose a shorter folder or name.";
}

}  // namespace quor
