#include "ui/widgets/progress_timer.h"

#include <QTimer>

namespace {

class CQtProgressTimer final : public CProgressTimer {
public:
    void Start(int intervalMs, std::function<void()> tick) override
    {
        m_timer.disconnect();
        QObject::connect(&m_timer, &QTimer::timeout, [tick = std::move(tick)] { tick(); });
        m_timer.start(intervalMs);
    }
    void Stop() override { m_timer.stop(); }
    bool IsActive() const override { return m_timer.isActive(); }

private:
    QTimer m_timer;
};

}  // namespace

std::unique_ptr<CProgressTimer> MakeProgressTimer()
{
    return std::make_unique<CQtProgressTimer>();
}
