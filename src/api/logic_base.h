// Hands a queued engine message to the handler its owner registered for the
// message's topic.
#pragma once

#include "api/logic_callback.h"

/// T provides a static table of HandlerEntry rows, ended by a row whose
/// handler is null:
///     static const HandlerEntry* HandlerTable();
/// Topics are compared byte-wise with the whole message topic; the first
/// matching row wins.
template <class T> class CLogicBase {
public:
    using Handler = bool (T::*)(const InboundMessage& message);

    struct HandlerEntry {
        const char* topic;
        Handler handler;
    };

    virtual ~CLogicBase() = default;

    /// Calls the handler of the first row whose topic equals message.topic
    /// and returns its result; false when no row matches.
    virtual bool DispatchMessage(const InboundMessage& message) {
        for (const HandlerEntry* row = T::HandlerTable(); row->handler != nullptr; ++row) {
            if (message.topic == row->topic) {
                return (static_cast<T*>(this)->*(row->handler))(message);
            }
        }
        return false;
    }
};
