// The configuration file reader and the whole-number rule of its keys.
#include "FuzzSupport.h"
#include "IniFile.h"
#include "WholeNumber.h"

using namespace parking;
using namespace parking::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QString input = text(data, size);
    const IniFile ini = IniFile::fromText(input);
    for (const char* key : {"SID", "Instalacion", "Left", "Puerto", "Clave"}) {
        for (const char* section : {"Conexion", "Impresoras", "Form", "Estado"}) {
            const QString value = ini.value(QString::fromLatin1(section), QString::fromLatin1(key));
            require(value.size() <= IniFile::MaxValueLength, "a value is at most 254 characters");
            require(value == value.trimmed(), "values have no blanks around them");
        }
    }
    // Every line's text as a key's value: accepted whole numbers are in
    // range and read back the same from their own text.
    for (const QString& line : input.split(QLatin1Char('\n'))) {
        if (const auto n = toWhole16(line)) {
            require(toWhole16(QString::number(*n)) == n, "a whole number reads back from its own text");
        }
    }
    return 0;
}
