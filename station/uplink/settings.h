// "tavrin.ini": a plain list of name=value lines. The station reads the whole list at start,
// changes only its own keys and writes the list back, so lines it does not know survive.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace station {

inline constexpr const char* kSettingsFile = "tavrin.ini";
inline constexpr const char* kCallKey = "CALL";
inline constexpr const char* kLocatorKey = "LOCATOR";
inline constexpr const char* kLanguageKey = "LANGUAGE";  // the window's: en or de
inline constexpr const char* kNightKey = "NIGHT";        // the window's night theme: 1 or 0

class SettingsLines {
  public:
    enum class ReadResult { Read, Missing, Unreadable };
    // Reads the file. A missing file and one that exists but cannot be read (a folder of that
    // name, no permission, a read error) are told apart: only the first may be created later.
    // On failure the list is empty and `error` says why.
    ReadResult Read(const std::string& path, std::string& error);
    // Read() == Read.
    bool Load(const std::string& path, std::string& error);
    // Writes a temporary file beside it and renames it over the old one, so a failed write
    // never leaves the settings half-written. False and `error` set on failure.
    bool Save(const std::string& path, std::string& error) const;

    // The value of the first line whose name matches (case-insensitive); "" when absent.
    std::string Value(std::string_view key) const;
    // Sets the key's line; an empty value removes it; a missing key is appended.
    void SetValue(std::string_view key, std::string_view value);

    const std::vector<std::string>& Lines() const { return lines_; }

  private:
    int Find(std::string_view key) const;
    std::vector<std::string> lines_;
    // Editors on Windows start the file with a UTF-8 byte-order mark: read past it, written back.
    bool byteOrderMark_ = false;
};

}  // namespace station
