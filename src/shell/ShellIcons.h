// The images of the main window's actions and the About box's logo, drawn in code as vector
// shapes so they stay sharp at every scale factor.
#pragma once

#include <QIcon>
#include <QPixmap>

enum class TActionImage {
    Connect,
    Disconnect,
    ConnectionSettings,
    Exit,
    RealTimeMetering,
    DeviceInformation,
    GeneralSettings,
    About,
    Trend,
};

QIcon ActionIcon(TActionImage image);

// The maker's logo, 255 by 65 device-independent pixels, at the given pixel ratio.
QPixmap LogoPixmap(qreal devicePixelRatio);
inline constexpr int LogoWidth = 255;
inline constexpr int LogoHeight = 65;
