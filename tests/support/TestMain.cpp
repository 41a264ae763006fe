// Test programs run with a real Qt application object (offscreen) so that
// timers and event loops are the real ones; the window's tests get a
// QApplication for widgets, the rest a QCoreApplication.
#if PARKING_TEST_WIDGETS
#include <QApplication>
using TestApplication = QApplication;
#else
#include <QCoreApplication>
using TestApplication = QCoreApplication;
#endif

#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // --backend=postgresql --odbcini=FILE: the behavioural suites on the
    // PostgreSQL test server.
    for (int i = 1; i < argc; ++i) {
        const QByteArray arg(argv[i]);
        if (arg.startsWith("--backend="))
            qputenv("PARKING_TEST_BACKEND", arg.mid(10));
        else if (arg.startsWith("--odbcini="))
            qputenv("ODBCINI", arg.mid(10));
    }
    TestApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
