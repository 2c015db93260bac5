#include "QueryRunner.h"

#include "meter/QueryAddress.h"

#include <QByteArray>

#include <cstdio>

namespace {

std::string Hex4(unsigned value) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%04X", value & 0xFFFF);
    return text;
}

std::string Hex2(unsigned value) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", value & 0xFF);
    return text;
}

template <typename T> std::string List(std::span<const T> values) {
    std::string out;
    for (const T& v : values) {
        if (!out.empty()) {
            out += ' ';
        }
        out += std::to_string(static_cast<unsigned>(v));
    }
    return out;
}

std::string Head(const char* name, unsigned slave, unsigned start) {
    return std::string(name) + " slave=" + std::to_string(slave) + " start=" + Hex4(start);
}

// A query text shown as the operator would type it; the one-zero-byte null query is unprintable.
std::string Printable(const std::string& text) {
    std::string out;
    for (unsigned char c : text) {
        if (c < 0x20 || c >= 0x7F) {
            out += "\\x" + Hex2(c).substr(2);
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

} // namespace

TQueryRunner::TQueryRunner(TKrModbus& master, const TQueryOptions& options, TPrint print)
    : FMaster(master), FTrace(options.Trace), FPrint(std::move(print)) {
    // A list of meters: every text to the first, then every text to the next, round after round.
    for (const std::uint8_t address : options.Addresses) {
        FMeters.emplace_back(address, TCounts{});
        for (const std::string& q : options.Queries) {
            FTexts.push_back(WithAddress(q, address));
            FTextAddress.push_back(address);
        }
    }
    if (options.Addresses.empty()) {
        for (const std::string& q : options.Queries) {
            FTexts.push_back(options.Address ? WithAddress(q, *options.Address) : q);
        }
    }
    FTotal = static_cast<unsigned long long>(options.Count) * FTexts.size();
    FClock.start();
    BindPolling();
    BindListAnswers();
    BindSingleAnswers();
}

void TQueryRunner::BindPolling() {
    FMaster.OnQueryData = [this](TKrModbus&, std::string& fmt) {
        FCurrentIndex = FNext++ % FTexts.size();
        FCurrentText = FTexts[FCurrentIndex];
        FOutcome.clear();
        FOutcomeOk = false;
        fmt = FCurrentText;
    };
    FMaster.OnSendData = [this](TKrPolling&, const std::string& frame) {
        ++FAll.Sent;
        if (TCounts* meter = MeterCounts()) {
            ++meter->Sent;
        }
        Trace("TX", frame);
    };
    FMaster.OnRecvData = [this](TKrPolling&, const std::string& chunk) { Trace("RX", chunk); };
    FMaster.OnResponseError = [this](TKrModbus& s) {
        ++FAll.Errors;
        if (TCounts* meter = MeterCounts()) {
            ++meter->Errors;
        }
        Outcome("ERROR kind=" + std::to_string(s.ErrorKind()), false);
    };
    FMaster.OnFExResponse = [this](TKrModbus&, std::uint8_t slave, std::uint8_t fn, int code) {
        ++FAll.Exceptions;
        if (TCounts* meter = MeterCounts()) {
            ++meter->Exceptions;
        }
        Outcome("EXCEPTION slave=" + std::to_string(slave) + " function=" + Hex2(fn) +
                    " code=" + std::to_string(code),
                false);
    };
    FMaster.OnAfterResponse = [this](TKrModbus& s) { AfterResponse(s); };
    FMaster.OnQueryFinish = [this](TKrPolling&) {
        FDone = true;
        if (OnDone) {
            OnDone();
        }
    };
}

void TQueryRunner::BindListAnswers() {
    auto bits = [this](const char* name) {
        return [this, name](TKrModbus&, std::uint8_t slave, std::uint16_t start,
                            std::span<const bool> values) {
            Outcome(Head(name, slave, start) + " values=" + List(values), true);
        };
    };
    auto words = [this](const char* name) {
        return [this, name](TKrModbus&, std::uint8_t slave, std::uint16_t start,
                            std::span<const std::uint16_t> values) {
            Outcome(Head(name, slave, start) + " values=" + List(values), true);
        };
    };
    auto files = [this](const char* name) {
        return [this, name](TKrModbus&, std::uint8_t slave, std::span<const TFileSubResp> subs) {
            std::string text = std::string(name) + " slave=" + std::to_string(slave);
            for (const TFileSubResp& s : subs) {
                text += " [file=" + std::to_string(s.FileNum) +
                        " record=" + std::to_string(s.RecNum) +
                        " values=" + List(std::span<const std::uint16_t>(s.RecData)) + "]";
            }
            Outcome(text, true);
        };
    };
    FMaster.OnF01Response = bits("F01");
    FMaster.OnF02Response = bits("F02");
    FMaster.OnF03Response = words("F03");
    FMaster.OnF04Response = words("F04");
    FMaster.OnF83Response = words("F83");
    FMaster.OnF14Response = files("F14");
    FMaster.OnF15Response = files("F15");
    FMaster.OnFC3Response = [this](TKrModbus&, std::uint8_t slave, std::uint16_t status,
                                   std::uint16_t rtd, std::span<const std::uint16_t> values) {
        Outcome("FC3 slave=" + std::to_string(slave) + " status=" + Hex4(status) +
                    " rtd=" + std::to_string(rtd) + " values=" + List(values),
                true);
    };
}

void TQueryRunner::BindSingleAnswers() {
    auto value = [this](const char* name) {
        return [this, name](TKrModbus&, std::uint8_t slave, std::uint16_t start, std::uint16_t v) {
            Outcome(Head(name, slave, start) + " value=" + Hex4(v), true);
        };
    };
    auto count = [this](const char* name) {
        return [this, name](TKrModbus&, std::uint8_t slave, std::uint16_t start, std::uint16_t n) {
            Outcome(Head(name, slave, start) + " count=" + std::to_string(n), true);
        };
    };
    FMaster.OnF05Response = value("F05");
    FMaster.OnF06Response = value("F06");
    FMaster.OnF85Response = value("F85");
    FMaster.OnF0FResponse = count("F0F");
    FMaster.OnF10Response = count("F10");
    FMaster.OnF29Response = count("F29");
    FMaster.OnF6AResponse = count("F6A");
    FMaster.OnFB0Response = count("FB0");
    FMaster.OnF28Response = [this](TKrModbus&, std::uint8_t slave, std::uint16_t start,
                                   std::string_view text) {
        Outcome(Head("F28", slave, start) + " text=" + Printable(std::string(text)), true);
    };
    FMaster.OnF91Response = [this](TKrModbus& s) {
        Outcome("F91 slave=" + std::to_string(static_cast<unsigned char>(s.CurrentRequest()[0])),
                true);
    };
    FMaster.OnFC4Response = [this](TKrModbus&, std::uint8_t slave, std::uint16_t status) {
        Outcome("FC4 slave=" + std::to_string(slave) + " status=" + Hex4(status), true);
    };
}

bool TQueryRunner::Begin() {
    return FMaster.Start(true);
}

void TQueryRunner::RequestStop() {
    FMaster.Stop();
}

void TQueryRunner::Abort() {
    if (FDone) {
        return;
    }
    // Cancel ends polling without OnQueryFinish, so the end is announced here.
    FMaster.Cancel();
    FDone = true;
    if (OnDone) {
        OnDone();
    }
}

void TQueryRunner::Print(const std::string& line) {
    if (FOutputLost) {
        return;
    }
    if (!FPrint(line)) {
        // Nobody reads what follows: polling on would only keep the port from others.
        FOutputLost = true;
        Abort();
    }
}

void TQueryRunner::Outcome(std::string text, bool ok) {
    FOutcome = std::move(text);
    FOutcomeOk = ok;
}

void TQueryRunner::Trace(const char* direction, const std::string& bytes) {
    if (!FTrace) {
        return;
    }
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "%8lld ms ", static_cast<long long>(FClock.elapsed()));
    std::string line = std::string(stamp) + direction;
    if (!bytes.empty()) {
        line += ' ' + QByteArray::fromStdString(bytes).toHex(' ').toUpper().toStdString();
    }
    Print(line);
}

void TQueryRunner::AfterResponse(TKrModbus& sender) {
    if (FOutcome.empty()) {
        if (sender.QueryFrame().empty()) {
            // An unusable text: the master sent nothing.
            Outcome("NULL", false);
        } else if (sender.Broadcast()) {
            Outcome("BROADCAST", true);
        } else {
            // Accepted, but no response expected or no decoder for its function code.
            Outcome("OK", true);
        }
    }
    if (FOutcomeOk) {
        ++FAll.Ok;
        if (TCounts* meter = MeterCounts()) {
            ++meter->Ok;
        }
    }
    ++FFinished;
    Print(Printable(FCurrentText) + " -> " + FOutcome);
    if (FTotal != 0 && FFinished >= FTotal) {
        sender.Stop();
    }
}

TQueryRunner::TCounts* TQueryRunner::MeterCounts() {
    if (FCurrentIndex >= FTextAddress.size()) {
        return nullptr;
    }
    const std::uint8_t address = FTextAddress[FCurrentIndex];
    for (auto& [meter, counts] : FMeters) {
        if (meter == address) {
            return &counts;
        }
    }
    return nullptr;
}

std::string TQueryRunner::TCounts::Text() const {
    return "sent=" + std::to_string(Sent) + " ok=" + std::to_string(Ok) +
           " errors=" + std::to_string(Errors) + " exceptions=" + std::to_string(Exceptions);
}

std::string TQueryRunner::Totals() const {
    std::string text;
    for (const auto& [address, counts] : FMeters) {
        text += "address=" + std::to_string(address) + ' ' + counts.Text() + '\n';
    }
    return text + FAll.Text();
}

int TQueryRunner::ExitCode() const {
    return !FOutputLost && FFinished > 0 && FAll.Ok == FFinished ? 0 : 1;
}
