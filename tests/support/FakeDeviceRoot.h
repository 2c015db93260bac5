// A fake /dev and /sys in a folder of its own, for the port lookups that take the root of the
// file system to read (the dialogs' DeviceRoot).
#pragma once

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <string>

class TFakeDeviceRoot {
public:
    std::string Root() const { return FDir.path().toStdString(); }

    // COMn of the fixed table (COM1-32 ttyS, COM33-64 ttyUSB, COM65-96 ttyACM) gets its node;
    // a built-in port without a UART behind it (`uart` false) has the node all the same, as on
    // a real machine.
    bool AddPort(unsigned com, bool uart = true) {
        const char* const kinds[] = {"ttyS", "ttyUSB", "ttyACM"};
        const QString name =
            QString::fromLatin1(kinds[(com - 1) / 32]) + QString::number((com - 1) % 32);
        if (!AddNode("/dev/" + name))
            return false;
        return com > 32 || Write("/sys/class/tty/" + name + "/type", uart ? "4\n" : "0\n");
    }

    // The node of a device path ("/dev/pts/3") is there.
    bool AddNode(const QString& device) { return Write(device, {}); }

private:
    bool Write(const QString& relative, const QByteArray& content) {
        const QString path = FDir.path() + relative;
        QDir().mkpath(QFileInfo(path).path());
        QFile f(path);
        return f.open(QIODevice::WriteOnly) && f.write(content) == content.size();
    }

    QTemporaryDir FDir;
};
