// Records what a TComm raised, for the serial tests; and a short run of the event loop
// so that late notices would show.
#pragma once

#include "serial/Comm.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QStringList>
#include <QThread>

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

inline void Settle(int ms = 50) {
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::msleep(1);
    }
}
