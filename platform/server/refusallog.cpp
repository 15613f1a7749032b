#include "refusallog.h"

namespace server {

bool RefusalLog::note(const QString& address, const QString& what, Clock::time_point now)
{
    std::lock_guard lock(mutex_);
    QString key = address;
    if (!windows_.contains(key) && std::size_t(windows_.size()) >= opt_.maxAddresses)
        key = QStringLiteral("*");
    Window& w = windows_[key];
    if (w.seen == 0)
        w.start = now;
    ++w.seen;
    if (w.seen <= opt_.fullPerWindow)
        return true;
    w.last = what;
    return false;
}

std::vector<RefusalLog::Summary> RefusalLog::due(Clock::time_point now, bool all)
{
    std::vector<Summary> out;
    std::lock_guard lock(mutex_);
    for (auto it = windows_.begin(); it != windows_.end();) {
        if (!all && now - it->start < opt_.window) {
            ++it;
            continue;
        }
        if (it->seen > opt_.fullPerWindow)
            out.push_back({it.key(), it->seen - opt_.fullPerWindow,
                           std::chrono::duration<double>(now - it->start).count(), it->last});
        it = windows_.erase(it);
    }
    return out;
}

} // namespace server
