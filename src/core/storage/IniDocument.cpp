#include "core/storage/IniDocument.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quindel {

namespace {

// Code points of the Windows-1252 bytes 0x80..0x9F. The five bytes the code page leaves
// undefined map to the C1 control of the same number, so every byte survives a round trip.
constexpr char32_t kHighControls[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

void appendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

// Decodes one code point of valid UTF-8 at pos and moves pos past it.
char32_t nextCodePoint(std::string_view s, size_t& pos) {
    const auto b = static_cast<unsigned char>(s[pos]);
    int extra = b < 0x80 ? 0 : b < 0xE0 ? 1 : b < 0xF0 ? 2 : 3;
    char32_t cp = extra == 0 ? b : b & (0x3F >> extra);
    ++pos;
    for (; extra > 0 && pos < s.size(); --extra, ++pos)
        cp = (cp << 6) | (static_cast<unsigned char>(s[pos]) & 0x3F);
    return cp;
}

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

std::string_view trimBlanks(std::string_view s) {
    size_t b = 0, e = s.size();
    while (b < e && isBlank(s[b]))
        ++b;
    while (e > b && isBlank(s[e - 1]))
        --e;
    return s.substr(b, e - b);
}

std::string lower(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return out;
}

// Control characters other than tab would end the line or hide text: they are dropped. Text
// that is not UTF-8 is taken as Windows-1252, like a file.
std::string cleanText(std::string_view text) {
    std::string utf8 = isValidUtf8(text) ? std::string(text) : windows1252ToUtf8(text);
    std::string out;
    out.reserve(utf8.size());
    for (char c : utf8)
        if (static_cast<unsigned char>(c) >= 32 || c == '\t')
            out += c;
    return out;
}

} // namespace

std::string trimSpaces(std::string_view text) {
    size_t b = text.find_first_not_of(' ');
    if (b == std::string_view::npos)
        return {};
    size_t e = text.find_last_not_of(' ');
    return std::string(text.substr(b, e - b + 1));
}

bool isValidUtf8(std::string_view s) {
    size_t i = 0;
    while (i < s.size()) {
        const auto b = static_cast<unsigned char>(s[i]);
        if (b < 0x80) {
            ++i;
            continue;
        }
        int extra;
        char32_t min;
        if (b >= 0xC2 && b <= 0xDF) {
            extra = 1, min = 0x80;
        } else if (b >= 0xE0 && b <= 0xEF) {
            extra = 2, min = 0x800;
        } else if (b >= 0xF0 && b <= 0xF4) {
            extra = 3, min = 0x10000;
        } else {
            return false;
        }
        if (i + extra >= s.size())
            return false;
        char32_t cp = b & (0x3F >> extra);
        for (int k = 1; k <= extra; ++k) {
            const auto c = static_cast<unsigned char>(s[i + k]);
            if ((c & 0xC0) != 0x80)
                return false;
            cp = (cp << 6) | (c & 0x3F);
        }
        if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
            return false;
        i += extra + 1;
    }
    return true;
}

std::string windows1252ToUtf8(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size() + bytes.size() / 8);
    for (char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        appendUtf8(out, b >= 0x80 && b < 0xA0 ? kHighControls[b - 0x80] : b);
    }
    return out;
}

bool utf8ToWindows1252(std::string_view text, std::string& out) {
    out.clear();
    out.reserve(text.size());
    for (size_t pos = 0; pos < text.size();) {
        const char32_t cp = nextCodePoint(text, pos);
        if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) {
            out += static_cast<char>(cp);
            continue;
        }
        size_t k = 0;
        while (k < 32 && kHighControls[k] != cp)
            ++k;
        if (k == 32)
            return false;
        out += static_cast<char>(0x80 + k);
    }
    return true;
}

IniDocument IniDocument::parse(std::string_view bytes) {
    IniDocument doc;
    std::string text;
    if (isValidUtf8(bytes)) {
        if (bytes.substr(0, 3) == "\xEF\xBB\xBF") {
            doc.byteOrderMark_ = true;
            bytes.remove_prefix(3);
        }
        text = bytes;
    } else {
        doc.encoding_ = Encoding::Windows1252;
        text = windows1252ToUtf8(bytes);
    }
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find_first_of("\r\n", pos);
        Line line;
        if (end == std::string::npos) {
            line.text = text.substr(pos);
            pos = text.size();
        } else {
            line.text = text.substr(pos, end - pos);
            size_t eolLength = text.compare(end, 2, "\r\n") == 0 ? 2 : 1;
            line.eol = text.substr(end, eolLength);
            pos = end + eolLength;
        }
        classify(line);
        doc.lines_.push_back(std::move(line));
    }
    return doc;
}

void IniDocument::classify(Line& line) {
    std::string_view t = trimBlanks(line.text);
    line.kind = Kind::Other;
    line.name.clear();
    if (!t.empty() && t.front() == '[') {
        size_t close = t.find(']');
        line.kind = Kind::Section;
        line.name =
            lower(trimBlanks(t.substr(1, close == std::string_view::npos ? t.npos : close - 1)));
    } else if (!t.empty() && t.front() != ';') {
        size_t eq = line.text.find('=');
        if (eq != std::string::npos) {
            line.kind = Kind::Key;
            line.name = lower(trimBlanks(std::string_view(line.text).substr(0, eq)));
            line.valueFrom = eq + 1;
        }
    }
}

std::string IniDocument::serialize() const {
    std::string text = byteOrderMark_ ? "\xEF\xBB\xBF" : "";
    for (const Line& line : lines_) {
        text += line.text;
        text += line.eol;
    }
    if (encoding_ == Encoding::Utf8)
        return text;
    std::string bytes;
    utf8ToWindows1252(text, bytes); // set() keeps every text expressible
    return bytes;
}

size_t IniDocument::endOfSection(size_t header) const {
    size_t end = header + 1;
    while (end < lines_.size() && lines_[end].kind != Kind::Section)
        ++end;
    return end;
}

size_t IniDocument::firstSection(const std::string& name) const {
    if (!indexed_) {
        headers_.clear();
        for (size_t h = 0; h < lines_.size(); ++h)
            if (lines_[h].kind == Kind::Section)
                headers_.push_back(h);
        indexed_ = true;
    }
    for (size_t h : headers_)
        if (lines_[h].name == name)
            return h;
    return lines_.size();
}

void IniDocument::chooseEncodingFor(const std::string& text, bool givenAsUtf8) {
    std::string bytes;
    if (encoding_ == Encoding::Windows1252) {
        if (!utf8ToWindows1252(text, bytes))
            encoding_ = Encoding::Utf8;
        return;
    }
    if (givenAsUtf8 || byteOrderMark_ || !utf8ToWindows1252(text, bytes))
        return;
    for (const Line& line : lines_)
        if (!utf8ToWindows1252(line.text, bytes))
            return;
    encoding_ = Encoding::Windows1252;
}

std::optional<std::string> IniDocument::get(std::string_view section, std::string_view key) const {
    const size_t h = firstSection(lower(trimBlanks(section)));
    if (h == lines_.size())
        return std::nullopt;
    const std::string k = lower(trimBlanks(key));
    const size_t end = endOfSection(h);
    for (size_t i = h + 1; i < end; ++i) {
        const Line& line = lines_[i];
        if (line.kind != Kind::Key || line.name != k)
            continue;
        std::string_view v = trimBlanks(std::string_view(line.text).substr(line.valueFrom));
        if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
            v = v.substr(1, v.size() - 2);
        return std::string(v);
    }
    return std::nullopt;
}

void IniDocument::set(std::string_view section, std::string_view key, std::string_view value) {
    const std::string sec = cleanText(section);
    const std::string k = cleanText(key);
    const std::string v = cleanText(value);
    chooseEncodingFor(sec + k + v, isValidUtf8(section) && isValidUtf8(key) && isValidUtf8(value));
    const std::string keyName = lower(trimBlanks(k));
    const size_t header = firstSection(lower(trimBlanks(sec)));
    Line keyLine;
    keyLine.text = k + "=" + v;
    keyLine.eol = "\r\n";
    classify(keyLine);
    if (header < lines_.size()) {
        const size_t end = endOfSection(header);
        for (size_t i = header + 1; i < end; ++i) {
            Line& line = lines_[i];
            if (line.kind == Kind::Key && line.name == keyName) {
                line.text.resize(line.valueFrom);
                line.text += v;
                return;
            }
        }
        size_t last = end - 1;
        while (last > header && trimBlanks(lines_[last].text).empty())
            --last;
        if (lines_[last].eol.empty())
            lines_[last].eol = "\r\n";
        lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(last) + 1, std::move(keyLine));
        indexed_ = false;
        return;
    }
    if (!lines_.empty() && lines_.back().eol.empty())
        lines_.back().eol = "\r\n";
    Line headerLine;
    headerLine.text = "[" + sec + "]";
    headerLine.eol = "\r\n";
    classify(headerLine);
    lines_.push_back(std::move(headerLine));
    lines_.push_back(std::move(keyLine));
    indexed_ = false;
}

std::string deliverValue(std::string_view value) {
    // Cut after 999 characters (UTF-8 continuation bytes do not start a character).
    size_t cut = 0, chars = 0;
    while (cut < value.size() &&
           (chars < 999 || (static_cast<unsigned char>(value[cut]) & 0xC0) == 0x80)) {
        if ((static_cast<unsigned char>(value[cut]) & 0xC0) != 0x80)
            ++chars;
        ++cut;
    }
    value = value.substr(0, cut);
    if (value.empty())
        return {};
    // The buffer's tail is NUL, so only leading spaces are trimmed before the control
    // characters (the NULs among them) are deleted.
    value.remove_prefix(std::min(value.find_first_not_of(' '), value.size()));
    std::string out;
    out.reserve(value.size());
    for (char c : value)
        if (static_cast<unsigned char>(c) >= 32)
            out += c;
    return out;
}

std::string readDelivered(const IniDocument& doc, std::string_view section, std::string_view key,
                          std::string_view strDefault) {
    std::optional<std::string> v = doc.get(section, key);
    return deliverValue(v ? *v : strDefault);
}

ReadStatus readFileBytes(const std::string& path, std::string& bytes) {
    bytes.clear();
    // Non-blocking, so a FIFO lying where a file is expected cannot hang the program.
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return errno == ENOENT || errno == ENOTDIR ? ReadStatus::Missing : ReadStatus::Failed;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return ReadStatus::Failed;
    }
    char buffer[65536];
    for (;;) {
        ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n > 0) {
            bytes.append(buffer, static_cast<size_t>(n));
        } else if (n == 0) {
            break;
        } else if (errno != EINTR) {
            ::close(fd);
            bytes.clear();
            return ReadStatus::Failed;
        }
    }
    ::close(fd);
    return ReadStatus::Ok;
}

bool loadIniFile(const std::string& path, IniDocument& doc) {
    std::string bytes;
    ReadStatus status = readFileBytes(path, bytes);
    doc = status == ReadStatus::Ok ? IniDocument::parse(bytes) : IniDocument();
    return status != ReadStatus::Failed;
}

namespace {

bool writeAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        bytes.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

// The rename needs only the folder's permission, so the file's own is checked here. Its owner's
// write bit is the file's read-only mark (what "chmod -w" or a read-only file copied from
// Windows leaves), and it binds root too, whom the system lets write any file.
bool mayWrite(const std::string& path, const struct stat& st) {
    return (st.st_mode & S_IWUSR) != 0 &&
           ::faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) == 0;
}

} // namespace

bool replaceFileAtomically(const std::string& path, std::string_view bytes) {
    std::string target = path;
    // Write through a symbolic link to the file it names rather than replacing the link.
    struct stat st {};
    if (::lstat(target.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
        char* resolved = ::realpath(target.c_str(), nullptr);
        if (resolved == nullptr)
            return false;
        target = resolved;
        std::free(resolved);
    }
    const size_t slash = target.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : target.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? target : target.substr(slash + 1);
    if (name.empty())
        return false;
    const bool exists = ::stat(target.c_str(), &st) == 0;
    if (exists && (!S_ISREG(st.st_mode) || !mayWrite(target, st)))
        return false;

    static std::atomic<unsigned> counter{0};
    std::string temp;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        temp = (slash == std::string::npos ? "" : folder) + "." + name + ".tmp" +
               std::to_string(::getpid()) + "-" + std::to_string(counter++);
        fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST)
            return false;
    }
    if (fd < 0)
        return false;
    bool ok = writeAll(fd, bytes);
    if (ok && exists)
        ok = ::fchmod(fd, st.st_mode & 07777) == 0;
    ok = ok && ::fsync(fd) == 0;
    ok = ::close(fd) == 0 && ok;
    ok = ok && ::rename(temp.c_str(), target.c_str()) == 0;
    if (!ok) {
        ::unlink(temp.c_str());
        return false;
    }
    // Make the rename itself durable; the new content is in place either way.
    int dirFd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        ::fsync(dirFd);
        ::close(dirFd);
    }
    return true;
}

} // namespace quindel
