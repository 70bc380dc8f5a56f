#include "ProfileFile.h"

#include "Platform.h"
#include "Text.h"

#include <algorithm>
#include <optional>

namespace
{

constexpr std::string_view kBlanks = " \t";
constexpr std::string_view kCrlf = "\r\n";
constexpr std::size_t npos = std::string_view::npos;

char AsciiLower(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// Only ASCII letters fold: Windows-1250 letters such as 'Ř' and 'ř' differ
// by the same bit, but the files compare them exactly.
bool SameName(std::string_view a, std::string_view b)
{
    return std::ranges::equal(a, b, {}, AsciiLower, AsciiLower);
}

// The name in a "[name]" header line; nothing for any other line.
std::optional<std::string_view> SectionName(std::string_view line)
{
    const std::size_t open = line.find_first_not_of(kBlanks);
    if (open == npos || line[open] != '[') {
        return std::nullopt;
    }
    const std::size_t close = line.find(']', open + 1);
    if (close == npos) {
        return std::nullopt;
    }
    return TrimBlanks(line.substr(open + 1, close - open - 1));
}

// The key of a "key=value" line; nothing for comments and lines without '='.
std::optional<std::string_view> KeyName(std::string_view line)
{
    const std::size_t first = line.find_first_not_of(kBlanks);
    const std::size_t equals = line.find('=');
    if (first == npos || line[first] == ';' || equals == npos) {
        return std::nullopt;
    }
    return TrimBlanks(line.substr(0, equals));
}

std::string_view ValueOf(std::string_view line)
{
    std::string_view value = TrimBlanks(line.substr(line.find('=') + 1));
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front()) {
        value = value.substr(1, value.size() - 2);
    }
    return value;
}

template <typename Lines> std::string Join(const Lines &lines)
{
    std::string bytes;
    for (const auto &line : lines) {
        bytes += line.text;
        bytes += line.end;
    }
    return bytes;
}

bool HasLineBreak(std::string_view text)
{
    return text.find_first_of(kCrlf) != npos;
}

// Names and values that would change the file's structure: a section name
// closing its header early, a key that reads back as a comment, a header
// or another key, and anything splitting the line.
void CheckWritable(std::string_view section, std::string_view key, std::string_view value)
{
    if (section.find(']') != npos || HasLineBreak(section)) {
        throw std::invalid_argument("section name cannot be written");
    }
    const std::string_view trimmedKey = TrimBlanks(key);
    if (trimmedKey.empty() || trimmedKey.front() == ';' || trimmedKey.front() == '[' ||
        key.find('=') != npos || HasLineBreak(key)) {
        throw std::invalid_argument("key name cannot be written");
    }
    if (HasLineBreak(value)) {
        throw std::invalid_argument("value cannot be written");
    }
}

// What the file holds now: `path`, or `fallback` while `path` is missing.
std::string CurrentBytes(const std::string *current, const std::filesystem::path &fallback)
{
    std::string bytes;
    if (current != nullptr) {
        bytes = *current;
    } else if (!fallback.empty()) {
        platform::ReadSettingsFile(fallback, bytes);
    }
    return bytes;
}

} // namespace

ProfileWriteError::ProfileWriteError(const std::filesystem::path &path)
    : std::runtime_error("Unable to write to " + path.string())
{
}

ProfileFile::ProfileFile(std::filesystem::path path, std::filesystem::path fallback)
    : path_(std::move(path)), fallback_(std::move(fallback))
{
    std::string bytes;
    if (platform::ReadSettingsFile(path_, bytes) == platform::ReadResult::Missing) {
        bytes = CurrentBytes(nullptr, fallback_);
    }
    lines_ = Split(bytes);
}

std::vector<ProfileFile::Line> ProfileFile::Split(std::string_view bytes)
{
    // Each line keeps its own terminator so untouched lines are saved as read.
    std::vector<Line> lines;
    for (std::size_t start = 0; start < bytes.size();) {
        const std::size_t end = bytes.find_first_of(kCrlf, start);
        if (end == npos) {
            lines.push_back({std::string(bytes.substr(start)), ""});
            break;
        }
        const std::size_t endSize = bytes.compare(end, 2, kCrlf) == 0 ? 2 : 1;
        lines.push_back({std::string(bytes.substr(start, end - start)),
                         std::string(bytes.substr(end, endSize))});
        start = end + endSize;
    }
    return lines;
}

ProfileFile::Location ProfileFile::Locate(const std::vector<Line> &lines, std::string_view section,
                                          std::string_view key)
{
    Location location{npos, npos, npos};
    section = TrimBlanks(section);
    key = TrimBlanks(key);
    std::size_t i = 0;
    while (i < lines.size()) {
        const auto name = SectionName(lines[i].text);
        if (name && SameName(*name, section)) {
            break;
        }
        ++i;
    }
    if (i == lines.size()) {
        return location;
    }
    location.header = i;
    location.insert = i + 1;
    for (++i; i < lines.size() && !SectionName(lines[i].text); ++i) {
        const std::string_view text = lines[i].text;
        if (TrimBlanks(text).empty()) {
            continue;
        }
        location.insert = i + 1;
        const auto name = KeyName(text);
        if (location.key == npos && name && SameName(*name, key)) {
            location.key = i;
        }
    }
    return location;
}

std::string ProfileFile::ReadString(std::string_view section, std::string_view key,
                                    std::string_view fallback) const
{
    const Location location = Locate(lines_, Utf8ToCp1250(section), Utf8ToCp1250(key));
    if (location.key == npos) {
        return std::string(fallback);
    }
    return Cp1250ToUtf8(ValueOf(lines_[location.key].text));
}

int32_t ProfileFile::ReadInteger(std::string_view section, std::string_view key,
                                 int32_t fallback) const
{
    const Location location = Locate(lines_, Utf8ToCp1250(section), Utf8ToCp1250(key));
    if (location.key == npos) {
        return fallback;
    }
    return TextToIntDef(ValueOf(lines_[location.key].text), fallback);
}

void ProfileFile::Apply(std::vector<Line> &lines, std::string_view section, std::string_view key,
                        std::string_view value)
{
    const Location location = Locate(lines, section, key);
    if (location.key != npos) {
        // The key keeps its spelling and spacing from the file.
        std::string &text = lines[location.key].text;
        text.erase(text.find('=') + 1);
        text += value;
    } else if (location.header != npos) {
        // Blank lines separating the next section stay after the new key.
        Line &last = lines[location.insert - 1];
        if (last.end.empty()) {
            last.end = kCrlf;
        }
        lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(location.insert),
                     Line{std::string(key) + '=' + std::string(value), std::string(kCrlf)});
    } else {
        // As Windows appends a section: right after the last line.
        if (!lines.empty() && lines.back().end.empty()) {
            lines.back().end = kCrlf;
        }
        lines.push_back({'[' + std::string(section) + ']', std::string(kCrlf)});
        lines.push_back({std::string(key) + '=' + std::string(value), std::string(kCrlf)});
    }
}

void ProfileFile::Save(const std::vector<Write> &writes)
{
    std::vector<Line> lines;
    bool tooLarge = false;
    const auto change = [&](const std::string *current) -> std::optional<std::string> {
        const std::string before = CurrentBytes(current, fallback_);
        lines = Split(before);
        for (const Write &write : writes) {
            Apply(lines, write.section, write.key, write.value);
        }
        std::string after = Join(lines);
        // Content as it is needs no save: closing the program with its
        // settings unchanged costs no write and no flush to disk, and
        // creates no copy of the fallback.
        if (after == before) {
            return std::nullopt;
        }
        // The next start would refuse a file past the read cap and lose
        // every setting in it: the old file stays instead.
        if (after.size() > platform::MaxSettingsFileSize) {
            tooLarge = true;
            return std::nullopt;
        }
        return after;
    };
    if (!platform::UpdateFile(path_, change) || tooLarge) {
        throw ProfileWriteError(path_);
    }
    lines_ = std::move(lines);
}

void ProfileFile::WriteString(std::string_view section, std::string_view key,
                              std::string_view value)
{
    const std::string sectionBytes = Utf8ToCp1250(section);
    const std::string keyBytes = Utf8ToCp1250(key);
    const std::string valueBytes = Utf8ToCp1250(value);
    CheckWritable(sectionBytes, keyBytes, valueBytes);

    Save({Write{sectionBytes, keyBytes, valueBytes}});
}

void ProfileFile::WriteInteger(std::string_view section, std::string_view key, int64_t value)
{
    WriteString(section, key, std::to_string(value));
}

std::string ProfileFile::Bytes() const
{
    return Join(lines_);
}

void ProfileFile::Batch::WriteString(std::string_view section, std::string_view key,
                                     std::string_view value)
{
    Write write{Utf8ToCp1250(section), Utf8ToCp1250(key), Utf8ToCp1250(value)};
    CheckWritable(write.section, write.key, write.value);
    writes_.push_back(std::move(write));
}

void ProfileFile::Batch::WriteInteger(std::string_view section, std::string_view key, int64_t value)
{
    WriteString(section, key, std::to_string(value));
}

void ProfileFile::Batch::Commit()
{
    if (writes_.empty()) {
        return;
    }
    // Replayed in order on the file's current lines, as one-by-one writes
    // would have changed them.
    file_.Save(writes_);
    writes_.clear();
}
