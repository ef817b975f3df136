#pragma once
// A real write error without a small file system: while one of these lives, the process may
// not make any file longer than the limit, and writes beyond it fail (EFBIG) instead of
// raising the signal that would end the test.

#include <QtGlobal>

class FileSizeLimit
{
public:
    explicit FileSizeLimit(qint64 bytes);
    ~FileSizeLimit();
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

    bool IsActive() const { return m_active; }

private:
    bool m_active = false;
    quint64 m_oldSoft = 0;
    quint64 m_oldHard = 0;
    void (*m_oldHandler)(int) = nullptr;
};
