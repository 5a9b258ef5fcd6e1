#pragma once

#include <QtTest/QTest>

#include <QCoro/QCoroTask>

#include <chrono>
#include <memory>
#include <optional>

namespace quill::test {

namespace detail {

// The task lives in this frame, so it is safe to stop waiting before it finishes.
template <typename T>
QCoro::Task<> storeResult(QCoro::Task<T> task, std::shared_ptr<std::optional<T>> slot)
{
    slot->emplace(co_await task);
}

inline QCoro::Task<bool> finished(QCoro::Task<> task)
{
    co_await task;
    co_return true;
}

} // namespace detail

/// Runs the event loop until a task finishes, for at most `limit`: its result, or nothing when it
/// did not finish in time, so that a test fails on the missing value instead of hanging.
template <typename T>
std::optional<T> awaitTask(QCoro::Task<T> task, std::chrono::milliseconds limit = std::chrono::seconds(10))
{
    auto slot = std::make_shared<std::optional<T>>();
    QCoro::Task<> runner = detail::storeResult(std::move(task), slot);
    static_cast<void>(QTest::qWaitFor([&slot] { return slot->has_value(); }, int(limit.count())));
    return *slot;
}

/// The same for a task without a result: whether it finished in time.
inline bool finishTask(QCoro::Task<> task) { return awaitTask(detail::finished(std::move(task))).value_or(false); }

} // namespace quill::test
