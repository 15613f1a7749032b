#pragma once
// Refusals counted per address instead of logged one line each: the first
// `fullPerWindow` refusals of an address within `window` are written in
// full, the rest only counted, and one summary line per address says how
// many more there were once the window has passed. A caller flooding the
// server with made-up tokens or wrong passwords so costs a few lines per
// window, not one line per request. At most `maxAddresses` addresses are
// told apart; refusals beyond them are counted together under "*".

#include <QHash>
#include <QString>

#include <chrono>
#include <cstddef>
#include <mutex>
#include <vector>

namespace server {

class RefusalLog {
public:
    using Clock = std::chrono::steady_clock;
    struct Options {
        int fullPerWindow = 5;
        std::chrono::milliseconds window{10000};
        std::size_t maxAddresses = 10000;
    };
    RefusalLog() : RefusalLog(Options{}) { }
    explicit RefusalLog(Options o) : opt_(o) { }

    /// Counts one refusal; true when it is to be written in full.
    bool note(const QString& address, const QString& what, Clock::time_point now = Clock::now());

    struct Summary {
        QString address;
        int unwritten = 0;  ///< refusals counted but not written
        double seconds = 0; ///< the window they fell in
        QString last;       ///< what the last of them was
    };
    /// The windows that ended by `now` (all of them when `all`) with refusals
    /// left unwritten; those windows are forgotten.
    std::vector<Summary> due(Clock::time_point now = Clock::now(), bool all = false);

    const Options& options() const { return opt_; }

private:
    struct Window {
        Clock::time_point start;
        int seen = 0;
        QString last;
    };
    const Options opt_;
    std::mutex mutex_;
    QHash<QString, Window> windows_;
};

} // namespace server
