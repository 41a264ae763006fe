#include "CommandLine.h"

#include <QCommandLineParser>

namespace parking {

CommandLine parseCommandLine(const QCoreApplication& app)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Unattended car-park access controller"));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption configOption(QStringLiteral("config"),
        QStringLiteral("Configuration file (default: Rivalto.ini in the program's folder)."), QStringLiteral("FILE"));
    const QCommandLineOption headlessOption(QStringLiteral("headless"),
        QStringLiteral("No windows: the event log and the trace go to standard output."));
    const QCommandLineOption traceOption(QStringLiteral("trace"),
        QStringLiteral("With windows, also write the event log and the trace to standard output."));
    const QCommandLineOption nowOption(QStringLiteral("now"),
        QStringLiteral("Start the workstation and embedded-database clocks at this instant."),
        QStringLiteral("YYYY-MM-DD hh:mm:ss"));
    const QCommandLineOption demoOption(QStringLiteral("demo"),
        QStringLiteral("Create (or reset) the demo configuration and database and start on them."));
    const QCommandLineOption initDbOption(QStringLiteral("init-db"),
        QStringLiteral("Create an empty embedded database at FILE and exit."), QStringLiteral("FILE"));
    const QCommandLineOption scriptOption(QStringLiteral("script"),
        QStringLiteral("Play timed reader events and operator actions from FILE."), QStringLiteral("FILE"));
    const QCommandLineOption readerCheckOption(QStringLiteral("reader-check"),
        QStringLiteral("Bring the reader of PORTTEXT online, print what it is and, for 30 s, what it reads."),
        QStringLiteral("PORTTEXT"));
    const QCommandLineOption pulseOption(QStringLiteral("pulse"),
        QStringLiteral("With --reader-check: pulse output 0 once."));
    const QCommandLineOption rekeyOption(QStringLiteral("rekey"),
        QStringLiteral("With --reader-check: give the reader a new Secure Channel key (stored first)."));
    const QCommandLineOption setAddressOption(QStringLiteral("set-address"),
        QStringLiteral("With --reader-check: change the reader's OSDP address to N (osdp_COMSET)."), QStringLiteral("N"));
    const QCommandLineOption setBaudOption(QStringLiteral("set-baud"),
        QStringLiteral("With --reader-check: change the reader's speed to B baud (osdp_COMSET)."), QStringLiteral("B"));
    const QCommandLineOption captureOption(QStringLiteral("capture"),
        QStringLiteral("With --reader-check: write every packet to FILE (osdpcap)."), QStringLiteral("FILE"));
    const QCommandLineOption firmwareOption(QStringLiteral("update-firmware"),
        QStringLiteral("With --reader-check: send FILE to the reader (osdp_FILETRANSFER)."), QStringLiteral("FILE"));
    const QCommandLineOption fileIdOption(QStringLiteral("file-id"),
        QStringLiteral("With --update-firmware: the file's type N (default 1)."), QStringLiteral("N"));
    const QCommandLineOption hashKeyOption(QStringLiteral("hash-key"),
        QStringLiteral("Read an operator's key on standard input and print its hash for [Operadores]."));
    parser.addOptions({configOption, headlessOption, traceOption, nowOption, demoOption, initDbOption, scriptOption,
                       readerCheckOption, pulseOption, rekeyOption, setAddressOption, setBaudOption, captureOption,
                       hashKeyOption, firmwareOption, fileIdOption});
    parser.process(app);
    return {parser.isSet(headlessOption), parser.isSet(traceOption), parser.isSet(demoOption),
            parser.value(configOption), parser.value(nowOption), parser.value(initDbOption), parser.value(scriptOption),
            parser.value(readerCheckOption), parser.isSet(pulseOption), parser.isSet(rekeyOption),
            parser.value(setAddressOption), parser.value(setBaudOption), parser.value(captureOption),
            parser.isSet(hashKeyOption), parser.value(firmwareOption), parser.value(fileIdOption)};
}

} // namespace parking
