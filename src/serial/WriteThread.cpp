#include "serial/WriteThread.h"

#include "platform/Event.h"
#include "platform/SerialDevice.h"
#include "platform/ThreadPriority.h"
#include "serial/Hangup.h"

#include <optional>

std::unique_ptr<TWriteThread> TWriteThread::Create(TSerialDevice& device, const TEvent& closeEvent,
                                                   TNotifier notifier,
                                                   std::atomic<bool>& sendIdleFlag) {
    auto wake = TEvent::Create();
    if (!wake) {
        return nullptr;
    }
    return std::make_unique<TWriteThread>(device, closeEvent, notifier, sendIdleFlag,
                                          std::move(wake));
}

TWriteThread::TWriteThread(TSerialDevice& device, const TEvent& closeEvent, TNotifier notifier,
                           std::atomic<bool>& sendIdleFlag, std::unique_ptr<TEvent> wake)
    : FCommHandle(device), FCloseEvent(closeEvent), FNotifyTarget(notifier),
      FSendIdleFlag(sendIdleFlag), FWake(std::move(wake)) {}

TWriteThread::~TWriteThread() {
    Join();
}

void TWriteThread::Start() {
    FThread = std::thread([this] { Execute(); });
}

void TWriteThread::Join() {
    if (FThread.joinable()) {
        FThread.join();
    }
}

bool TWriteThread::Post(std::string block) {
    {
        std::lock_guard g(FLock);
        if (FEnded) {
            return false;
        }
        FQueue.push_back(std::move(block));
    }
    FWake->Set();
    return true;
}

void TWriteThread::PostHangup() {
    FNotifyTarget.PostHangup();
}

void TWriteThread::Execute() {
    RaiseCurrentThreadPriority(1);
    bool notifyPending = true;
    for (;;) {
        std::optional<std::string> block;
        {
            std::lock_guard g(FLock);
            if (!FQueue.empty()) {
                block = std::move(FQueue.front());
                FQueue.pop_front();
            }
        }
        if (!block) {
            FSendIdleFlag.store(true);
            if (notifyPending && !FNotifyTarget.Post(NotifySendDataEmpty)) {
                PostHangup();
                break;
            }
            notifyPending = false;
            // The reader may find the line gone while the writer has nothing to do.
            const int woken =
                TEvent::WaitAny({&FCloseEvent, FWake.get(), &FNotifyTarget.Hangup().Event()}, -1);
            if (woken == 0 || woken == 2) {
                break;
            }
            if (woken == 1) {
                // Cleared before the queue is looked at again, so no request is missed.
                FWake->Clear();
                continue;
            }
            PostHangup();
            break;
        }
        if (FCloseEvent.IsSet() || FNotifyTarget.Hangup().Reported()) {
            break;
        }
        FSendIdleFlag.store(false);
        if (!SendBlock(*block)) {
            break;
        }
        notifyPending = true;
    }
    FCommHandle.Purge(TPurge::Tx);
    FSendIdleFlag.store(true);
    std::lock_guard g(FLock);
    FEnded = true;
    FQueue.clear();
}

bool TWriteThread::SendBlock(const std::string& block) {
    std::size_t offset = 0;
    while (offset < block.size()) {
        if (FNotifyTarget.Hangup().Reported()) {
            return false;
        }
        const TIoResult r = FCommHandle.Write(block.data() + offset, block.size() - offset);
        switch (r.Status) {
        case TIoStatus::Ok:
            if (r.Count == 0) {
                return false;
            }
            offset += r.Count;
            break;
        case TIoStatus::WouldBlock:
            switch (FCommHandle.Wait(TWaitFor::Writable, FCloseEvent, -1)) {
            case TWaitStatus::Ready:
            case TWaitStatus::TimedOut:
                break;
            case TWaitStatus::Stopped:
            case TWaitStatus::Invalid:
                return false;
            case TWaitStatus::Fatal:
                PostHangup();
                return false;
            }
            break;
        case TIoStatus::Empty:
        case TIoStatus::Invalid:
            return false;
        case TIoStatus::Fatal:
            PostHangup();
            return false;
        }
    }
    return true;
}
