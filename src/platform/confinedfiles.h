#pragma once
// Writing files below a folder without ever leaving it: every level beneath an opened folder is
// reached through the folder above it and never through a link, so a link already present in
// the tree (or one planted while an extraction runs) cannot redirect a write elsewhere. Also the
// free space of the file system a folder lives on.

#include <QString>
#include <QtGlobal>

namespace platform {

enum class FsError {
    None,
    NotFound,       // a level is missing (and was not to be made)
    Link,           // a level or the file itself is a link
    NotFolder,      // a level is a file, device or pipe
    NotRegularFile, // the file's name is taken by a folder, device, pipe or socket
    ReadOnly,       // the file exists without the owner's write permission
    NoSpace,        // the file system or the user's quota is full
    Other,
};

// One open folder. Moving hands the folder over; the moved-from object is invalid.
class Folder
{
public:
    Folder() = default;
    ~Folder();
    Folder(Folder&& other) noexcept;
    Folder& operator=(Folder&& other) noexcept;
    Folder(const Folder&) = delete;
    Folder& operator=(const Folder&) = delete;

    // Opens the folder at `path`, links included: the path as a whole is the caller's choice.
    // With `create`, a missing last level is made first (its parent must exist).
    static Folder Open(const QString& path, bool create, FsError* error = nullptr);

    // Opens the single level `name` inside this folder, never through a link; with `create`
    // it is made when missing. Two threads making the same level at once both succeed, and
    // `created` tells the one that made it.
    Folder Sub(const QString& name, bool create, FsError* error = nullptr, bool* created = nullptr) const;

    // Whether the file `name` may be replaced: None when nothing has the name (`exists` false)
    // or it is a regular file its owner may write; otherwise why not, as OutputFile::Create
    // would refuse it.
    FsError CheckReplaceable(const QString& name, bool* exists) const;

    // Renames `from` to `to` in this folder, replacing a file named `to`; a link at either name
    // is moved or replaced itself, never followed.
    bool Rename(const QString& from, const QString& to, FsError* error = nullptr) const;

    // Removes the file, or with `folder` the empty folder, `name`.
    bool Remove(const QString& name, bool folder) const;

    bool IsValid() const { return m_fd >= 0; }

private:
    friend class OutputFile;
    explicit Folder(int fd)
        : m_fd(fd)
    {
    }
    int m_fd = -1;
};

// A regular file being written. Closed by the destructor.
class OutputFile
{
public:
    OutputFile() = default;
    ~OutputFile();
    OutputFile(OutputFile&& other) noexcept;
    OutputFile& operator=(OutputFile&& other) noexcept;
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // Creates `name` in `folder`, or truncates the regular file of that name, for writing. A
    // link, anything but a regular file, and a file its owner may not write (also for root, as
    // with a read-only attribute) are refused before anything changes. A `readOnly` file is
    // made, or turned, writable by nobody; this descriptor still writes it.
    static OutputFile Create(const Folder& folder, const QString& name, bool readOnly,
                             FsError* error = nullptr);

    // Creates `name` in `folder` only when nothing has that name yet.
    static OutputFile CreateNew(const Folder& folder, const QString& name, bool readOnly,
                                FsError* error = nullptr);

    // Writes all of `data`; false with the reason otherwise.
    bool Write(const char* data, qint64 size, FsError* error = nullptr);

    // Nanoseconds since 1970-01-01 UTC; a time of 0 is left as it is.
    bool SetTimes(qint64 accessNs, qint64 modificationNs);

    bool IsValid() const { return m_fd >= 0; }
    void Close();

private:
    explicit OutputFile(int fd)
        : m_fd(fd)
    {
    }
    int m_fd = -1;
};

// Bytes an ordinary user may still write on the file system that holds `path`, or the nearest
// existing folder above it; -1 when that cannot be told.
qint64 AvailableBytes(const QString& path);

} // namespace platform
