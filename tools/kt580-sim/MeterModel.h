// The simulated meter: identity, settings memory, energy counters, relays and live values,
// reached through register and bit addresses as the Modbus requests name them. Pure: time
// moves only through Advance.
#pragma once

#include "EnergyCounters.h"
#include "LiveValues.h"
#include "SettingsChecks.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace kt580sim {

struct TIdentity {
    std::string DeviceType = "ED80";
    std::string HardwareVersion = "1.00";
    std::string SoftwareVersion = "3.20";
    std::string ReleaseDate = "190815"; // YYMMDD
    std::string SerialNumber = "KT580-19080001";
    uint16_t AOType = 1; // 1 current, 2 voltage
};

// Modbus exception codes the meter answers with; None means the request was carried out.
enum class TException : uint8_t {
    None = 0,
    IllegalFunction = 1,
    IllegalAddress = 2,
    IllegalValue = 3,
    Refused = 4, // a value outside what the meter accepts
};

class TMeterModel {
public:
    TMeterModel(TIdentity identity, uint8_t address, uint32_t baudrate, TMeterParity parity);

    const TIdentity& Identity() const { return FIdentity; }
    TLayout Layout() const { return FLayout; }

    TException ReadRegisters(uint16_t start, uint16_t count, std::vector<uint16_t>& out) const;
    TException WriteRegisters(uint16_t start, const std::vector<uint16_t>& values);
    TException ReadCoils(uint16_t start, uint16_t count, std::vector<bool>& out) const;
    TException ReadInputs(uint16_t start, uint16_t count, std::vector<bool>& out) const;
    TException WriteCoil(uint16_t coil, uint16_t value);

    // Lets `seconds` of meter time pass: live values move and the energy counters integrate.
    void Advance(double seconds);
    double Seconds() const { return FSeconds; }

    // The line settings the meter stores (they take effect when the caller applies them).
    uint8_t Address() const;
    uint32_t Baudrate() const;
    TMeterParity Parity() const;

    const TSettingsImage& Settings() const { return FSettings; }
    // Replaces stored settings that exist in this layout; false when a value fails its check.
    bool RestoreSettings(const TSettingsImage& image, std::string& why);
    const TEnergyCounters& Energy() const { return FEnergy; }
    TEnergyCounters& Energy() { return FEnergy; }
    bool Relay(int index) const { return FRelays.at(index); }
    void SetRelay(int index, bool on) { FRelays.at(index) = on; }

    // How the meter is wired to its load (right, unless a test asks otherwise).
    void SetWiring(const TWiring& wiring) { FWiring = wiring; }

    // Counts writes that changed the meter's memory, so a caller knows when to persist it.
    uint64_t MemoryGeneration() const { return FGeneration; }

private:
    bool Readable(uint16_t reg) const;
    uint16_t Value(uint16_t reg) const;
    int EnergyRegisters() const;

    TIdentity FIdentity;
    TLayout FLayout;
    TSettingsImage FSettings;
    TEnergyCounters FEnergy;
    std::array<bool, 2> FRelays{};
    double FSeconds = 0;
    uint64_t FGeneration = 0;
    TWiring FWiring;
};

// Register values holding `text` two characters per register, high byte first, padded with
// zero bytes to `registers` registers (longer texts are cut).
std::vector<uint16_t> TextRegisters(const std::string& text, std::size_t registers);

} // namespace kt580sim
