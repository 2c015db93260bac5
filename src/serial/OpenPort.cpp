#include "serial/OpenPort.h"

#include "platform/Event.h"
#include "serial/CommsError.h"
#include "serial/Hangup.h"
#include "serial/NotifyQueue.h"
#include "serial/ReadThread.h"
#include "serial/WriteThread.h"

#include <cerrno>
#include <system_error>

TOpenPort::TOpenPort(std::unique_ptr<TSerialDevice> device, const TLineSettings& line,
                     const TCommTimeouts& timeouts, TNotifyQueue& queue,
                     std::atomic<bool>& sendIdle)
    : FQueue(queue), FSendIdle(sendIdle), FDevice(std::move(device)) {
    FDevice->Purge(TPurge::Tx);
    FDevice->Purge(TPurge::Rx);
    FSendIdle.store(true);
    ApplyTimeouts(timeouts);
    ApplyLineSettings(line);

    FCloseEvent = TEvent::Create();
    FHangup = THangup::Create();
    if (!FCloseEvent || !FHangup) {
        const int err = errno;
        ReleaseAfterFailedOpen();
        throw ECommsError("Unable to create event", err);
    }
    CreateThreads(TNotifier(FQueue, FQueue.BeginPeriod(), *FHangup));
    StartThreads();
}

void TOpenPort::CreateThreads(const TNotifier& notifier) {
    try {
        FReadThread = std::make_unique<TReadThread>(*FDevice, *FCloseEvent, notifier);
    } catch (const std::bad_alloc&) {
        ReleaseAfterFailedOpen();
        throw ECommsError("Unable to create read thread");
    }
    try {
        FWriteThread = TWriteThread::Create(*FDevice, *FCloseEvent, notifier, FSendIdle);
    } catch (const std::bad_alloc&) {
        FWriteThread.reset();
    }
    if (!FWriteThread) {
        const int err = errno;
        // The reader has not been started: it goes at once.
        FReadThread.reset();
        ReleaseAfterFailedOpen();
        throw ECommsError("Unable to create write thread", err);
    }
}

void TOpenPort::StartThreads() {
    try {
        FReadThread->Start();
    } catch (const std::system_error& e) {
        FWriteThread.reset();
        FReadThread.reset();
        ReleaseAfterFailedOpen();
        throw ECommsError("Unable to create read thread", e.code().value());
    }
    try {
        FWriteThread->Start();
    } catch (const std::system_error& e) {
        FWriteThread.reset();
        StopReadThread();
        ReleaseAfterFailedOpen();
        throw ECommsError("Unable to create write thread", e.code().value());
    }
}

void TOpenPort::ReleaseAfterFailedOpen() {
    FQueue.EndPeriod();
    FCloseEvent.reset();
    FHangup.reset();
    FDevice->Close();
    FDevice.reset();
    FSendIdle.store(true);
}

TOpenPort::~TOpenPort() {
    StopReadThread();
    StopWriteThread();
    FCloseEvent.reset();
    FHangup.reset();
    FSendIdle.store(true);
    // Only now that no thread uses the descriptor can its number be given back.
    FDevice->Close();
    FDevice.reset();
    FQueue.EndPeriod();
}

void TOpenPort::StopReadThread() {
    if (!FReadThread) {
        return;
    }
    FCloseEvent->Set();
    FDevice->Purge(TPurge::Rx);
    FReadThread->Join();
    FReadThread.reset();
}

void TOpenPort::StopWriteThread() {
    if (!FWriteThread) {
        return;
    }
    FCloseEvent->Set();
    FDevice->Purge(TPurge::Tx);
    FWriteThread->Join();
    FWriteThread.reset();
}

bool TOpenPort::Write(const char* Buffer, std::uint16_t Length) {
    if (!FWriteThread || Length == 0 || Buffer == nullptr || FHangup->Reported()) {
        return false;
    }
    try {
        return FWriteThread->Post(std::string(Buffer, Length));
    } catch (const std::bad_alloc&) {
        return false;
    }
}

void TOpenPort::ApplyLineSettings(const TLineSettings& line) {
    [[maybe_unused]] const bool ok = FDevice->ApplyLineSettings(line);
}

void TOpenPort::ApplyTimeouts(const TCommTimeouts& timeouts) {
    [[maybe_unused]] const bool ok = FDevice->ApplyTimeouts(timeouts);
}
