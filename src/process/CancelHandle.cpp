#include "process/CancelHandle.h"

class CancelHandle::State : public QObject {
    Q_OBJECT
public:
    bool cancelled = false;

Q_SIGNALS:
    void cancelRequested();
};

CancelHandle::CancelHandle()
    : m_state(std::make_shared<State>())
{}

void CancelHandle::cancel() const
{
    if (m_state->cancelled)
        return;
    m_state->cancelled = true;
    Q_EMIT m_state->cancelRequested();
}

bool CancelHandle::isCancelled() const
{
    return m_state->cancelled;
}

QMetaObject::Connection CancelHandle::onCancel(QObject* context, std::function<void()> callback) const
{
    return QObject::connect(m_state.get(), &State::cancelRequested, context, std::move(callback));
}

#include "CancelHandle.moc"
