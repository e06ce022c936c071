#pragma once
// The status every live transport (SSH, VNC, device) publishes and the views show.
// Plain value type; transports keep it behind their own mutex.

#include <string>
#include <utility>

namespace remote {

struct SessionStatus {
    enum class Kind {
        Connecting,
        Connected,
        Closed,       // the peer ended an established session
        Unavailable,  // the transport cannot run for this profile; `text` says why
        Failed,       // the attempt or the session failed; `text` is the real error
    };
    Kind kind = Kind::Connecting;
    std::string text;

    static SessionStatus connecting() { return {Kind::Connecting, {}}; }
    static SessionStatus connected() { return {Kind::Connected, {}}; }
    static SessionStatus closed() { return {Kind::Closed, {}}; }
    static SessionStatus unavailable(std::string t) { return {Kind::Unavailable, std::move(t)}; }
    static SessionStatus failed(std::string t) { return {Kind::Failed, std::move(t)}; }

    bool is_live() const { return kind == Kind::Connecting || kind == Kind::Connected; }
    friend bool operator==(const SessionStatus&, const SessionStatus&) = default;
};

}  // namespace remote
