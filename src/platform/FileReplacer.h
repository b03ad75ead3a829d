#pragma once

#include <string>

namespace trelvo::platform {

/// How every file Trelvo saves is written, so that a save never damages what was there:
/// - a regular file (or a new one) is written to a temporary file beside it, flushed, given
///   the target's mode (and, as root, its owner and group) and renamed over the target, so
///   a failed write leaves the old file whole;
/// - a symbolic link is followed: the file it points to is replaced, the link stays;
/// - a target that is not a regular file (a device such as /dev/null, a FIFO) is written
///   straight into, never replaced;
/// - a read-only target (no write bits, or not writable for this user) is refused, even
///   for root;
/// - the temporary name stays within the file-name limit, however long the target's is.
/// Thread: any; one object per file.
class FileReplacer {
public:
    FileReplacer() = default;
    /// Abandons an unfinished write: the temporary file is removed, the target untouched.
    ~FileReplacer();
    FileReplacer(const FileReplacer&) = delete;
    FileReplacer& operator=(const FileReplacer&) = delete;

    /// Opens the file to write into. False, with the reason in error ("cannot write X: the
    /// file is read-only"), when the target cannot be written.
    bool begin(const std::string& path, std::string& error);
    /// The descriptor to write into (valid between begin and commit).
    int fd() const noexcept { return descriptor; }
    /// Writes all of data, retrying after interruptions.
    bool write(const void* data, std::size_t size, std::string& error);
    /// Finishes the file: flushes and renames the temporary file over the target (or closes
    /// the device or FIFO written straight into).
    bool commit(std::string& error);
    /// Drops what was written: removes the temporary file. Nothing happens to the target.
    void abandon() noexcept;

    /// The file written into until commit: the temporary file, or the target itself.
    const std::string& writePath() const noexcept { return writing; }
    /// True while writing into a temporary file (a regular target).
    bool replacing() const noexcept { return !direct; }

private:
    std::string target;  ///< the file replaced: the path given, its links followed
    std::string writing; ///< the temporary file, or the target when written straight into
    int descriptor = -1;
    bool direct = false;
    bool keepMode = false;
    unsigned mode = 0;
    unsigned owner = 0, group = 0;
};

/// The file a path names once its symbolic links are followed; a link to a file that does
/// not exist yet gives the path the link points to. Other paths come back unchanged.
std::string followLinks(const std::string& path);

/// A temporary name beside target that keeps within the file-name limit (255 bytes) and
/// differs between processes and between calls.
std::string temporaryNameFor(const std::string& target);

} // namespace trelvo::platform
