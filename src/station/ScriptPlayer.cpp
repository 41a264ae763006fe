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

// Splits off the word before the first blank; `rest` is what follows that blank.
QString takeWord(QString line, QString* rest, bool* hadBlank)
{
    const qsizetype blank = line.indexOf(QLatin1Char(' '));
    *hadBlank = blank >= 0;
    *rest = blank < 0 ? QString() : line.mid(blank + 1);
    return blank < 0 ? line : line.left(blank);
}

} // namespace

std::variant<std::vector<ScriptItem>, ScriptError> parseScript(const QString& text)
{
    std::vector<ScriptItem> items;
    const QStringList lines = text.split(QLatin1Char('\n'));
    for (int i = 0; i < lines.size(); ++i) {
        QString line = lines[i];
        if (line.endsWith(QLatin1Char('\r')))
            line.chop(1);
        const int number = i + 1;
        auto error = [number](const QString& why) {
            return ScriptError{QStringLiteral("line %1: %2").arg(number).arg(why)};
        };
        if (line.trimmed().isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        QString rest;
        bool blank = false;
        const QString seconds = takeWord(line, &rest, &blank);
        bool ok = false;
        const double s = seconds.toDouble(&ok);
        if (!ok || !std::isfinite(s) || s < 0 || s > 1e7)
            return error(QStringLiteral("\"%1\" is not a number of seconds").arg(seconds));
        const QString kindWord = takeWord(rest, &rest, &blank);
        const auto kind = std::find_if(std::begin(Kinds), std::end(Kinds),
                                       [&](const KindName& k) { return kindWord == QLatin1String(k.name); });
        if (kind == std::end(Kinds))
            return error(QStringLiteral("unknown item \"%1\"").arg(kindWord));
        ScriptItem item;
        item.atMs = std::llround(s * 1000);
        item.kind = kind->kind;
        item.line = number;
        if (kind->station) {
            const QString station = takeWord(rest, &rest, &blank);
            if (station != QLatin1String("1") && station != QLatin1String("2"))
                return error(QStringLiteral("the station must be 1 or 2, not \"%1\"").arg(station));
            item.station = station.toInt();
            if (!kind->text && blank)
                return error(QStringLiteral("unexpected text after the station"));
        } else if (!kind->text && blank) {
            return error(QStringLiteral("unexpected text after \"%1\"").arg(kindWord));
        }
        if (kind->text) {
            if (kind->station && !blank)
                return error(QStringLiteral("the item needs a text after the station"));
            item.text = rest;
        }
        if (item.kind == ScriptItem::Kind::Spaces) {
            for (QChar c : std::as_const(item.text)) {
                if (c < QLatin1Char('0') || c > QLatin1Char('9'))
                    return error(QStringLiteral("spaces takes digits only, not \"%1\"").arg(item.text));
            }
        }
        if (item.kind == ScriptItem::Kind::Clock) {
            item.instant = parseIsoInstant(item.text);
            if (!item.instant.isValid())
                return error(QStringLiteral("clock needs \"YYYY-MM-DD hh:mm:ss\", not \"%1\"").arg(item.text));
        }
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
