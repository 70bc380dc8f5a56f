// Key-by-key access to an INI settings file with the behaviour of the
// Windows private-profile functions, so that files written on Windows and
// here read the same:
//  - section and key names match without regard to ASCII letter case and
//    to blanks around them;
//  - values are trimmed of blanks and of one pair of matching quotes;
//  - the first of duplicate sections or keys is the one read and written;
//  - comment lines (';'), blank lines and everything not written stay byte
//    for byte as they were;
//  - a write replaces the value of an existing key in place, or appends the
//    key to its section, or appends the section right after the last line,
//    with no blank line between; new lines end in CRLF;
//  - the file is Windows-1250 on disk; names and values are UTF-8 here;
//  - every write reads the file again and applies itself to what is there,
//    so what another program saved since this object read the file stays.
// Every write saves the whole file at once under a lock
// (platform::UpdateFile), so a failed or interrupted write leaves the file
// as it was, and writes by several programs at once all land. A Batch saves
// several writes that belong together in one such save.
#pragma once

#include <cstdint>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

// A key could not be written; what() is "Unable to write to <full path>".
class ProfileWriteError : public std::runtime_error
{
  public:
    explicit ProfileWriteError(const std::filesystem::path &path);
};

class ProfileFile
{
    struct Write {
        std::string section, key, value; // Windows-1250 bytes
    };

  public:
    // Reads `path`, or `fallback` (when not empty) while `path` does not
    // exist; writes always go to `path`, the first one taking the
    // fallback's content as its start. A missing file, or one that cannot
    // be read (no permission, not a regular file, over
    // platform::MaxSettingsFileSize), reads as empty; an unreadable `path`
    // is never replaced: writes to it throw ProfileWriteError.
    explicit ProfileFile(std::filesystem::path path, std::filesystem::path fallback = {});

    const std::filesystem::path &Path() const { return path_; }

    std::string ReadString(std::string_view section, std::string_view key,
                           std::string_view fallback) const;
    // The value by TryTextToInt, or `fallback` when the key is missing or
    // its value is not a number.
    int32_t ReadInteger(std::string_view section, std::string_view key, int32_t fallback) const;

    // Throws ProfileWriteError when the file cannot be saved, or would grow
    // past platform::MaxSettingsFileSize (the next read would refuse it);
    // the file on disk and this object then keep their earlier content. Otherwise the
    // object takes the saved content, with what other programs saved.
    void WriteString(std::string_view section, std::string_view key, std::string_view value);
    void WriteInteger(std::string_view section, std::string_view key, int64_t value);

    // The file's content as it would be saved, Windows-1250 bytes.
    std::string Bytes() const;

    // Collects writes that must reach the disk together and saves them with
    // one Commit(): the saved bytes are those the same writes made one by
    // one on the file object would leave, and a failed or interrupted save
    // leaves none of them. The file object takes the new content only when
    // the save succeeds. Writes made on the file object while a batch is
    // open stay; the batch's writes apply on top of them. A batch destroyed
    // without Commit() saves nothing.
    class Batch
    {
      public:
        explicit Batch(ProfileFile &file) : file_(file) {}
        Batch(const Batch &) = delete;
        Batch &operator=(const Batch &) = delete;

        // Throw std::invalid_argument at once for names or values the
        // file's own writes refuse; nothing is saved until Commit().
        void WriteString(std::string_view section, std::string_view key, std::string_view value);
        void WriteInteger(std::string_view section, std::string_view key, int64_t value);

        // Saves the writes collected since the last successful Commit();
        // none, no save. Throws ProfileWriteError when the file cannot be
        // saved: the file on disk and the file object then keep their
        // content, and the batch its writes, so Commit() may be tried again.
        void Commit();

      private:
        ProfileFile &file_;
        std::vector<Write> writes_;
    };

  private:
    struct Line {
        std::string text; // without its line end, Windows-1250 bytes
        std::string end;  // "\r\n", "\n", "\r" or "" for an unterminated last line
    };
    // Where a key is, or would go, in the first matching section; npos for
    // what is missing. Names are Windows-1250 bytes.
    struct Location {
        std::size_t header; // the section's header line
        std::size_t key;    // the key's line
        std::size_t insert; // after the section's last non-blank line
    };
    static Location Locate(const std::vector<Line> &lines, std::string_view section,
                           std::string_view key);
    // One write into `lines`, names and value already checked.
    static void Apply(std::vector<Line> &lines, std::string_view section, std::string_view key,
                      std::string_view value);
    static std::vector<Line> Split(std::string_view bytes);
    // Applies `writes` to the file as it is now on disk, saves it and only
    // then takes its lines.
    void Save(const std::vector<Write> &writes);

    std::filesystem::path path_;
    std::filesystem::path fallback_;
    std::vector<Line> lines_;
};
