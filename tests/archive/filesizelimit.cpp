#include "filesizelimit.h"

#include <csignal>
#include <sys/resource.h>

FileSizeLimit::FileSizeLimit(qint64 bytes)
{
    rlimit old{};
    if (getrlimit(RLIMIT_FSIZE, &old) != 0)
        return;
    m_oldSoft = old.rlim_cur;
    m_oldHard = old.rlim_max;
    m_oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limit = old;
    limit.rlim_cur = rlim_t(bytes);
    m_active = setrlimit(RLIMIT_FSIZE, &limit) == 0;
}

FileSizeLimit::~FileSizeLimit()
{
    if (m_active) {
        rlimit old{};
        old.rlim_cur = rlim_t(m_oldSoft);
        old.rlim_max = rlim_t(m_oldHard);
        setrlimit(RLIMIT_FSIZE, &old);
    }
    std::signal(SIGXFSZ, m_oldHandler ? m_oldHandler : SIG_DFL);
}
