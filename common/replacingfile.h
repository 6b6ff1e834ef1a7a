#pragma once

#include <QByteArrayView>
#include <QString>
#include <functional>

// Writes all of it to the descriptor, again after a signal; false on any error.
bool writeAll(int fd, const char *data, qint64 size);

// A file the user chose, written so that what was there stays until the new content is complete
// and on the disk: a regular file (or a new one) is written beside it and renamed over it once
// synced; a device or a FIFO, which cannot be replaced, is written in place.
class ReplacingFile
{
public:
    using SyncFunction = std::function<int(int fd)>;

    explicit ReplacingFile(const QString &path, SyncFunction sync = {});
    ~ReplacingFile(); // without commit() nothing is replaced

    ReplacingFile(const ReplacingFile &) = delete;
    ReplacingFile &operator=(const ReplacingFile &) = delete;

    // False when no new file can be made, or the target is a file the user may not write.
    bool open();
    // The descriptor to write to, once open.
    int handle() const { return m_fd; }
    // From one thread at a time; false once anything failed.
    bool write(QByteArrayView bytes);
    // Syncs the new content, then puts it in place; false when a write, the sync or the rename
    // failed (what was there then stays).
    bool commit();

private:
    QString m_path;     // where the content goes (a symbolic link's target)
    QString m_tempPath; // written here first; empty when written in place
    SyncFunction m_sync;
    int m_fd = -1;
    bool m_failed = false;
};
