#pragma once

#include <QObject>

#include <functional>
#include <memory>

/// Lets whoever started a piece of work end it early. Copies share one state; a default-made
/// handle is a fresh one nobody has cancelled yet. Lives on the interface thread.
class CancelHandle {
public:
    CancelHandle();

    void cancel() const;
    bool isCancelled() const;
    /// Calls `callback` once on the first cancel, for as long as `context` lives.
    QMetaObject::Connection onCancel(QObject* context, std::function<void()> callback) const;

    friend bool operator==(const CancelHandle& a, const CancelHandle& b) { return a.m_state == b.m_state; }

private:
    class State;
    std::shared_ptr<State> m_state;
};
