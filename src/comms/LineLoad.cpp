#include "comms/LineLoad.h"

namespace {

double Seconds(std::size_t bytes, int bits, int baudrate) {
    return baudrate > 0 ? static_cast<double>(bytes) * bits / baudrate : 0.0;
}

} // namespace

void TLineLoad::QuerySent(std::int64_t sentUs, std::size_t bytes, int bitsPerCharacter,
                          int baudrate) {
    FQueries.push_back(
        {sentUs, Seconds(bytes, bitsPerCharacter, baudrate), bitsPerCharacter, baudrate});
    while (FQueries.size() > FWindow)
        FQueries.pop_front();
}

void TLineLoad::AnswerBytes(std::size_t bytes) {
    if (!FQueries.empty()) {
        TQuery& q = FQueries.back();
        q.LineSeconds += Seconds(bytes, q.Bits, q.Baudrate);
    }
}

double TLineLoad::QueriesPerSecond() const {
    if (FQueries.size() < 2)
        return 0.0;
    const double span = static_cast<double>(FQueries.back().SentUs - FQueries.front().SentUs) / 1e6;
    return span > 0 ? static_cast<double>(FQueries.size() - 1) / span : 0.0;
}

double TLineLoad::LineShare() const {
    if (FQueries.size() < 2)
        return 0.0;
    const double span = static_cast<double>(FQueries.back().SentUs - FQueries.front().SentUs) / 1e6;
    if (span <= 0)
        return 0.0;
    // Every query but the last has its whole cycle inside the span.
    double busy = 0;
    for (std::size_t i = 0; i + 1 < FQueries.size(); ++i)
        busy += FQueries[i].LineSeconds;
    return busy / span;
}
