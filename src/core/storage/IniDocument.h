#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quindel {

// One INI file held in memory as its lines. Section and key names match without regard to
// ASCII letter case; a value is the text after the first "=" with surrounding blanks and one
// pair of enclosing quotes removed. Lines that are not touched by set() are written back
// exactly as they were read, line ends included.
//
// When a section name occurs more than once, only its first copy counts: reads ignore the
// later copies and writes never touch them.
//
// Text in memory is UTF-8. A file whose bytes are not valid UTF-8 is taken as Windows-1252
// (files made on Windows); such a file stays Windows-1252 when written back, as long as every
// new value can be expressed in it. A value that cannot turns the whole file into UTF-8, so a
// file is always in one encoding. Text handed to set() that is not valid UTF-8 is taken as
// Windows-1252 too (a file name made on Windows); it turns a UTF-8 file without a byte order
// mark into Windows-1252 when all of the file can be expressed in it, so that its bytes are
// written as they were given and name the same file when read back as bytes.
class IniDocument {
  public:
    enum class Encoding { Utf8, Windows1252 };

    IniDocument() = default;
    static IniDocument parse(std::string_view bytes);
    std::string serialize() const;

    // The value of the first key named key in the first section named section.
    std::optional<std::string> get(std::string_view section, std::string_view key) const;
    // Replaces the value of an existing key in place; otherwise adds "key=value" after the last
    // non-blank line of the section, or appends the section with the key after the content.
    // Both look at the first section of that name only.
    // New lines end in CR LF. Control characters other than tab are dropped from all three
    // texts, so a value can never break the line structure of the file.
    void set(std::string_view section, std::string_view key, std::string_view value);

    Encoding encoding() const { return encoding_; }

  private:
    enum class Kind { Other, Section, Key };
    struct Line {
        std::string text; // UTF-8, without the line end
        std::string eol;  // "\r\n", "\n", "\r" or "" for a last line without one
        Kind kind = Kind::Other;
        std::string name;     // lower-case section or key name
        size_t valueFrom = 0; // for keys: the offset just past the first "="
    };
    static void classify(Line& line);
    size_t endOfSection(size_t header) const;
    // The line of the first header of the (lower-case) section name; lines_.size() if none.
    size_t firstSection(const std::string& name) const;
    // Keeps the file in one encoding that can express text (see the class comment).
    void chooseEncodingFor(const std::string& text, bool givenAsUtf8);

    std::vector<Line> lines_;
    // Positions of the section header lines, built by the first lookup after a change.
    mutable std::vector<size_t> headers_;
    mutable bool indexed_ = false;
    Encoding encoding_ = Encoding::Utf8;
    bool byteOrderMark_ = false;
};

// The value as the profile reader with a 1000-character buffer hands it on: at most 999
// characters, leading spaces removed, every character below code 32 deleted wherever it
// stands; the empty text when nothing was delivered.
std::string deliverValue(std::string_view value);

// The delivered value of key in section of doc, or of strDefault when it is missing.
std::string readDelivered(const IniDocument& doc, std::string_view section, std::string_view key,
                          std::string_view strDefault);

// Text helpers shared by the storage code.
std::string trimSpaces(std::string_view text);
bool isValidUtf8(std::string_view bytes);
std::string windows1252ToUtf8(std::string_view bytes);
// False when text holds a character that Windows-1252 cannot express.
bool utf8ToWindows1252(std::string_view text, std::string& out);

enum class ReadStatus { Ok, Missing, Failed };
// Reads a whole ordinary file. Missing when there is no such file; Failed when something is
// there that cannot be read as a file (a folder, no permission, an I/O error).
ReadStatus readFileBytes(const std::string& path, std::string& bytes);
// Loads path into doc: an empty document when the file is missing; false when it exists but
// cannot be read (doc is then empty too).
bool loadIniFile(const std::string& path, IniDocument& doc);

// Replaces path with bytes through a temporary file in the same folder that is flushed to
// disk and renamed over the old file, so the file holds either the old or the new content.
// On failure the old file is untouched, the temporary file removed, and the result false.
// An existing file that we may not write, or whose owner has taken away their own write
// permission (its read-only mark, which binds root too), is never replaced.
// The temporary file's name starts with a dot, so listings of group files never show it.
bool replaceFileAtomically(const std::string& path, std::string_view bytes);

} // namespace quindel
