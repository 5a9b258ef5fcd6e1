/*
 * quill_script.h: the C interface through which a host embeds the CobaltScript engine.
 *
 * This header is self-contained and compiles as C11 and as C++. Link the static library
 * `cobaltscript` and the standard C++ library.
 *
 * Lifecycle
 *   A host creates a runtime once, runs one or more script files on it, and destroys it once.
 *   All script state (globals, loaded files, caches) lives in the runtime and survives from one
 *   run to the next until quill_script_runtime_destroy. Each run starts with clean transient
 *   state (pending errors, jumps, protected calls, call depth).
 *
 * Threads
 *   quill_script_runtime_run executes the script on the calling thread and blocks it until the
 *   script ends; every callback is invoked synchronously on that same thread while run is in
 *   progress. quill_script_runtime_request_stop may be called from any thread at any time; it
 *   never blocks. A runtime runs at most one script at a time: a run started while another is
 *   in progress on it (from a callback, or from another thread) is refused with
 *   QUILL_SCRIPT_FAILED and "A CobaltScript run is already in progress on this runtime".
 *   destroy must not overlap a run on the same runtime.
 *
 * Texts
 *   Every text crossing this interface is NUL-terminated UTF-8.
 *   - A const char* that the engine passes to a callback is owned by the engine and valid only
 *     for the duration of that call.
 *   - A text a callback stores through `response` or `error` must be allocated with malloc;
 *     ownership passes to the engine, which frees it on every path.
 *   - The error text that run stores through `error_out` is allocated with malloc and owned by
 *     the host, which releases it with quill_script_free_string.
 *
 * Callbacks
 *   Every callback receives the host context given to create as its first argument; the engine
 *   never dereferences it. The three request-like callbacks are synchronous and return non-zero
 *   for success. Before each call the engine sets *response and *error to NULL. A call counts as
 *   successful only when it returns non-zero and stores a response text; the response is a JSON
 *   document (a scalar at the top level is allowed) or the empty text, which stands for no
 *   result. On failure the script error is the error text the callback stored, or the
 *   callback's fixed text ("Misskey request failed", "Misskey upload failed",
 *   "HTTP request failed"); a response stored alongside a failure is freed unread.
 *
 * Stopping
 *   request_stop sets a flag that is never cleared. The script stops at its next Misskey,
 *   upload or HTTP call (which fails with "Bot stop requested"; once a stop is requested pcall
 *   catches no failure at all), botWait returns within one 50 ms slice and botIsRunning turns
 *   false. A script that keeps
 *   running without calling any of these is ended by the interpreter once it has run on for
 *   a grace period of 5 seconds after the stop request. Once the flag is set every later run
 *   returns QUILL_SCRIPT_STOPPED; create a new runtime to run again.
 */
#ifndef QUILL_SCRIPT_H
#define QUILL_SCRIPT_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Result codes of quill_script_runtime_run. */
#define QUILL_SCRIPT_FINISHED 0 /* the script ran to its end and no stop was requested */
#define QUILL_SCRIPT_FAILED 1   /* the run failed; *error_out holds the message (or NULL) */
#define QUILL_SCRIPT_STOPPED 2  /* a stop had been requested when the run ended; no message */

typedef struct QuillScriptRuntime QuillScriptRuntime;

/* Receives every line a script prints or logs. */
typedef void (*QuillScriptLogCallback)(void* context, const char* message);

/* Performs one Misskey API request: endpoint such as "notes/create", parameters as JSON. */
typedef int32_t (*QuillScriptRequestCallback)(void* context, const char* endpoint, const char* parameters_json,
                                              char** response, char** error);

/* Uploads one local file to the account's drive; options as JSON. */
typedef int32_t (*QuillScriptUploadCallback)(void* context, const char* file_path, const char* options_json,
                                             char** response, char** error);

/* Performs one general HTTP request; options as JSON. */
typedef int32_t (*QuillScriptHTTPCallback)(void* context, const char* url, const char* options_json,
                                           char** response, char** error);

/* Creates a runtime with the standard library and the bot API installed. Any callback may be
 * NULL (the bot functions that need it then fail with "... callback is unavailable").
 * Returns NULL when creation fails. */
QuillScriptRuntime* quill_script_runtime_create(void* context, QuillScriptLogCallback log,
                                                QuillScriptRequestCallback request,
                                                QuillScriptUploadCallback upload, QuillScriptHTTPCallback http);

/* Runs the script file at `script_path` to its end on the calling thread. Returns
 * QUILL_SCRIPT_FINISHED, QUILL_SCRIPT_FAILED or QUILL_SCRIPT_STOPPED. When error_out is not
 * NULL it is set to NULL first, and on QUILL_SCRIPT_FAILED to the error text (which begins
 * "CobaltScript error: " for every script failure), unless that text could not be allocated.
 * A NULL runtime or a NULL or empty path gives QUILL_SCRIPT_FAILED with
 * "A CobaltScript file path is required". */
int32_t quill_script_runtime_run(QuillScriptRuntime* runtime, const char* script_path, char** error_out);

/* Asks the running script to stop. Callable from any thread; never blocks; NULL is ignored. */
void quill_script_runtime_request_stop(QuillScriptRuntime* runtime);

/* Destroys the runtime and all script state it holds, including containers that refer to
 * each other and the files they keep open. NULL is ignored. */
void quill_script_runtime_destroy(QuillScriptRuntime* runtime);

/* Releases a text that run stored through error_out. NULL is allowed. */
void quill_script_free_string(char* text);

#ifdef __cplusplus
} /* extern "C" */
#endif

#endif /* QUILL_SCRIPT_H */
