// Test access to the master's steps and a recorder of every event it raises, as one line each.
#pragma once

#include "modbus/KrModbus.h"

#include <QString>
#include <QStringList>

#include <string>

class TModbusProbe : public TKrModbus {
public:
    // One query from start to finish without port or timers: the text, the bytes received,
    // an optional line error, then the processing.
    void Run(const std::string& text, const std::string& received, std::uint32_t lineError = 0) {
        OnQueryData = [text](TKrModbus&, std::string& fmt) { fmt = text; };
        FBroadcast = false;
        FNoResponse = false;
        BuildQuery();
        if (lineError != 0) {
            CommReceiveError(lineError);
        }
        FRecvBuffer = received;
        ProcessResponse();
    }
    void LineTimes() {
        UpdateSendTime();
        UpdateFrameGap();
    }
    using TKrModbus::BuildQuery;
    using TKrModbus::CommReceiveError;
};

inline QString Join(auto values) {
    QStringList parts;
    for (auto v : values) {
        parts << QString::number(static_cast<int>(v));
    }
    return "[" + parts.join(',') + "]";
}

// Binds every event of the master to a line in Log. FEx decides whether OnFExResponse is bound
// (it hides OnExceptionResponse when it is).
inline void RecordEvents(TKrModbus& m, QStringList& log, bool bindFEx = true) {
    m.OnResponseError = [&log](TKrModbus& s) { log << QString("error %1").arg(s.ErrorKind()); };
    m.OnAfterResponse = [&log](TKrModbus&) { log << "after"; };
    auto bits = [&log](const char* name) {
        return [&log, name](TKrModbus&, uint8_t slave, uint16_t start, std::span<const bool> v) {
            log << QString("%1 %2 %3 %4").arg(name).arg(slave).arg(start).arg(Join(v));
        };
    };
    auto words = [&log](const char* name) {
        return
            [&log, name](TKrModbus&, uint8_t slave, uint16_t start, std::span<const uint16_t> v) {
                log << QString("%1 %2 %3 %4").arg(name).arg(slave).arg(start).arg(Join(v));
            };
    };
    auto value = [&log](const char* name) {
        return [&log, name](TKrModbus&, uint8_t slave, uint16_t start, uint16_t v) {
            log << QString("%1 %2 %3 %4").arg(name).arg(slave).arg(start).arg(v);
        };
    };
    auto files = [&log](const char* name) {
        return [&log, name](TKrModbus&, uint8_t slave, std::span<const TFileSubResp> subs) {
            QStringList parts;
            for (const TFileSubResp& s : subs) {
                parts << QString("{%1,%2,%3,%4}")
                             .arg(s.RefType)
                             .arg(s.FileNum)
                             .arg(s.RecNum)
                             .arg(Join(s.RecData));
            }
            log << QString("%1 %2 %3").arg(name).arg(slave).arg(parts.join(' '));
        };
    };
    m.OnF01Response = bits("F01");
    m.OnF02Response = bits("F02");
    m.OnF03Response = words("F03");
    m.OnF04Response = words("F04");
    m.OnF83Response = words("F83");
    m.OnF05Response = value("F05");
    m.OnF06Response = value("F06");
    m.OnF85Response = value("F85");
    m.OnF0FResponse = value("F0F");
    m.OnF10Response = value("F10");
    m.OnF29Response = value("F29");
    m.OnFB0Response = value("FB0");
    m.OnF6AResponse = value("F6A");
    m.OnF14Response = files("F14");
    m.OnF15Response = files("F15");
    m.OnF28Response = [&log](TKrModbus&, uint8_t slave, uint16_t start, std::string_view v) {
        log << QString("F28 %1 %2 %3")
                   .arg(slave)
                   .arg(start)
                   .arg(QString::fromLatin1(v.data(), static_cast<qsizetype>(v.size())));
    };
    m.OnF91Response = [&log](TKrModbus&) { log << "F91"; };
    m.OnFC3Response = [&log](TKrModbus&, uint8_t slave, uint16_t status, uint16_t rtd,
                             std::span<const uint16_t> v) {
        log << QString("FC3 %1 %2 %3 %4").arg(slave).arg(status).arg(rtd).arg(Join(v));
    };
    m.OnFC4Response = [&log](TKrModbus&, uint8_t slave, uint16_t status) {
        log << QString("FC4 %1 %2").arg(slave).arg(status);
    };
    m.OnExceptionResponse = [&log](TKrModbus&, uint8_t slave, int code) {
        log << QString("exception %1 %2").arg(slave).arg(code);
    };
    if (bindFEx) {
        m.OnFExResponse = [&log](TKrModbus&, uint8_t slave, uint8_t fn, int code) {
            log << QString("fex %1 %2 %3").arg(slave).arg(fn).arg(code);
        };
    }
}
