#pragma once
// A text field of exactly N characters: a longer value is cut after the Nth
// character, a shorter one is filled with blanks on the right. Settings,
// display messages and the connection string all use this form, and the
// readers and displays receive the trailing blanks as they are.
#include <QString>

namespace parking {

// The value cut or blank-filled to `width` characters.
inline QString fixedText(const QString& value, qsizetype width)
{
    if (value.size() >= width)
        return value.left(width);
    return value + QString(width - value.size(), QLatin1Char(' '));
}

template <qsizetype N>
class FixedText {
public:
    // Before anything is assigned the field holds N characters of code 0.
    FixedText() : text_(N, QChar(0)) {}
    FixedText(const QString& value) : text_(fixedText(value, N)) {} // NOLINT: implicit by design

    FixedText& operator=(const QString& value)
    {
        text_ = fixedText(value, N);
        return *this;
    }

    const QString& text() const { return text_; }
    QString trimmed() const { return text_.trimmed(); }

    friend bool operator==(const FixedText&, const FixedText&) = default;

private:
    QString text_;
};

} // namespace parking
