#pragma once

#include "engine/embed/quill_script.h"

namespace quill::script_callbacks {

// The engine's callbacks; the context is always the run's ScriptHost.

void log(void *context, const char *message);
int32_t request(void *context, const char *endpoint, const char *parametersJSON, char **response, char **error);
int32_t upload(void *context, const char *filePath, const char *optionsJSON, char **response, char **error);
int32_t http(void *context, const char *url, const char *optionsJSON, char **response, char **error);

} // namespace quill::script_callbacks
