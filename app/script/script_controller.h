#pragma once

#include "app/log/app_log.h"
#include "app/script/runtime_box.h"
#include "app/script/script_host.h"
#include "app/script/script_outcome.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QThread>
#include <QUrl>
#include <QUuid>

#include <memory>
#include <optional>

namespace quill {

/**
 * @brief Runs one bot script at a time on a worker thread of its own and reports it to the log.
 *
 * A main-thread object. The engine and every callback it makes run on the controller's one
 * serial worker thread; start, stop, the completion and every log line happen on the main thread.
 * A completion is matched to its run by a run ID, so a late one never touches a newer run.
 */
class ScriptController : public QObject {
    Q_OBJECT

public:
    explicit ScriptController(AppLog *log, QObject *parent = nullptr);
    /// Stops a run in progress and waits for the worker to finish it.
    ~ScriptController() override;

    ScriptExecutionState state() const { return m_state; }

    /**
     * @brief Starts the script at `scriptPath` against the instance, as the token's account.
     *
     * Does nothing unless idle. A file that is not a .cbs script, a missing file or a runtime
     * that cannot be created is logged as an error and leaves the controller idle. Returns
     * whether a run started.
     */
    bool start(const QString &scriptPath, const QUrl &instanceURL, const QString &token);

    /// Asks the running script to stop and cancels its request in flight. Only while running.
    void stop();

Q_SIGNALS:
    void stateChanged(quill::ScriptExecutionState state);
    /// A run ended; emitted after its outcome was logged.
    void runFinished(const quill::ScriptOutcome &outcome);

private:
    void setState(ScriptExecutionState state);
    void complete(const QUuid &runID, const ScriptOutcome &outcome);

    QPointer<AppLog> m_log;
    QThread m_worker;
    /// Lives on the worker thread; runs are queued to it, and it owns the worker's network manager.
    QObject *m_workerContext = nullptr;
    std::shared_ptr<RuntimeBox> m_runtimeBox = std::make_shared<RuntimeBox>();
    std::shared_ptr<ScriptHost> m_currentHost;
    std::optional<QUuid> m_runID;
    ScriptExecutionState m_state = ScriptExecutionState::idle;
};

} // namespace quill

Q_DECLARE_METATYPE(quill::ScriptOutcome)
