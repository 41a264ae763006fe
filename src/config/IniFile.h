#pragma once
// Reads a sectioned configuration file the way the classic Windows profile
// reader does, which is what existing "Rivalto.ini" files were written for:
//  - section and key names are compared without regard to case;
//  - the value is the text after the first "=", blanks around it removed;
//  - a value is at most 254 characters (longer ones are cut);
//  - a missing file, section or key, and an empty value, all read as empty;
//  - the first section of a name and the first key of a name win.
// Lines beginning with ";" are comments. Nothing after the value is treated
// as a comment and no line continues another, unlike most INI libraries
// (which is why this is not one of them).
#include <QHash>
#include <QList>
#include <QString>

#include <utility>

namespace parking {

class IniFile {
public:
    static constexpr qsizetype MaxValueLength = 254;

    // Loads `path`. A file that cannot be read gives an empty IniFile.
    static IniFile load(const QString& path);
    static IniFile fromText(const QString& text);

    // The value, or the empty text when there is none.
    QString value(const QString& section, const QString& key) const;
    // Every key of `section` with its value, as written and in the file's
    // order, the first of a name only (a section of names, not of settings).
    QList<std::pair<QString, QString>> entries(const QString& section) const;

    bool exists() const { return exists_; }

private:
    static QString fold(const QString& name);
    QHash<QString, QString> values_; // "section\nkey", folded -> value
    QHash<QString, QList<std::pair<QString, QString>>> entries_; // folded section -> its keys as written
    bool exists_ = false;
};

} // namespace parking
