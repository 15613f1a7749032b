#include "loginthrottle.h"

#include <algorithm>

namespace server {

namespace {
QString pairKey(const QString& code, const QString& address)
{
    return code + QLatin1Char('\n') + address;
}
} // namespace

std::chrono::milliseconds LoginThrottle::delayAfter(int beyondFree) const
{
    if (beyondFree <= 0)
        return std::chrono::milliseconds(0);
    const int doublings = std::min(beyondFree - 1, 20);
    return std::min(opt_.maxDelay, std::chrono::milliseconds(opt_.firstDelay.count() << doublings));
}

void LoginThrottle::prune(Table& t, Clock::time_point now)
{
    for (auto it = t.begin(); it != t.end();)
        if (now - it->last > opt_.window && now >= it->until)
            it = t.erase(it);
        else
            ++it;
}

LoginThrottle::Count* LoginThrottle::entry(Table& t, const QString& key, Clock::time_point now)
{
    auto it = t.find(key);
    if (it != t.end()) {
        if (now - it->last > opt_.window && now >= it->until)
            *it = Count{}; // faded
        return &*it;
    }
    if (std::size_t(t.size()) >= opt_.maxTracked)
        prune(t, now);
    if (std::size_t(t.size()) >= opt_.maxTracked)
        return nullptr;
    return &*t.insert(key, Count{});
}

std::chrono::milliseconds LoginThrottle::wait(const QString& code, const QString& address, Clock::time_point now)
{
    std::lock_guard lock(mutex_);
    Clock::time_point until{};
    if (auto it = pairs_.constFind(pairKey(code, address)); it != pairs_.cend())
        until = std::max(until, it->until);
    if (auto it = addresses_.constFind(address); it != addresses_.cend())
        until = std::max(until, it->until);
    return until > now ? std::chrono::ceil<std::chrono::milliseconds>(until - now) : std::chrono::milliseconds(0);
}

std::chrono::milliseconds LoginThrottle::failed(const QString& code, const QString& address, Clock::time_point now)
{
    std::lock_guard lock(mutex_);
    int freePair = opt_.freePerPair;
    if (Count* o = entry(operators_, code, now)) {
        ++o->failures;
        o->last = now;
        if (o->failures >= opt_.operatorAlarm)
            freePair = 0;
    }
    std::chrono::milliseconds imposed{0};
    auto count = [&](Table& t, const QString& key, int free) {
        Count* c = entry(t, key, now);
        if (!c)
            return;
        ++c->failures;
        c->last = now;
        const auto d = delayAfter(c->failures - free);
        if (d.count() > 0) {
            c->until = std::max(c->until, now + d);
            imposed = std::max(imposed, d);
        }
    };
    count(pairs_, pairKey(code, address), freePair);
    count(addresses_, address, opt_.freePerAddress);
    return imposed;
}

void LoginThrottle::succeeded(const QString& code, const QString& address)
{
    std::lock_guard lock(mutex_);
    pairs_.remove(pairKey(code, address));
}

} // namespace server
