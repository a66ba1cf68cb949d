#pragma once

#include <QCoroTask>
#include <QEventLoop>
#include <QPointer>
#include <QTimer>

#include <chrono>
#include <exception>
#include <memory>
#include <optional>
#include <stdexcept>
#include <type_traits>
#include <variant>

// Runs a task to its end on the test's event loop. QCoro::waitFor hangs when the awaited work
// throws, so a wrapper coroutine stores the value or the exception instead.
namespace AsyncTest {

namespace detail {
template <typename T>
struct Outcome {
    std::optional<std::conditional_t<std::is_void_v<T>, std::monostate, T>> value;
    std::exception_ptr error;
    bool done = false;
};

template <typename T>
QCoro::Task<> capture(QCoro::Task<T> task, std::shared_ptr<Outcome<T>> outcome, QPointer<QEventLoop> loop)
{
    try {
        if constexpr (std::is_void_v<T>)
            co_await std::move(task);
        else
            outcome->value.emplace(co_await std::move(task));
    } catch (...) {
        outcome->error = std::current_exception();
    }
    outcome->done = true;
    if (loop)
        loop->quit();
}
} // namespace detail

/// Returns the task's value or rethrows its exception; throws std::runtime_error after `deadline`.
template <typename T>
T await(QCoro::Task<T> task, std::chrono::milliseconds deadline = std::chrono::seconds(30))
{
    auto outcome = std::make_shared<detail::Outcome<T>>();
    QEventLoop loop;
    // Both outlive a timed-out wait safely: the task may still finish after we returned.
    detail::capture(std::move(task), outcome, QPointer<QEventLoop>(&loop));
    if (!outcome->done) {
        QTimer::singleShot(deadline, &loop, &QEventLoop::quit);
        loop.exec();
    }
    if (!outcome->done)
        throw std::runtime_error("the task did not finish before its deadline");
    if (outcome->error)
        std::rethrow_exception(outcome->error);
    if constexpr (!std::is_void_v<T>)
        return std::move(*outcome->value);
}

/// Spins the event loop until `condition` holds or `deadline` passes; returns whether it held.
template <typename Condition>
bool waitUntil(Condition condition, std::chrono::milliseconds deadline = std::chrono::seconds(10))
{
    QEventLoop loop;
    QTimer poll;
    poll.setInterval(5);
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (condition())
            loop.quit();
    });
    QTimer::singleShot(deadline, &loop, &QEventLoop::quit);
    if (condition())
        return true;
    poll.start();
    loop.exec();
    return condition();
}

} // namespace AsyncTest
