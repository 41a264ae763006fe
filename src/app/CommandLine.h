#pragma once
// The program's command line, read with Qt's parser (--help lists it).
#include <QCoreApplication>
#include <QString>

namespace parking {

// What the command line asked for.
struct CommandLine {
    bool headless = false;
    bool trace = false;
    bool demo = false;
    QString config;   // empty: the default
    QString now;      // empty: system time
    QString initDb;   // empty: run the stations
    QString script;   // empty: no script
    QString readerCheck; // empty: run the stations
    bool pulse = false;
    bool rekey = false;
    QString setAddress; // empty: leave it
    QString setBaud;    // empty: leave it
    QString capture;    // empty: none
    bool hashKey = false;
    QString firmware; // empty: none
    QString fileId;   // empty: the default
};

// The options given; --help and --version answer and end the program here.
CommandLine parseCommandLine(const QCoreApplication& app);

} // namespace parking
