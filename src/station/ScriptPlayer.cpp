#include "ScriptPlayer.h"

#include "Clock.h"
#include "ReaderControl.h"

#include <QStringList>

#include <algorithm>
#include <cmath>

namespace parking {

namespace {

struct KindName {
    const char* name;
    ScriptItem::Kind kind;
    bool station;
    bool text;
};

const KindName Kinds[] = {
    {"track", ScriptItem::Kind::Track, true, true},   {"card", ScriptItem::Kind::Card, true, true},
    {"down", ScriptItem::Kind::Down, true, false},    {"hotreset", ScriptItem::Kind::HotReset, true, false},
    {"open", ScriptItem::Kind::Open, true, false},    {"spaces", ScriptItem::Kind::Spaces, false, true},
    {"quit", ScriptItem::Kind::Quit, false, false},   {"clock", ScriptItem::Kind::Clock, false, true},
};

// A line split at its first blank: the word before it and what follows.
struct Split {
    QString word;
    QString rest;
    bool hadBlank = false;
};

Split takeWord(const QString& line)
{
    const qsizetype blank = line.indexOf(QLatin1Char(' '));
    if (blank < 0)
        return {line, QString(), false};
    return {line.left(blank), line.mid(blank + 1), true};
}

// The item of one script line ("SECONDS KIND [STATION] [TEXT]"), or the
// reason it is none.
Result<ScriptItem> parseItem(const QString& line)
{
    const Split seconds = takeWord(line);
    bool ok = false;
    const double s = seconds.word.toDouble(&ok);
    if (!ok || !std::isfinite(s) || s < 0 || s > 1e7)
        return failure(QStringLiteral("\"%1\" is not a number of seconds").arg(seconds.word));
    Split next = takeWord(seconds.rest);
    const QString kindWord = next.word;
    const auto kind = std::find_if(std::begin(Kinds), std::end(Kinds),
                                   [&](const KindName& k) { return kindWord == QLatin1String(k.name); });
    if (kind == std::end(Kinds))
        return failure(QStringLiteral("unknown item \"%1\"").arg(kindWord));
    ScriptItem item;
    item.atMs = std::llround(s * 1000);
    item.kind = kind->kind;
    if (kind->station) {
        next = takeWord(next.rest);
        if (next.word != QLatin1String("1") && next.word != QLatin1String("2"))
            return failure(QStringLiteral("the station must be 1 or 2, not \"%1\"").arg(next.word));
        item.station = next.word.toInt();
        if (!kind->text && next.hadBlank)
            return failure(QStringLiteral("unexpected text after the station"));
        if (kind->text && !next.hadBlank)
            return failure(QStringLiteral("the item needs a text after the station"));
    } else if (!kind->text && next.hadBlank) {
        return failure(QStringLiteral("unexpected text after \"%1\"").arg(kindWord));
    }
    if (kind->text)
        item.text = next.rest;
    if (item.kind == ScriptItem::Kind::Spaces) {
        for (QChar c : std::as_const(item.text)) {
            if (c < QLatin1Char('0') || c > QLatin1Char('9'))
                return failure(QStringLiteral("spaces takes digits only, not \"%1\"").arg(item.text));
        }
    }
    if (item.kind == ScriptItem::Kind::Clock) {
        item.instant = parseIsoInstant(item.text);
        if (!item.instant.isValid())
            return failure(QStringLiteral("clock needs \"YYYY-MM-DD hh:mm:ss\", not \"%1\"").arg(item.text));
    }
    return item;
}

} // namespace

Result<std::vector<ScriptItem>, ScriptError> parseScript(const QString& text)
{
    std::vector<ScriptItem> items;
    const QStringList lines = text.split(QLatin1Char('\n'));
    for (int i = 0; i < lines.size(); ++i) {
        QString line = lines[i];
        if (line.endsWith(QLatin1Char('\r')))
            line.chop(1);
        if (line.trimmed().isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        auto parsed = parseItem(line);
        if (!parsed)
            return failureOf(ScriptError{QStringLiteral("line %1: %2").arg(i + 1).arg(parsed.error())});
        ScriptItem item = std::move(*parsed);
        item.line = i + 1;
        items.push_back(item);
    }
    std::stable_sort(items.begin(), items.end(),
                     [](const ScriptItem& a, const ScriptItem& b) { return a.atMs < b.atMs; });
    return items;
}

ScriptPlayer::ScriptPlayer(std::vector<ScriptItem> items, ReaderOf readerOf, OperatorActions& actions,
                           std::function<void(const QDateTime&)> setClock, QObject* parent)
    : QObject(parent), items_(std::move(items)), readerOf_(std::move(readerOf)), actions_(actions),
      setClock_(std::move(setClock))
{
    timer_.setSingleShot(true);
    timer_.setTimerType(Qt::PreciseTimer);
    connect(&timer_, &QTimer::timeout, this, &ScriptPlayer::playDue);
}

void ScriptPlayer::start()
{
    elapsed_.start();
    playDue();
}

void ScriptPlayer::playDue()
{
    while (next_ < items_.size() && items_[next_].atMs <= elapsed_.elapsed()) {
        const ScriptItem item = items_[next_++];
        run(item);
        if (item.kind == ScriptItem::Kind::Quit)
            return;
    }
    // A timer's interval is an int of milliseconds: a far item is waited
    // for in steps.
    if (next_ < items_.size())
        timer_.start(static_cast<int>(std::clamp<qint64>(items_[next_].atMs - elapsed_.elapsed(), 0, MaxWaitStepMs)));
}

void ScriptPlayer::run(const ScriptItem& item)
{
    ReaderControl& reader = readerOf_(item.station);
    switch (item.kind) {
    case ScriptItem::Kind::Track:
        reader.raiseTrackRead(item.text);
        break;
    case ScriptItem::Kind::Card:
        reader.raiseCardNumberRead(item.text);
        break;
    case ScriptItem::Kind::Down:
        reader.raiseReaderDown();
        break;
    case ScriptItem::Kind::HotReset:
        reader.raiseHotReset();
        break;
    case ScriptItem::Kind::Open:
        actions_.openBarrier(item.station);
        break;
    case ScriptItem::Kind::Spaces:
        actions_.updateSpaces(item.text);
        break;
    case ScriptItem::Kind::Quit:
        actions_.quit();
        break;
    case ScriptItem::Kind::Clock:
        setClock_(item.instant);
        break;
    }
}

} // namespace parking
