// Which query the link sends next: one-shot queries first, then the polling rotation of the
// Real-Time Metering page (the measurement block alone on the Installation Check page), else
// nothing; and the reads that showing a page queues.
#pragma once

#include <QString>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// Trend shows the metering values over time, so it is polled and read like the metering page;
// Installation Check polls the measurement block alone.
enum class TPage : std::uint8_t {
    None,
    RTMetering,
    DeviceInfo,
    GeneralSettings,
    Trend,
    InstallCheck
};

// Read queries of the meter's blocks; "00" stands for the device address.
namespace qry {
inline constexpr char Identity[] = "00,03,F0,00,00,09";
inline constexpr char SerialNumber[] = "00,03,F0,40,00,10";
inline constexpr char AOType[] = "00,03,F1,06,00,01";
inline constexpr char Measurement[] = "00,03,14,00,00,15";
inline constexpr char EnergyShort[] = "00,03,11,80,00,04";
inline constexpr char EnergyLong[] = "00,03,11,80,00,0C";
inline constexpr char Relays[] = "00,01,00,00,00,02";
inline constexpr char Inputs[] = "00,02,00,00,00,06";
inline constexpr char Settings1100[] = "00,03,11,00,00,0D";
inline constexpr char Settings1200[] = "00,03,12,00,00,08";
inline constexpr char Settings1300[] = "00,03,13,00,00,0C";
inline constexpr char Settings1208[] = "00,03,12,08,00,02";
inline constexpr char Settings120A[] = "00,03,12,0A,00,05";
} // namespace qry

// Pages that are polled while shown; the others are read once.
inline bool PolledPage(TPage page) {
    return page == TPage::RTMetering || page == TPage::Trend || page == TPage::InstallCheck;
}

// The energy block read of the length the meter's layout gives.
const char* EnergyReadQuery(const QString& version);

// The position in the polling rotation. The step only grows up to 4, which selects the
// measurement block like 0 does, so it can never overflow however long the page is shown.
class TPollRotation {
public:
    // The next polling query of the page shown, or nullptr when that page is not polled.
    // Advances the step on every page.
    const char* Next(TPage page, const QString& version);
    void Restart() { FStep = 0; }
    int Step() const { return FStep; }
    void SetStep(int step) { FStep = step < 0 ? 0 : (step > 4 ? 4 : step); }

private:
    int FStep = 0;
};

// The one-shot reads that showing a page queues, the identity block first.
std::vector<std::string> PageReads(TPage page, const QString& version);

// Whether a query text changes the meter: a write of coils or registers (functions 05, 06, 0F
// and 10). Everything else the link sends only reads.
bool IsWriteQuery(std::string_view text);

// The null query: one character of code 0, which the master drops instead of sending.
inline std::string NullQuery() {
    return std::string(1, '\0');
}
