#pragma once

#include "app/script/script_host.h"
#include "engine/embed/quill_script.h"

#include <memory>
#include <mutex>

namespace quill {

/**
 * @brief The runtime of the current run, shared by the main thread and the worker.
 *
 * The main thread asks the runtime to stop only through the box, and the worker empties the box
 * before destroying the runtime, so a stop can never reach a destroyed runtime.
 */
struct RuntimeBox {
    std::mutex lock;
    QuillScriptRuntime *runtime = nullptr; // guarded by lock

    /// Main thread: asks the boxed runtime, if any, to stop.
    void requestStop()
    {
        const std::lock_guard guard(lock);
        if (runtime)
            quill_script_runtime_request_stop(runtime);
    }
};

/**
 * @brief What the worker owns for one run: the runtime and the host the engine calls back.
 *
 * Disposing of it clears the box, destroys the runtime and lets go of the host.
 */
class RuntimeLease {
public:
    RuntimeLease(QuillScriptRuntime *runtime, std::shared_ptr<ScriptHost> context, std::shared_ptr<RuntimeBox> box)
        : m_runtime(runtime), m_context(std::move(context)), m_box(std::move(box))
    {
    }
    RuntimeLease(const RuntimeLease &) = delete;
    RuntimeLease &operator=(const RuntimeLease &) = delete;
    ~RuntimeLease() { dispose(); }

    QuillScriptRuntime *runtime() const { return m_runtime; }
    ScriptHost *context() const { return m_context.get(); }

    void dispose()
    {
        if (!m_runtime)
            return;
        {
            const std::lock_guard guard(m_box->lock);
            if (m_box->runtime == m_runtime)
                m_box->runtime = nullptr;
        }
        quill_script_runtime_destroy(std::exchange(m_runtime, nullptr));
        m_context.reset();
    }

private:
    QuillScriptRuntime *m_runtime;
    std::shared_ptr<ScriptHost> m_context;
    std::shared_ptr<RuntimeBox> m_box;
};

} // namespace quill
