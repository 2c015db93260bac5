// A list of meter addresses as an operator types it, "1,3,7-9": parsed into the addresses in
// the order typed, and a list of addresses written back in that short form.
#pragma once

#include <QString>

#include <optional>
#include <vector>

// The addresses in the order typed, a range in rising order; nothing, with `error` naming the
// bad part, for an empty list or entry, a word that is no address, an address outside the
// meters' range, a range that runs backwards, or an address given twice.
std::optional<std::vector<int>> ParseAddressList(const QString& text, QString& error);

// The addresses in rising order, each run of neighbours as a range: {9, 1, 7, 8, 3} is
// "1,3,7-9".
QString FormatAddressList(std::vector<int> addresses);
