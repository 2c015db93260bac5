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

// A text that is a number, but one its destination cannot hold. Text() is the text as quoted,
// so a caller that knows the destination can name it.
class ERangeError : public EConvertError {
public:
    explicit ERangeError(const QString& text)
        : EConvertError(QStringLiteral("'%1' is out of range").arg(text)), FText(text) {}

    const QString& Text() const noexcept { return FText; }

private:
    QString FText;
};
