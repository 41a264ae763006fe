#include "LoginLimiter.h"

#include <algorithm>
#include <vector>

namespace parking {

namespace {

QString nameKey(const QString& name)
{
    return name.left(64).toCaseFolded();
}

void forgetOld(std::deque<LoginLimiter::Time>& failures, LoginLimiter::Time now)
{
    while (!failures.empty() && now - failures.front() >= LoginLimiter::Window)
        failures.pop_front();
}

} // namespace

std::optional<std::chrono::seconds> LoginLimiter::refusal(Failures& failures, int limit, Time now)
{
    forgetOld(failures, now);
    if (static_cast<int>(failures.size()) < limit)
        return std::nullopt;
    // Refused until enough of the failures have left the window.
    const Time until = failures[failures.size() - static_cast<std::size_t>(limit)] + Window;
    return std::chrono::ceil<std::chrono::seconds>(until - now);
}

std::optional<std::chrono::seconds> LoginLimiter::refusedFor(const QString& address, const QString& name, Time now)
{
    std::optional<std::chrono::seconds> longest;
    auto consider = [&](QHash<QString, Failures>& table, const QString& key, int limit) {
        const auto found = table.find(key);
        if (found == table.end())
            return;
        const auto wait = refusal(*found, limit, now);
        if (wait && (!longest || *wait > *longest))
            longest = wait;
    };
    consider(byAddress_, address, FailuresPerAddress);
    if (!name.isEmpty())
        consider(byName_, nameKey(name), FailuresPerName);
    return longest;
}

void LoginLimiter::bound(QHash<QString, Failures>& table, Time now)
{
    if (table.size() < MaxTracked)
        return;
    for (auto it = table.begin(); it != table.end();) {
        forgetOld(*it, now);
        it = it->empty() ? table.erase(it) : std::next(it);
    }
    if (table.size() < MaxTracked)
        return;
    // Still full: a quarter goes at once, those furthest from a refusal
    // first (under a flood from many addresses even a refused name may go;
    // each address is still held to its own limit).
    struct Entry {
        std::size_t failures;
        Time newest;
        QString key;
    };
    std::vector<Entry> entries;
    entries.reserve(static_cast<std::size_t>(table.size()));
    for (auto it = table.cbegin(); it != table.cend(); ++it)
        entries.push_back({it->size(), it->back(), it.key()});
    const auto cut = entries.begin() + MaxTracked / 4;
    std::nth_element(entries.begin(), cut, entries.end(), [](const Entry& x, const Entry& y) {
        return x.failures != y.failures ? x.failures < y.failures : x.newest < y.newest;
    });
    for (auto it = entries.begin(); it != cut; ++it)
        table.remove(it->key);
}

bool LoginLimiter::add(QHash<QString, Failures>& table, const QString& key, int limit, Time now)
{
    if (!table.contains(key))
        bound(table, now);
    Failures& failures = table[key];
    forgetOld(failures, now);
    failures.push_back(now);
    // Only as many as the limit are needed to know when the refusal ends.
    while (static_cast<int>(failures.size()) > limit)
        failures.pop_front();
    return static_cast<int>(failures.size()) == limit;
}

LoginLimiter::Began LoginLimiter::failed(const QString& address, const QString& name, Time now)
{
    Began began;
    began.address = add(byAddress_, address, FailuresPerAddress, now);
    if (!name.isEmpty())
        began.name = add(byName_, nameKey(name), FailuresPerName, now);
    return began;
}

} // namespace parking
