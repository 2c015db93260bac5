#include "shell/ConnectionStore.h"

#include "link/frmModbus.h"

#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>

#include <algorithm>
#include <limits>
#include <optional>

namespace {

constexpr char Group[] = "ComPort";

// The file behind the store, where QSettings keeps it for this user.
QString StoreFile() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/Veltrana/Marbrook.conf");
}

// QSettings reads the whole file when it is created and again before it writes: a FIFO would
// block the program there for good, a device would be read without end. Only a regular file,
// or none yet, is touched.
bool StoreUsable() {
    const QFileInfo file(StoreFile());
    return !file.exists() || file.isFile();
}

QSettings Store() {
    return QSettings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Veltrana"),
                     QStringLiteral("Marbrook"));
}

// The stored integer if it lies in [low, high]; a value outside it was not written by this
// program (a hand edit or a damaged file) and is treated like one that is not a number.
std::optional<int> ReadInt(const QSettings& store, const char* name, int low, int high) {
    const QVariant value = store.value(QLatin1String(name));
    if (!value.isValid())
        return std::nullopt;
    bool ok = false;
    const qlonglong number = value.toString().trimmed().toLongLong(&ok);
    if (!ok || number < low || number > high)
        return std::nullopt;
    return static_cast<int>(number);
}

} // namespace

void ConnectionStore::Load(TFormModbus& link) {
    if (!StoreUsable())
        return;
    QSettings store = Store();
    if (!store.childGroups().contains(QLatin1String(Group)))
        return;
    store.beginGroup(QLatin1String(Group));
    TFormModbus& modbus = link;
    constexpr int intMax = std::numeric_limits<int>::max();

    // The port number is kept as 16 bits; a port above 128 still loads (it only has no entry in
    // the dialog's list).
    const auto port = ReadInt(store, "PortNum", 0, 0xFFFF);
    if (!port)
        return;
    modbus.SetPortNum(static_cast<std::uint16_t>(*port));

    const auto baud = ReadInt(store, "Baudrate", 1, intMax);
    if (!baud)
        return;
    modbus.SetBaudrate(*baud);

    // Clamped like the dialog clamps what the operator types, so a stored interval ends up
    // where typing it would have put it.
    const auto interval = ReadInt(store, "QueryInterval", std::numeric_limits<int>::min(), intMax);
    if (!interval)
        return;
    modbus.SetQueryInterval(std::clamp(*interval, ConnectionStore::MinQueryInterval,
                                       ConnectionStore::MaxQueryInterval));

    // Address 0 is the broadcast address, never one meter's: refused like any other invalid
    // device address.
    const auto address = ReadInt(store, "DevAddr", MinMeterAddress, MaxMeterAddress);
    if (!address)
        return;
    link.SetDeviceAddress(static_cast<std::uint8_t>(*address));

    const auto parity = ReadInt(store, "Parity", 0, static_cast<int>(TParity::Space));
    if (!parity)
        return;
    modbus.SetParity(static_cast<TParity>(*parity));

    const auto stopBits = ReadInt(store, "StopBits", 0, static_cast<int>(TStopBits::_2));
    if (!stopBits)
        return;
    modbus.SetStopBits(static_cast<TStopBits>(*stopBits));
}

void ConnectionStore::Save(const TFormModbus& link) {
    if (!StoreUsable())
        return;
    QSettings store = Store();
    store.beginGroup(QLatin1String(Group));
    const TFormModbus& modbus = link;
    store.setValue(QStringLiteral("PortNum"), static_cast<int>(modbus.PortNum()));
    store.setValue(QStringLiteral("Baudrate"), modbus.Baudrate());
    store.setValue(QStringLiteral("Parity"), static_cast<int>(modbus.Parity()));
    store.setValue(QStringLiteral("StopBits"), static_cast<int>(modbus.StopBits()));
    store.setValue(QStringLiteral("QueryInterval"), modbus.QueryInterval());
    store.setValue(QStringLiteral("DevAddr"), static_cast<int>(link.DeviceAddress()));
    store.endGroup();
    store.sync();
}
