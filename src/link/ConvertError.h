// The error raised when an operator's text does not become a value: it ends the
// command in progress and its message goes to the application's error box.
#pragma once

#include <QString>
#include <stdexcept>

class EConvertError : public std::runtime_error {
public:
    explicit EConvertError(const QString& message)
        : std::runtime_error(message.toStdString()), FMessage(message) {}

    const QString& Message() const noexcept { return FMessage; }

private:
    QString FMessage;
};
