#pragma once
// The one error type of the host. A failure that propagates to a caller is a HostError;
// every top-level entry (movie command, filters, timer, resize, close) catches it at its
// boundary and reports it, so it never crosses into Qt's event loop.
#include <QString>
#include <stdexcept>

class HostError : public std::runtime_error {
public:
    explicit HostError(const QString &message)
        : std::runtime_error(message.toStdString()), message_(message) {}
    const QString &message() const { return message_; }

private:
    QString message_;
};
