#include "app/script/script_controller.h"

#include "app/script/script_callbacks.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QNetworkAccessManager>

namespace quill {

namespace {

#if defined(__SANITIZE_ADDRESS__)
#define QUILL_ADDRESS_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QUILL_ADDRESS_SANITIZER 1
#endif
#endif

// The engine measures the stack it runs on; a large one lets deeply recursive scripts run.
// AddressSanitizer cannot unwind an exception thrown from much deeper than 64 MiB.
#ifdef QUILL_ADDRESS_SANITIZER
constexpr uint workerStackBytes = 60u * 1024 * 1024;
#else
constexpr uint workerStackBytes = 512u * 1024 * 1024;
#endif

ScriptOutcome runScript(RuntimeLease &lease, const QByteArray &path)
{
    char *error = nullptr;
    ScriptOutcome outcome;
    outcome.result = quill_script_runtime_run(lease.runtime(), path.constData(), &error);
    if (error) {
        outcome.failure = QString::fromUtf8(error);
        quill_script_free_string(error);
    }
    lease.dispose();
    return outcome;
}

} // namespace

ScriptController::ScriptController(AppLog *log, QObject *parent) : QObject(parent), m_log(log)
{
    qRegisterMetaType<ScriptOutcome>();
    m_worker.setObjectName(QStringLiteral("quill.script"));
    m_worker.setStackSize(workerStackBytes);
    m_workerContext = new QObject;
    m_workerContext->moveToThread(&m_worker);
    // The context and its network manager die on their own thread when the worker ends.
    connect(&m_worker, &QThread::finished, m_workerContext, &QObject::deleteLater);
    m_worker.start();
    if (!m_worker.isRunning()) {
        // The system refused the large stack; the engine copes with whatever stack it gets.
        m_worker.setStackSize(0);
        m_worker.start();
    }
}

ScriptController::~ScriptController()
{
    if (m_currentHost)
        m_currentHost->cancel();
    m_runtimeBox->requestStop();
    m_worker.quit();
    m_worker.wait();
}

void ScriptController::setState(ScriptExecutionState state)
{
    if (m_state == state)
        return;
    m_state = state;
    Q_EMIT stateChanged(state);
}

bool ScriptController::start(const QString &scriptPath, const QUrl &instanceURL, const QString &token)
{
    if (m_state != ScriptExecutionState::idle)
        return false;
    const QFileInfo script(scriptPath);
    if (script.suffix().toLower() != QStringLiteral("cbs")) {
        if (m_log)
            m_log->append(LogEntry::Level::error, QStringLiteral("The selected bot script is not a .cbs file."));
        return false;
    }
    if (!script.exists()) {
        if (m_log)
            m_log->append(LogEntry::Level::error, QStringLiteral("Bot script not found at ") + scriptPath);
        return false;
    }

    // The handler may be called on the worker; the log is touched only on the main thread, and
    // only while it still exists.
    const QPointer<AppLog> weakLog = m_log;
    auto host = std::make_shared<ScriptHost>(instanceURL, token, [weakLog](const QString &message) {
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [weakLog, message] {
                if (weakLog)
                    weakLog->append(LogEntry::Level::script, message);
            },
            Qt::QueuedConnection);
    });
    QuillScriptRuntime *runtime =
        quill_script_runtime_create(host.get(), script_callbacks::log, script_callbacks::request,
                                    script_callbacks::upload, script_callbacks::http);
    if (!runtime) {
        if (m_log)
            m_log->append(LogEntry::Level::error, QStringLiteral("Could not create the CobaltScript runtime."));
        return false;
    }

    const QUuid runID = QUuid::createUuid();
    m_runID = runID;
    m_currentHost = host;
    {
        const std::lock_guard guard(m_runtimeBox->lock);
        m_runtimeBox->runtime = runtime;
    }
    setState(ScriptExecutionState::running);
    if (m_log)
        m_log->append(LogEntry::Level::info, QStringLiteral("Started ") + script.fileName());

    auto lease = std::make_shared<RuntimeLease>(runtime, std::move(host), m_runtimeBox);
    const QPointer<ScriptController> weakSelf(this);
    QObject *workerContext = m_workerContext;
    const QByteArray path = QFile::encodeName(script.filePath());
    QMetaObject::invokeMethod(
        m_workerContext,
        [lease, path, runID, weakSelf, workerContext] {
            auto *network = workerContext->findChild<QNetworkAccessManager *>();
            if (!network)
                network = new QNetworkAccessManager(workerContext);
            lease->context()->setNetwork(network);
            const ScriptOutcome outcome = runScript(*lease, path);
            QMetaObject::invokeMethod(
                QCoreApplication::instance(),
                [weakSelf, runID, outcome] {
                    if (weakSelf)
                        weakSelf->complete(runID, outcome);
                },
                Qt::QueuedConnection);
        },
        Qt::QueuedConnection);
    return true;
}

void ScriptController::complete(const QUuid &runID, const ScriptOutcome &outcome)
{
    if (m_runID != runID)
        return;
    m_runID.reset();
    m_currentHost.reset();
    setState(ScriptExecutionState::idle);
    if (m_log) {
        if (outcome.result == QUILL_SCRIPT_FINISHED)
            m_log->append(LogEntry::Level::info, QStringLiteral("Bot script finished."));
        else if (outcome.result == QUILL_SCRIPT_STOPPED)
            m_log->append(LogEntry::Level::info, QStringLiteral("Bot script stopped."));
        else
            m_log->append(LogEntry::Level::error, outcome.failure.value_or(QStringLiteral("CobaltScript failed.")));
    }
    Q_EMIT runFinished(outcome);
}

void ScriptController::stop()
{
    if (m_state != ScriptExecutionState::running)
        return;
    setState(ScriptExecutionState::stopping);
    // The engine's stop flag goes up before the request in flight is cancelled: the cancelled
    // request fails the script at once, and the run must already count as stopped by then, or
    // the stop would be reported as a failure.
    m_runtimeBox->requestStop();
    if (m_currentHost)
        m_currentHost->cancel();
    if (m_log)
        m_log->append(LogEntry::Level::info, QStringLiteral("Bot stop requested."));
}

} // namespace quill
