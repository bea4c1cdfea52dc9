#pragma once

#include <QObject>

#include <functional>
#include <memory>

class QSocketNotifier;

namespace kav {

// SIGTERM, SIGHUP and SIGINT (logging out, a closed terminal, Ctrl+C) end
// the program as the signal would, but first, between events, call
// `beforeExit`: the journal is synced and kept for the next start.
class CTerminationSignals : public QObject {
    Q_OBJECT

public:
    explicit CTerminationSignals(std::function<void()> beforeExit, QObject* parent = nullptr);
    // The signals do what they did before.
    ~CTerminationSignals() override;

private:
    void OnSignal();

    std::function<void()> m_beforeExit;
    int m_fds[2] = {-1, -1};
    std::unique_ptr<QSocketNotifier> m_notifier;
};

} // namespace kav
