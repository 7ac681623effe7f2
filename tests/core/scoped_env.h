// Sets an environment variable for the life of the object and puts the old
// value back afterwards.
#pragma once

#include <cstdlib>
#include <optional>
#include <string>

namespace zorvane::testing {

inline void set_env(const char* name, const char* value) {
#ifdef _WIN32
    // An empty value removes the variable here.
    ::_putenv_s(name, value ? value : "");
#else
    if (value) {
        ::setenv(name, value, 1);
    } else {
        ::unsetenv(name);
    }
#endif
}

class ScopedEnv {
  public:
    ScopedEnv(const char* name, const char* value) : m_name(name) {
        if (const char* old = std::getenv(name)) {
            m_old = old;
        }
        set_env(name, value);
    }
    ~ScopedEnv() { set_env(m_name, m_old ? m_old->c_str() : nullptr); }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

  private:
    const char* m_name;
    std::optional<std::string> m_old;
};

}  // namespace zorvane::testing
