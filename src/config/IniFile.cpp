#include "IniFile.h"

#include <QFile>
#include <QStringConverter>
#include <QStringDecoder>

namespace parking {

namespace {

// Files written on Windows are in the 8-bit code page; newer ones in UTF-8.
// Text that is valid UTF-8 is taken as such, anything else as Windows-1252
// (Latin-1 being its close enough subset for the names that matter here).
QString decode(const QByteArray& bytes)
{
    QByteArray body = bytes;
    if (body.startsWith("\xEF\xBB\xBF"))
        body.remove(0, 3);
    QStringDecoder utf8(QStringConverter::Utf8, QStringConverter::Flag::Stateless);
    QString text = utf8.decode(body);
    if (!utf8.hasError())
        return text;
    return QString::fromLatin1(body);
}

} // namespace

QString IniFile::fold(const QString& name)
{
    return name.trimmed().toCaseFolded();
}

IniFile IniFile::load(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    IniFile ini = fromText(decode(file.readAll()));
    ini.exists_ = true;
    return ini;
}

IniFile IniFile::fromText(const QString& text)
{
    IniFile ini;
    ini.exists_ = true;
    QString section;
    bool inSection = false;
    const auto lines = text.split(QLatin1Char('\n'));
    for (QString line : lines) {
        line = line.trimmed(); // also drops the CR of CR LF files
        if (line.isEmpty() || line.startsWith(QLatin1Char(';')))
            continue;
        if (line.startsWith(QLatin1Char('['))) {
            const qsizetype close = line.indexOf(QLatin1Char(']'));
            section = fold(line.mid(1, close < 0 ? -1 : close - 1));
            inSection = true;
            continue;
        }
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        if (!inSection || eq <= 0)
            continue;
        const QString key = section + QLatin1Char('\n') + fold(line.left(eq));
        if (!ini.values_.contains(key)) {
            const QString value = line.mid(eq + 1).trimmed().left(MaxValueLength).trimmed();
            ini.values_.insert(key, value);
            ini.entries_[section].append({line.left(eq).trimmed(), value});
        }
    }
    return ini;
}

QString IniFile::value(const QString& section, const QString& key) const
{
    return values_.value(fold(section) + QLatin1Char('\n') + fold(key));
}

QList<std::pair<QString, QString>> IniFile::entries(const QString& section) const
{
    return entries_.value(fold(section));
}

} // namespace parking
