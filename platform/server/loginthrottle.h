#pragma once
// Failed log-ins slow down further tries, in memory (per server instance):
// - per operator code and address: after `freePerPair` failures in a row,
//   each further failure makes that address wait before it may try that
//   code again, 1 s, then 2, 4, ... up to `maxDelay`;
// - per address, any code: the same after `freePerAddress` failures (one
//   address trying many codes);
// - per operator code, any address: once `operatorAlarm` failures gathered
//   within `window`, a single failure from any address makes that address
//   wait (guessing spread over many addresses).
// A try during its wait is refused without checking the password. The waits
// belong to the address that failed: the operator, from another address,
// logs in at once, so an attacker cannot lock a real operator out. A
// success forgets the failures of that code at that address. Counts fade
// after `window` without failures. At most `maxTracked` keys are kept per
// table (older idle ones are dropped first; beyond that, new keys are not
// tracked until room is made).

#include <QHash>
#include <QString>

#include <chrono>
#include <cstddef>
#include <mutex>

namespace server {

class LoginThrottle {
public:
    using Clock = std::chrono::steady_clock;
    struct Options {
        int freePerPair = 3;
        int freePerAddress = 10;
        int operatorAlarm = 20;
        std::chrono::milliseconds firstDelay{1000};
        std::chrono::milliseconds maxDelay{60000};
        std::chrono::milliseconds window{15 * 60 * 1000};
        std::size_t maxTracked = 100000;
    };
    LoginThrottle() : LoginThrottle(Options{}) { }
    explicit LoginThrottle(Options o) : opt_(o) { }

    /// How long `address` must still wait before trying `code` (zero: go on).
    std::chrono::milliseconds wait(const QString& code, const QString& address, Clock::time_point now = Clock::now());
    /// Records a refused password; returns the wait it imposes (zero: none yet).
    std::chrono::milliseconds failed(const QString& code, const QString& address, Clock::time_point now = Clock::now());
    /// Records a success: that address's failures with that code are forgotten.
    void succeeded(const QString& code, const QString& address);

    const Options& options() const { return opt_; }

private:
    struct Count {
        int failures = 0;
        Clock::time_point last{};
        Clock::time_point until{}; ///< no try before this
    };
    using Table = QHash<QString, Count>;
    std::chrono::milliseconds delayAfter(int beyondFree) const;
    Count* entry(Table& t, const QString& key, Clock::time_point now);
    void prune(Table& t, Clock::time_point now);

    const Options opt_;
    std::mutex mutex_;
    Table pairs_, addresses_, operators_;
};

} // namespace server
