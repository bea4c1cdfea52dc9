#include "app/termination_signals.h"

#include <QSocketNotifier>

#include <csignal>

#include <sys/socket.h>
#include <unistd.h>

namespace kav {

namespace {

constexpr int kSignals[] = {SIGTERM, SIGHUP, SIGINT};

// Where the handler tells the event loop; a handler may only write.
volatile std::sig_atomic_t g_writeFd = -1;

void Handler(int signal)
{
    const unsigned char number = static_cast<unsigned char>(signal);
    [[maybe_unused]] const ssize_t written = ::write(g_writeFd, &number, 1);
}

} // namespace

CTerminationSignals::CTerminationSignals(std::function<void()> beforeExit, QObject* parent)
    : QObject(parent)
    , m_beforeExit(std::move(beforeExit))
{
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, m_fds) != 0)
        return;
    g_writeFd = m_fds[0];
    m_notifier = std::make_unique<QSocketNotifier>(m_fds[1], QSocketNotifier::Read);
    connect(m_notifier.get(), &QSocketNotifier::activated, this, &CTerminationSignals::OnSignal);
    struct sigaction action { };
    action.sa_handler = Handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signal : kSignals)
        ::sigaction(signal, &action, nullptr);
}

CTerminationSignals::~CTerminationSignals()
{
    if (m_fds[0] < 0)
        return;
    for (const int signal : kSignals)
        std::signal(signal, SIG_DFL);
    g_writeFd = -1;
    m_notifier.reset();
    ::close(m_fds[0]);
    ::close(m_fds[1]);
}

void CTerminationSignals::OnSignal()
{
    unsigned char number = 0;
    if (::read(m_fds[1], &number, 1) != 1)
        return;
    if (m_beforeExit)
        m_beforeExit();
    // Ends as the signal would have, so that whoever sent it sees that.
    std::signal(number, SIG_DFL);
    ::raise(number);
}

} // namespace kav
