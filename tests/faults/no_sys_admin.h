// Runs a scope without CAP_SYS_ADMIN in the effective set of the calling
// thread (and of the threads it starts meanwhile, which inherit it), so that
// an exclusive terminal (TIOCEXCL) refuses a second open even when the tests
// run as root, as it does for a technician's account. Capabilities belong to
// each thread, so the rest of the process is untouched; the permitted set
// keeps the capability and the destructor takes it back.
#pragma once

#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace zorvane::testing {

class NoSysAdmin {
  public:
    NoSysAdmin() {
        if (::syscall(SYS_capget, &m_header, m_saved) != 0) {
            return;
        }
        __user_cap_data_struct lowered[2] = {m_saved[0], m_saved[1]};
        lowered[CAP_TO_INDEX(CAP_SYS_ADMIN)].effective &= ~CAP_TO_MASK(CAP_SYS_ADMIN);
        m_dropped = ::syscall(SYS_capset, &m_header, lowered) == 0;
    }
    ~NoSysAdmin() {
        if (m_dropped) {
            ::syscall(SYS_capset, &m_header, m_saved);
        }
    }
    NoSysAdmin(const NoSysAdmin&) = delete;
    NoSysAdmin& operator=(const NoSysAdmin&) = delete;

  private:
    __user_cap_header_struct m_header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct m_saved[2]{};
    bool m_dropped = false;
};

}  // namespace zorvane::testing
