// The achieved query rate and the share of the line's capacity in use, over the most recent
// queries: each query's characters on the line in both directions against the time between
// the first and the last send of the window.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>

class TLineLoad {
public:
    explicit TLineLoad(std::size_t window = 64) : FWindow(window < 2 ? 2 : window) {}
    // A query went out at `sentUs` with `bytes` characters of `bitsPerCharacter` at `baudrate`.
    void QuerySent(std::int64_t sentUs, std::size_t bytes, int bitsPerCharacter, int baudrate);
    // Characters of the answer to the query sent last.
    void AnswerBytes(std::size_t bytes);
    void Reset() { FQueries.clear(); }
    // Queries per second; 0 until two queries have gone out.
    double QueriesPerSecond() const;
    // 0 to 1 (more only if the line is over-committed, which the figures would then show).
    double LineShare() const;

private:
    struct TQuery {
        std::int64_t SentUs;
        double LineSeconds;
        int Bits;
        int Baudrate;
    };
    std::size_t FWindow;
    std::deque<TQuery> FQueries;
};
