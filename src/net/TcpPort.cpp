#include "net/TcpPort.h"

#include "net/TcpSession.h"

#include "platform/Event.h"
#include "serial/CommsError.h"
#include "serial/Hangup.h"
#include "serial/NotifyQueue.h"

#include <cerrno>
#include <system_error>

TTcpPort::TTcpPort()
    : FNotifyWindow(std::make_unique<TNotifyQueue>(
          [this](const TNotice& n) { Dispatch(n.Code, n.Param, n.Data); })) {}

TTcpPort::~TTcpPort() {
    // A thread left running would outlive the queue it posts to.
    ClosePort();
}

bool TTcpPort::IsOpen() const {
    return FCloseEvent != nullptr;
}

void TTcpPort::OpenPort() {
    if (FCloseEvent) {
        throw ECommsError("This connection already opened");
    }
    FCloseEvent = TEvent::Create();
    FHangup = THangup::Create();
    if (!FCloseEvent || !FHangup) {
        const int err = errno;
        Release();
        throw ECommsError("Unable to create event", err);
    }
    FConnected = false;
    FLastErrorText.clear();
    FSendIdle.store(true);
    const TNotifier notifier(*FNotifyWindow, FNotifyWindow->BeginPeriod(), *FHangup);
    FSession = TTcpSession::Create({FHostName, FPortNumber, FConnectTimeout}, *FCloseEvent,
                                   *FHangup, notifier, FSendIdle);
    if (!FSession) {
        const int err = errno;
        Release();
        throw ECommsError("Unable to create event", err);
    }
    try {
        FSession->Start();
    } catch (const std::system_error& e) {
        Release();
        throw ECommsError("Unable to create connection thread", e.code().value());
    }
}

void TTcpPort::ClosePort() {
    if (!FCloseEvent) {
        return;
    }
    FCloseEvent->Set();
    if (FSession) {
        FSession->Join();
    }
    Release();
}

void TTcpPort::Release() {
    FSession.reset();
    FNotifyWindow->EndPeriod();
    FCloseEvent.reset();
    FHangup.reset();
    FSendIdle.store(true);
    FConnected = false;
}

bool TTcpPort::WriteData(const char* Buffer, std::uint16_t Length) {
    if (!FSession || Length == 0 || Buffer == nullptr || FHangup->Reported()) {
        return false;
    }
    try {
        return FSession->Post(std::string(Buffer, Length));
    } catch (const std::bad_alloc&) {
        return false;
    }
}

void TTcpPort::Dispatch(int code, std::uint32_t param, const std::string& data) {
    // Handlers are called through copies: one may rebind its own event while it runs.
    switch (code) {
    case NotifyConnect: {
        const auto state = static_cast<TTcpState>(param);
        FConnected = state == TTcpState::Connected;
        FLastErrorText = data;
        if (auto handler = OnConnect) {
            handler(*this, state, data);
        }
        break;
    }
    case NotifyReceiveData:
        if (auto handler = OnReceiveData) {
            handler(*this, data.c_str(), static_cast<std::uint16_t>(param));
        }
        break;
    case NotifyRequestHangup:
        FConnected = false;
        FLastErrorText = data;
        if (auto handler = OnRequestHangup) {
            handler(*this);
        }
        break;
    case NotifySendDataEmpty:
        if (auto handler = OnSendDataEmpty) {
            handler(*this);
        }
        break;
    default:
        break;
    }
}
