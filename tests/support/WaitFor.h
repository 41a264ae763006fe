#pragma once
// Waiting in a test for something that happens on the event loop (real
// I/O, another thread): the loop runs until the condition holds or the time
// is up, then gtest asserts it, so a time-out is a failure with its
// condition named. (Qt's QTRY_ macros only return from the test silently
// when they run outside a QTest run, as here.)
#include <QElapsedTimer>
#include <QTest>

#include <gtest/gtest.h>

#define WAIT_FOR(condition, ms)                                                                                        \
    do {                                                                                                               \
        QElapsedTimer waited_;                                                                                         \
        waited_.start();                                                                                               \
        while (!(condition) && waited_.elapsed() < (ms))                                                               \
            QTest::qWait(10);                                                                                          \
        ASSERT_TRUE(condition) << "waited " << (ms) << " ms for " #condition;                                          \
    } while (false)

#define WAIT_FOR_EQ(actual, expected, ms)                                                                              \
    do {                                                                                                               \
        QElapsedTimer waited_;                                                                                         \
        waited_.start();                                                                                               \
        while (!((actual) == (expected)) && waited_.elapsed() < (ms))                                                  \
            QTest::qWait(10);                                                                                          \
        ASSERT_EQ(actual, expected) << "waited " << (ms) << " ms";                                                     \
    } while (false)
