#pragma once
// Plays a script of timed reader events and operator actions, one item a
// line ("SECONDS KIND [STATION] [TEXT]"), timed from the moment it starts.
// Blank lines and lines starting with "#" are ignored. Items of the same
// second run in the order they are written.
#include "Result.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>
#include <optional>
#include <vector>

namespace parking {

class ReaderControl;

// The operator's side of a script: the window clicks its real buttons, the
// headless run calls the handlers.
class OperatorActions {
public:
    virtual ~OperatorActions() = default;
    virtual void openBarrier(int station) = 0;
    virtual void updateSpaces(const QString& digits) = 0;
    virtual void quit() = 0;
};

struct ScriptItem {
    enum class Kind { Track, Card, Down, HotReset, Open, Spaces, Quit, Clock };
    qint64 atMs = 0;
    Kind kind = Kind::Quit;
    int station = 0;
    QString text;
    QDateTime instant;
    int line = 0;
};

struct ScriptError {
    QString message; // "line N: ..."
};

// Parses the whole script; the first malformed line is an error.
Result<std::vector<ScriptItem>, ScriptError> parseScript(const QString& text);

class ScriptPlayer : public QObject {
    Q_OBJECT
public:
    // The reader control of a station number.
    using ReaderOf = std::function<ReaderControl&(int station)>;
    // The longest single wait between two checks of the script.
    static constexpr qint64 MaxWaitStepMs = 3600 * 1000;

    ScriptPlayer(std::vector<ScriptItem> items, ReaderOf readerOf, OperatorActions& actions,
                 std::function<void(const QDateTime&)> setClock, QObject* parent = nullptr);
    void start();
    bool finished() const { return next_ >= items_.size(); }

private:
    void playDue();
    void run(const ScriptItem& item);

    std::vector<ScriptItem> items_;
    ReaderOf readerOf_;
    OperatorActions& actions_;
    std::function<void(const QDateTime&)> setClock_;
    std::size_t next_ = 0;
    QElapsedTimer elapsed_;
    QTimer timer_;
};

} // namespace parking
