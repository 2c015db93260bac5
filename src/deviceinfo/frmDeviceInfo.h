// The Device Information page: the meter's identity as the link reads it. The page has no
// behaviour of its own; the link writes its six value labels.
#pragma once

#include "link/LinkViews.h"

#include <QWidget>

#include <array>

class QLabel;

class TFormDeviceInfo : public QWidget, public IDeviceInfoView {
    Q_OBJECT

public:
    explicit TFormDeviceInfo(QWidget* parent = nullptr);

    // IDeviceInfoView
    void SetFieldText(TField field, const QString& text) override;

protected:
    // A dark or light desktop palette chooses the values' colour again.
    void changeEvent(QEvent* event) override;

private:
    void ApplyColours();

    // By TField: device type, hardware and software version, release date, serial number,
    // analog output type.
    std::array<QLabel*, 6> FValues{};
};
