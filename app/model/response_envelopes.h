#pragma once

#include "app/model/misskey_note.h"
#include "app/model/misskey_user.h"

#include <QString>

#include <optional>

namespace quill {

/// The body of a successful "notes/create".
struct CreatedNoteResponse {
    MisskeyNote createdNote;

    bool operator==(const CreatedNoteResponse &) const = default;
};

/// The body of a MiAuth session check.
struct MiAuthCheckResponse {
    bool ok = false;
    std::optional<QString> token;
    std::optional<MisskeyUser> user;

    bool operator==(const MiAuthCheckResponse &) const = default;
};

/// The body Misskey sends with a failing status.
struct MisskeyAPIErrorEnvelope {
    struct Payload {
        std::optional<QString> message;
        std::optional<QString> code;
        std::optional<QString> id;
        std::optional<QString> kind;

        bool operator==(const Payload &) const = default;
    };

    Payload error;

    bool operator==(const MisskeyAPIErrorEnvelope &) const = default;
};

} // namespace quill
