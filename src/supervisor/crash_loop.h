// When a server keeps failing soon after its launch: three failures in a row (died, or found
// hung), each less than a minute after that server's launch, make a crash loop, which is
// told once; it is told again only after a server has run ten minutes.
#pragma once

#include <cstdint>

namespace nb {

class CCrashLoop {
public:
    static constexpr uint64_t kQuickMs = 60 * 1000;
    static constexpr int kFailures = 3;
    static constexpr uint64_t kSettledMs = 10 * 60 * 1000;

    // A server failed ranMs after its launch. True when this is the loop's notice.
    bool Failed(uint64_t ranMs) {
        m_quickFailures = ranMs < kQuickMs ? m_quickFailures + 1 : 0;
        if (m_quickFailures < kFailures || m_told) return false;
        m_told = true;
        return true;
    }
    // A server runs, ranMs after its launch. True when this ends a loop that was told.
    bool Running(uint64_t ranMs) {
        if (!m_told || ranMs < kSettledMs) return false;
        m_told = false;
        m_quickFailures = 0;
        return true;
    }

    int QuickFailures() const { return m_quickFailures; }

private:
    int m_quickFailures = 0;
    bool m_told = false;
};

}  // namespace nb
