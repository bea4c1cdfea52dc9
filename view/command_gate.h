#pragma once

#include <functional>
#include <utility>
#include <vector>

namespace kav {

// Counts the commands under way. A command holds a scope for its whole life,
// across its returns to the event loop; while one is held, every other
// command, click and key that would change the points is refused.
class CommandGate {
public:
    class Scope {
    public:
        Scope() = default;
        Scope(Scope&& other) noexcept
            : m_gate(std::exchange(other.m_gate, nullptr))
        {
        }
        Scope& operator=(Scope&& other) noexcept
        {
            if (this != &other) {
                Release();
                m_gate = std::exchange(other.m_gate, nullptr);
            }
            return *this;
        }
        ~Scope() { Release(); }
        explicit operator bool() const { return m_gate != nullptr; }
        void Release()
        {
            if (CommandGate* gate = std::exchange(m_gate, nullptr); gate && --gate->m_held == 0)
                for (const Ended& ended : std::vector<Ended>(gate->m_ended))
                    ended.told();
        }

    private:
        friend class CommandGate;
        explicit Scope(CommandGate* gate)
            : m_gate(gate)
        {
            ++gate->m_held;
        }
        CommandGate* m_gate = nullptr;
    };

    // A new command may begin when none runs and `mayBegin` agrees; one
    // that may not is told to `refused` (a beep).
    void SetRules(std::function<bool()> mayBegin, std::function<void()> refused)
    {
        m_mayBegin = std::move(mayBegin);
        m_refused = std::move(refused);
    }
    // Told when the last scope goes, until its owner takes it back.
    void AddEndedHandler(const void* owner, std::function<void()> ended)
    {
        m_ended.push_back({owner, std::move(ended)});
    }
    void RemoveEndedHandlers(const void* owner)
    {
        std::erase_if(m_ended, [owner](const Ended& ended) { return ended.owner == owner; });
    }

    // The scope of a new command; empty, after `refused`, when it may not begin.
    Scope Begin()
    {
        if (Running() || (m_mayBegin && !m_mayBegin())) {
            if (m_refused)
                m_refused();
            return {};
        }
        return Scope(this);
    }
    // A scope whatever runs: the program's own work on the figure.
    Scope Hold() { return Scope(this); }
    bool Running() const { return m_held > 0; }

private:
    struct Ended {
        const void* owner;
        std::function<void()> told;
    };
    int m_held = 0;
    std::function<bool()> m_mayBegin;
    std::function<void()> m_refused;
    std::vector<Ended> m_ended;
};

} // namespace kav
