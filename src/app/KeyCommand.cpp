#include "KeyCommand.h"

#include "KeyHash.h"

#include <QByteArray>

#include <cstdio>
#include <string>

#include <termios.h>
#include <unistd.h>

namespace parking {

namespace {

constexpr qsizetype KeyMinimum = 12;
constexpr qsizetype KeyMaximum = 1024;

// One line of standard input; on a terminal it is asked for and not shown.
QByteArray readKey()
{
    const bool terminal = ::isatty(STDIN_FILENO) == 1;
    termios saved{};
    if (terminal && ::tcgetattr(STDIN_FILENO, &saved) == 0) {
        termios quiet = saved;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
        std::fputs("Clave del operador: ", stderr);
        std::fflush(stderr);
    }
    std::string line;
    for (int c = std::getchar(); c != EOF && c != '\n' && line.size() <= static_cast<std::size_t>(KeyMaximum);
         c = std::getchar())
        line.push_back(static_cast<char>(c));
    if (terminal) {
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
        std::fputs("\n", stderr);
    }
    QByteArray key = QByteArray::fromStdString(line);
    if (key.endsWith('\r'))
        key.chop(1);
    return key;
}

} // namespace

int runHashKey()
{
    const QByteArray key = readKey();
    if (key.size() < KeyMinimum || key.size() > KeyMaximum) {
        std::fprintf(stderr, "La clave debe tener de %d a %d caracteres; no se ha hecho la huella.\n",
                     static_cast<int>(KeyMinimum), static_cast<int>(KeyMaximum));
        return 2;
    }
    const auto hash = KeyHash::make(key);
    if (!hash) {
        std::fprintf(stderr, "No se ha hecho la huella: %s\n", hash.error().toUtf8().constData());
        return 1;
    }
    std::printf("%s\n", hash->text().toLatin1().constData());
    return 0;
}

} // namespace parking
