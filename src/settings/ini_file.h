// The settings file: an INI file held in memory, read and written whole.
//
// Format, line by line (LF or CR LF; a file that used CR LF is written with CR LF):
// - "[Name]" starts a section; the name is the text up to the first "]", trimmed.
// - "Key=Value" is a key of the current section; key and value are split at the first "=".
// - A line whose first non-blank character is ";" or "#" is a comment.
// Any other line (and any key before the first section) is kept as it is and written back
// unchanged, but cannot be read or set.
//
// Section and key names are compared without regard to ASCII case. Values are text: Get
// trims blanks (space, tab, CR, VT, FF) on both sides and then removes one pair of matching
// quotes ("..." or '...') around the value. Set writes a value in double quotes only when
// reading it back would otherwise change it (blanks at either end, or surrounding quotes), so
// every value read back equals the value set. A line feed inside a value cannot be stored and
// is written as a space. When a section or key occurs more than once, the first one counts.
//
// Everything the program does not set (other sections, keys, comments, their order and
// spelling) is written back as it was read.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

class TIniFile {
  public:
    // Files larger than this are not read (Load fails and the file stays empty).
    static constexpr size_t MaxFileSize = 1 << 20;

    TIniFile() = default;

    // Replaces the content with the file at `path`. A missing file gives an empty content and
    // true. False, with an empty content, when the file exists but cannot be read, is not a
    // regular file or is larger than MaxFileSize. Never throws on any content.
    bool Load(const std::string& path);

    // Replaces the content with `text`, as if it had been read from a file.
    void Parse(const std::string& text);

    // The file's text as Save writes it.
    std::string Text() const;

    // Writes the content to `path` atomically: a temporary file in the same directory is
    // written, flushed to disk and renamed over `path`, so an interrupted save leaves either
    // the old or the new file. The new file keeps the old file's permission bits; a file that
    // did not exist gets 0666 less the umask, as an editor creates it. A symbolic link at
    // `path` is replaced by the file, not followed. False when anything fails (the old file
    // is then untouched); never throws except for std::bad_alloc.
    bool Save(const std::string& path) const;

    // The value of `key` in `section`, or nothing when either is missing.
    std::optional<std::string> Get(const std::string& section, const std::string& key) const;

    // Sets `key` in `section`. An existing key keeps its place and spelling and its line is
    // left as it was when the value is unchanged; a new key goes after the last key of the
    // section's first occurrence; a new section goes at the end of the file.
    void Set(const std::string& section, const std::string& key, const std::string& value);

  private:
    enum class TKind { Section, Key, Other };
    struct TLine {
        TKind Kind = TKind::Other;
        std::string Raw;    // the line as read or as written, without its line end
        std::string Name;   // section or key name, trimmed
        std::string Value;  // the key's value as Get returns it
    };

    // Index of the first line of the first section called `section`, or -1.
    long FindSection(const std::string& section) const;
    // Index of the first line of `key` in the first section called `section`, or -1.
    long FindKey(const std::string& section, const std::string& key) const;

    std::vector<TLine> lines_;
    bool crlf_ = false;
};

// `text` without the blanks (space, tab, CR, VT, FF) at either end.
std::string TrimBlanks(const std::string& text);

// A decimal integer with an optional sign, blanks around allowed, within 32 bits.
std::optional<int32_t> ParseSettingsInteger(const std::string& text);

// The shortest decimal text of `value` that reads back exactly, with `decimalSeparator` in
// place of "." ("0.003", "1", "1e-05").
std::string FormatSettingsDouble(double value, const std::string& decimalSeparator);

// A decimal number with `decimalSeparator` as its point, blanks around allowed, an optional
// sign and exponent ("0,003" with ","); nullopt for any other text.
std::optional<double> ParseSettingsDouble(const std::string& text,
                                          const std::string& decimalSeparator);

// The key's integer, or `current` when the key is missing or not an integer.
int32_t ReadSettingsInteger(const TIniFile& ini, const char* section, const char* key,
                            int32_t current);
void WriteSettingsInteger(TIniFile& ini, const char* section, const char* key, int32_t value);

// `field` := `value` when `accepted`; otherwise the field keeps what it held.
template <typename T, typename U>
void TakeIfAccepted(T& field, U value, bool accepted) {
    if (accepted) {
        field = static_cast<T>(value);
    }
}
