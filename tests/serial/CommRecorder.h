// Records what a TComm raised, for the serial tests, and delivers what its threads posted.
#pragma once

#include "serial/Comm.h"

#include <QAbstractEventDispatcher>
#include <QStringList>
#include <QTest>

// Everything the component raised, in order, as short texts, with counts by kind.
struct TRecorder {
    QStringList Events;
    QByteArray Received;
    QList<int> ChunkSizes;
    int Hangups = 0;
    int Empties = 0;
    int Others = 0; // line errors and modem changes
    int Total() const { return ChunkSizes.size() + Hangups + Empties + Others; }

    void Bind(TComm& comm) {
        comm.OnReceiveData = [this](TComm&, const char* buffer, std::uint16_t length) {
            // The block carries a zero byte after the data.
            if (buffer[length] != '\0') {
                Events << "unterminated";
            }
            Received.append(buffer, length);
            ChunkSizes << length;
            Events << QString("data %1").arg(length);
        };
        comm.OnReceiveError = [this](TComm&, std::uint32_t mask) {
            ++Others;
            Events << QString("error %1").arg(mask);
        };
        comm.OnModemStateChange = [this](TComm&, std::uint32_t bits) {
            ++Others;
            Events << QString("modem %1").arg(bits);
        };
        comm.OnRequestHangup = [this](TComm&) {
            ++Hangups;
            Events << "hangup";
        };
        comm.OnSendDataEmpty = [this](TComm&) {
            ++Empties;
            Events << "empty";
        };
    }
};

// Delivers every notice the component's threads have posted so far: their wake-up is already
// pending, so the event loop only has to look. A test calls it once it knows the threads are
// done with what it checks: a marker that came after it, a thread that has ended, a port closed.
inline void Deliver() {
    QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance();
    for (int round = 0; round < 10 && dispatcher->processEvents(QEventLoop::AllEvents); ++round) {
    }
}

// Condition waits for what the component's threads bring about: they look again every few
// milliseconds, where QTRY_* waits 50 ms between looks, which adds up over many short waits.
#define SOON_VERIFY(expr)                                                                          \
    do {                                                                                           \
        (void)QTest::qWaitFor([&] { return bool(expr); }, 5000);                                   \
        QVERIFY(expr);                                                                             \
    } while (false)
#define SOON_COMPARE(actual, expected)                                                             \
    do {                                                                                           \
        (void)QTest::qWaitFor([&] { return (actual) == (expected); }, 5000);                       \
        QCOMPARE(actual, expected);                                                                \
    } while (false)
