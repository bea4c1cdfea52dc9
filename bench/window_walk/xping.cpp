// Stall meter for a running kav window: sends _NET_WM_PING every few ms and
// times the answer, which Qt's xcb plugin gives from the GUI thread only.
//
//   xping [-w id | -n name] [-p pid] [-g ms] [-G dir] [-t ms]
//
// Phase markers are read from stdin, one per line; every stall is put down
// to the phase that was current when it began. A line starting with '+' is
// only a note, printed with its time.
// Build: g++ -O2 -std=c++20 -o xping xping.cpp -lX11

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <string>
#include <vector>

namespace {

volatile sig_atomic_t g_stop = 0;
bool g_xerror = false;

double NowMs()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

int OnXError(Display*, XErrorEvent*)
{
    // The window goes away on quit; a ping sent just before must not kill us.
    g_xerror = true;
    return 0;
}

std::string WindowName(Display* dpy, Window w, Atom netName, Atom utf8)
{
    Atom type = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    std::string name;
    if (XGetWindowProperty(dpy, w, netName, 0, 256, False, utf8, &type, &format, &count, &after, &data) == Success &&
        data) {
        name.assign(reinterpret_cast<char*>(data), count);
        XFree(data);
    }
    if (name.empty()) {
        char* old = nullptr;
        if (XFetchName(dpy, w, &old) && old) {
            name = old;
            XFree(old);
        }
    }
    return name;
}

Window FindByName(Display* dpy, Window parent, const std::string& wanted, Atom netName, Atom utf8)
{
    Window root = 0, up = 0, *kids = nullptr;
    unsigned int n = 0;
    if (!XQueryTree(dpy, parent, &root, &up, &kids, &n))
        return 0;
    Window found = 0;
    for (unsigned int i = 0; i < n && !found; ++i) {
        XWindowAttributes wa{};
        // Qt keeps unmapped helper windows with the same title; skip them.
        if (XGetWindowAttributes(dpy, kids[i], &wa) && wa.map_state == IsViewable &&
            WindowName(dpy, kids[i], netName, utf8) == wanted)
            found = kids[i];
        else
            found = FindByName(dpy, kids[i], wanted, netName, utf8);
    }
    if (kids)
        XFree(kids);
    return found;
}

struct Memory {
    long rssKb = 0;
    long hwmKb = 0;
};

Memory ReadMemory(int pid)
{
    Memory m;
    if (pid <= 0)
        return m;
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    std::string key;
    long value = 0;
    std::string unit;
    while (in >> key) {
        if (key == "VmRSS:" && in >> value >> unit)
            m.rssKb = value;
        else if (key == "VmHWM:" && in >> value >> unit)
            m.hwmKb = value;
        else
            in.ignore(1 << 12, '\n');
    }
    return m;
}

struct Phase {
    std::string name;
    double start = 0;
    double maxStall = 0;
    double maxAt = 0; // ms into the phase when the longest stall began
    int over50 = 0;
    int over100 = 0;
    long pings = 0;
    Memory atStart;
    long maxRssKb = 0;
};

struct Stall {
    double start = 0;
    double ms = 0;
    size_t phase = 0;
    bool traced = false;
};

} // namespace

int main(int argc, char** argv)
{
    std::string wanted = "KAV Edytor";
    Window target = 0;
    int pid = 0;
    double gdbAfterMs = 0; // 0: never attach gdb
    std::string gdbDir = ".";
    double timeoutMs = 30000;
    const double intervalMs = 5;
    const double reportMs = 50;
    for (int c; (c = getopt(argc, argv, "w:n:p:g:G:t:")) != -1;) {
        switch (c) {
        case 'w': target = std::strtoul(optarg, nullptr, 0); break;
        case 'n': wanted = optarg; break;
        case 'p': pid = std::atoi(optarg); break;
        case 'g': gdbAfterMs = std::atof(optarg); break;
        case 'G': gdbDir = optarg; break;
        case 't': timeoutMs = std::atof(optarg); break;
        default:
            std::fprintf(stderr, "usage: xping [-w id | -n name] [-p pid] [-g ms] [-G dir] [-t ms]\n");
            return 2;
        }
    }
    setvbuf(stdout, nullptr, _IOLBF, 0);

    Display* dpy = XOpenDisplay(nullptr);
    if (!dpy) {
        std::fprintf(stderr, "xping: cannot open display\n");
        return 1;
    }
    XSetErrorHandler(OnXError);
    const Window root = DefaultRootWindow(dpy);
    const Atom wmProtocols = XInternAtom(dpy, "WM_PROTOCOLS", False);
    const Atom netPing = XInternAtom(dpy, "_NET_WM_PING", False);
    const Atom netName = XInternAtom(dpy, "_NET_WM_NAME", False);
    const Atom utf8 = XInternAtom(dpy, "UTF8_STRING", False);

    const double t0 = NowMs();
    while (!target && NowMs() - t0 < timeoutMs && !g_stop) {
        target = FindByName(dpy, root, wanted, netName, utf8);
        if (!target)
            usleep(20000);
    }
    if (!target) {
        std::fprintf(stderr, "xping: no window named \"%s\"\n", wanted.c_str());
        return 1;
    }
    {
        Atom* protocols = nullptr;
        int n = 0;
        bool ping = false;
        if (XGetWMProtocols(dpy, target, &protocols, &n)) {
            ping = std::find(protocols, protocols + n, netPing) != protocols + n;
            XFree(protocols);
        }
        std::printf("# window 0x%lx \"%s\", WM_PROTOCOLS %s _NET_WM_PING\n", target,
                    WindowName(dpy, target, netName, utf8).c_str(), ping ? "has" : "LACKS");
    }

    // Qt forwards the answer to the root with StructureNotify|SubstructureRedirect;
    // redirect would make us the window manager and hold back every map request,
    // so take StructureNotify. SubstructureNotify only shows dialogs being mapped.
    XSelectInput(dpy, root, StructureNotifyMask | SubstructureNotifyMask);
    XSelectInput(dpy, target, StructureNotifyMask);
    XSync(dpy, False);

    struct sigaction sa{};
    sa.sa_handler = [](int) { g_stop = 1; };
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    signal(SIGPIPE, SIG_IGN);

    const double start = NowMs();
    std::vector<Phase> phases(1);
    phases[0].name = "start";
    phases[0].start = start;
    phases[0].atStart = ReadMemory(pid);
    std::vector<Stall> stalls;
    long serial = 0;
    bool outstanding = false;
    bool traced = false;
    double sentAt = 0;
    double nextSend = start;
    double nextReport = start + 1000;
    double secondMax = 0;
    long secondPings = 0;
    bool stdinOpen = true;
    bool gone = false;
    std::string pendingLine;
    std::vector<pid_t> tracers;

    auto rel = [&](double t) { return t - start; };
    auto finish = [&](double rtt, double at) {
        Phase& ph = phases.back();
        ++ph.pings;
        ++secondPings;
        secondMax = std::max(secondMax, rtt);
        // Put the stall down to the phase in which the ping was sent.
        size_t idx = phases.size() - 1;
        while (idx > 0 && phases[idx].start > sentAt)
            --idx;
        Phase& owner = phases[idx];
        if (rtt > owner.maxStall) {
            owner.maxStall = rtt;
            owner.maxAt = sentAt - owner.start;
        }
        if (rtt > reportMs) {
            ++owner.over50;
            owner.over100 += rtt > 100;
            stalls.push_back({sentAt, rtt, idx, traced});
            std::printf("STALL %.1f ms  from mono=%.1f rel=%.1f to rel=%.1f  phase=%s +%.1f ms%s\n", rtt, sentAt,
                        rel(sentAt), rel(at), owner.name.c_str(), sentAt - owner.start,
                        traced ? "  (gdb attached, longer than real)" : "");
        }
    };
    auto sample = [&] {
        const Memory m = ReadMemory(pid);
        phases.back().maxRssKb = std::max(phases.back().maxRssKb, m.rssKb);
        return m;
    };

    while (!g_stop && !gone) {
        double now = NowMs();
        if (!outstanding && now >= nextSend) {
            XEvent ev{};
            ev.xclient.type = ClientMessage;
            ev.xclient.window = target;
            ev.xclient.message_type = wmProtocols;
            ev.xclient.format = 32;
            ev.xclient.data.l[0] = static_cast<long>(netPing);
            ev.xclient.data.l[1] = ++serial;
            ev.xclient.data.l[2] = static_cast<long>(target);
            XSendEvent(dpy, target, False, NoEventMask, &ev);
            XFlush(dpy);
            outstanding = true;
            traced = false;
            sentAt = NowMs();
        }
        if (outstanding && !traced && gdbAfterMs > 0 && pid > 0 && now - sentAt > gdbAfterMs) {
            traced = true;
            char file[512];
            std::snprintf(file, sizeof file, "%s/stack_%.0f.txt", gdbDir.c_str(), rel(sentAt));
            std::printf("# gdb into %s, stall at %.0f ms, phase=%s\n", file, now - sentAt,
                        phases.back().name.c_str());
            const pid_t child = fork();
            if (child == 0) {
                if (!std::freopen(file, "w", stdout))
                    _exit(127);
                dup2(1, 2);
                const std::string p = std::to_string(pid);
                execlp("gdb", "gdb", "-p", p.c_str(), "-batch", "-ex", "thread apply all bt", (char*)nullptr);
                _exit(127);
            }
            tracers.push_back(child);
        }
        while (!tracers.empty() && waitpid(-1, nullptr, WNOHANG) > 0)
            tracers.pop_back();

        while (XPending(dpy)) {
            XEvent ev;
            XNextEvent(dpy, &ev);
            if (ev.type == ClientMessage && ev.xclient.message_type == wmProtocols &&
                static_cast<Atom>(ev.xclient.data.l[0]) == netPing) {
                if (outstanding && ev.xclient.data.l[1] == serial) {
                    const double t = NowMs();
                    outstanding = false;
                    finish(t - sentAt, t);
                    nextSend = t + intervalMs;
                }
            } else if (ev.type == MapNotify && ev.xmap.event == root) {
                std::printf("# mapped 0x%lx \"%s\" rel=%.1f\n", ev.xmap.window,
                            WindowName(dpy, ev.xmap.window, netName, utf8).c_str(), rel(NowMs()));
            } else if (ev.type == DestroyNotify && ev.xdestroywindow.window == target) {
                gone = true;
            }
        }
        if (gone)
            break;

        now = NowMs();
        if (now >= nextReport) {
            const Memory m = sample();
            std::printf("SEC rel=%.0f mono=%.0f pings=%ld max=%.1f%s rss=%ldMB hwm=%ldMB phase=%s\n", rel(now), now,
                        secondPings, secondMax, outstanding ? " waiting" : "", m.rssKb / 1024, m.hwmKb / 1024,
                        phases.back().name.c_str());
            if (outstanding && now - sentAt > reportMs)
                std::printf("  still waiting %.1f ms for ping %ld (sent rel=%.1f)\n", now - sentAt, serial,
                            rel(sentAt));
            secondMax = 0;
            secondPings = 0;
            nextReport += 1000;
        }

        pollfd fds[2] = {{ConnectionNumber(dpy), POLLIN, 0}, {stdinOpen ? 0 : -1, POLLIN, 0}};
        double wake = std::min(nextReport, outstanding ? now + 1 : nextSend);
        const int waitMs = std::max(0, static_cast<int>(wake - now));
        if (poll(fds, 2, waitMs) < 0 && errno != EINTR)
            break;
        if (stdinOpen && (fds[1].revents & (POLLIN | POLLHUP))) {
            char buf[4096];
            const ssize_t got = read(0, buf, sizeof buf);
            if (got <= 0) {
                stdinOpen = false;
            } else {
                pendingLine.append(buf, got);
                for (size_t nl; (nl = pendingLine.find('\n')) != std::string::npos;) {
                    std::string name = pendingLine.substr(0, nl);
                    pendingLine.erase(0, nl + 1);
                    if (name.empty())
                        continue;
                    if (name[0] == '+') {
                        // A note: when a click or screenshot happened, inside the phase.
                        const double t = NowMs();
                        std::printf("NOTE %s rel=%.1f phase=%s +%.1f ms\n", name.c_str() + 1, rel(t),
                                    phases.back().name.c_str(), t - phases.back().start);
                        continue;
                    }
                    sample();
                    const double t = NowMs();
                    phases.emplace_back();
                    phases.back().name = name;
                    phases.back().start = t;
                    phases.back().atStart = ReadMemory(pid);
                    phases.back().maxRssKb = phases.back().atStart.rssKb;
                    std::printf("PHASE %s mono=%.1f rel=%.1f rss=%ldMB hwm=%ldMB\n", name.c_str(), t, rel(t),
                                phases.back().atStart.rssKb / 1024, phases.back().atStart.hwmKb / 1024);
                }
            }
        }
    }

    const double end = NowMs();
    // The window stays on screen until it is destroyed, so a ping that was
    // never answered before that still counts as a stall.
    if (outstanding) {
        if (gone)
            std::printf("# ping %ld unanswered when the window went away\n", serial);
        finish(end - sentAt, end);
    }

    std::printf("\nSUMMARY %s, %.1f s, %ld pings%s\n", gone ? "window closed" : "stopped", rel(end) / 1e3, serial,
                g_xerror ? ", X errors seen" : "");
    std::printf("%-28s %9s %10s %6s %6s %7s %8s %8s\n", "phase", "max ms", "at +ms", ">50", ">100", "pings",
                "rss0 MB", "rssMax MB");
    double worst = 0;
    for (const Phase& ph : phases) {
        worst = std::max(worst, ph.maxStall);
        std::printf("%-28s %9.1f %10.1f %6d %6d %7ld %8ld %8ld\n", ph.name.c_str(), ph.maxStall, ph.maxAt, ph.over50,
                    ph.over100, ph.pings, ph.atStart.rssKb / 1024, ph.maxRssKb / 1024);
    }
    std::printf("MAX %.1f ms\n", worst);
    XCloseDisplay(dpy);
    return 0;
}
