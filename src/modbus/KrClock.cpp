#include "modbus/KrClock.h"

#include <QThread>
#include <QTimer>

#include <algorithm>
#include <chrono>

namespace {

class TQtOneShotTimer : public IOneShotTimer {
public:
    explicit TQtOneShotTimer(std::function<void()> onTimeout) {
        FTimer.setSingleShot(true);
        FTimer.setTimerType(Qt::PreciseTimer);
        QObject::connect(&FTimer, &QTimer::timeout, &FTimer, std::move(onTimeout));
    }
    void Start(int ms) override { FTimer.start(std::max(ms, 0)); }
    void Stop() override { FTimer.stop(); }
    bool IsActive() const override { return FTimer.isActive(); }

private:
    QTimer FTimer;
};

class TSystemClock : public IKrClock {
public:
    std::unique_ptr<IOneShotTimer> CreateTimer(std::function<void()> onTimeout) override {
        return std::make_unique<TQtOneShotTimer>(std::move(onTimeout));
    }
    void Sleep(int ms) override {
        if (ms > 0) {
            QThread::msleep(static_cast<unsigned long>(ms));
        }
    }
    std::int64_t NowMs() const override {
        return std::chrono::duration_cast<std::chrono::milliseconds>(
                   std::chrono::steady_clock::now().time_since_epoch())
            .count();
    }
};

} // namespace

IKrClock& SystemClock() {
    static TSystemClock clock;
    return clock;
}
