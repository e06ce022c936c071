#pragma once
// The value types the application state is made of: messages, screens, the session slot, the
// background operation, pending confirmations and the drawer. UI thread only, like RemoteApp.

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "profiles/profile.h"
#include "profiles/uuid.h"
#include "session_status.h"
#include "ssh/known_hosts.h"
#include "vorn/ui/app.h"
#include "vorn/ui/geometry.h"
#include "vorn/ui/scene.h"
#include "vorn/ui/widgets/flap.h"

namespace remote {

// The six text inputs, in the order of RemoteApp::inputs.
enum class FormField : std::uint8_t {
    Search = 0,
    Name = 1,
    Host = 2,
    Port = 3,
    User = 4,
    Group = 5
};
inline constexpr std::size_t kFormFieldCount = 6;

struct DeviceSuggestion {
    std::string name;
    std::string endpoint;  // the device's endpoint id
    bool online = false;
    friend bool operator==(const DeviceSuggestion&, const DeviceSuggestion&) = default;
};

// Every click, key and accessibility activation becomes one of these.
namespace msg {
struct ShowList {
    friend bool operator==(const ShowList&, const ShowList&) = default;
};
struct NewConnection {
    friend bool operator==(const NewConnection&, const NewConnection&) = default;
};
struct EditConnection {
    Uuid id;
    friend bool operator==(const EditConnection&, const EditConnection&) = default;
};
struct Connect {
    Uuid id;
    friend bool operator==(const Connect&, const Connect&) = default;
};
struct RequestConnect {
    Uuid id;
    friend bool operator==(const RequestConnect&, const RequestConnect&) = default;
};
struct SelectConnection {
    Uuid id;
    friend bool operator==(const SelectConnection&, const SelectConnection&) = default;
};
struct ToggleFavorite {
    Uuid id;
    friend bool operator==(const ToggleFavorite&, const ToggleFavorite&) = default;
};
struct RequestDelete {
    Uuid id;
    friend bool operator==(const RequestDelete&, const RequestDelete&) = default;
};
struct RequestTrustHostKey {
    Uuid id;
    friend bool operator==(const RequestTrustHostKey&, const RequestTrustHostKey&) = default;
};
struct RequestForgetHostKey {
    Uuid id;
    friend bool operator==(const RequestForgetHostKey&, const RequestForgetHostKey&) = default;
};
struct Confirm {
    friend bool operator==(const Confirm&, const Confirm&) = default;
};
struct Cancel {
    friend bool operator==(const Cancel&, const Cancel&) = default;
};
struct FocusInput {
    FormField field;
    friend bool operator==(const FocusInput&, const FocusInput&) = default;
};
struct SetKind {
    ConnectionKind kind;
    friend bool operator==(const SetKind&, const SetKind&) = default;
};
struct SetAuth {
    AuthMethod auth;
    friend bool operator==(const SetAuth&, const SetAuth&) = default;
};
struct SaveForm {
    friend bool operator==(const SaveForm&, const SaveForm&) = default;
};
struct CloseForm {
    friend bool operator==(const CloseForm&, const CloseForm&) = default;
};
struct ToggleScale {
    friend bool operator==(const ToggleScale&, const ToggleScale&) = default;
};
struct ToggleFullscreen {
    friend bool operator==(const ToggleFullscreen&, const ToggleFullscreen&) = default;
};
struct Disconnect {
    friend bool operator==(const Disconnect&, const Disconnect&) = default;
};
struct PickDevice {
    std::size_t index;
    friend bool operator==(const PickDevice&, const PickDevice&) = default;
};
struct ToggleNav {
    friend bool operator==(const ToggleNav&, const ToggleNav&) = default;
};
}  // namespace msg

using AppMessage =
    std::variant<msg::ShowList, msg::NewConnection, msg::EditConnection, msg::Connect,
                 msg::RequestConnect, msg::SelectConnection, msg::ToggleFavorite,
                 msg::RequestDelete, msg::RequestTrustHostKey, msg::RequestForgetHostKey,
                 msg::Confirm, msg::Cancel, msg::FocusInput, msg::SetKind, msg::SetAuth,
                 msg::SaveForm, msg::CloseForm, msg::ToggleScale, msg::ToggleFullscreen,
                 msg::Disconnect, msg::PickDevice, msg::ToggleNav>;

// Which screen is shown.
namespace view {
struct NewForm {
    friend bool operator==(const NewForm&, const NewForm&) = default;
};
struct EditForm {
    Uuid id;
    friend bool operator==(const EditForm&, const EditForm&) = default;
};
struct List {
    friend bool operator==(const List&, const List&) = default;
};
struct Session {
    Uuid id;
    friend bool operator==(const Session&, const Session&) = default;
};
}  // namespace view
using ViewMode = std::variant<view::NewForm, view::EditForm, view::List, view::Session>;

enum class Availability : std::uint8_t {
    Ready = 0,
    CapabilityRequired = 1,
    BackendUnavailable = 2,
    InvalidProfile = 3,
};

// Transport handles are owned through a deleter chosen where the handle is made, so the state can
// hold (and drop) them without seeing the transport's definition.
template <typename T>
using OwnedHandle = std::unique_ptr<T, void (*)(T*)>;
template <typename T>
[[nodiscard]] OwnedHandle<T> own_handle(std::unique_ptr<T> handle) {
    return OwnedHandle<T>(handle.release(), [](T* p) { delete p; });
}

class SshSession;      // an SSH shell's handle
class SshAckReceiver;  // the receiving end of one acknowledged SSH input
class VncSession;      // the VNC session loop's handle
class DeviceSession;   // a device session: decoder queue, stream number, status, decoder thread

// The session slot. Dropping a live variant stops its transport.
namespace session {
struct Ssh {
    OwnedHandle<SshSession> handle;
};
struct Vnc {
    OwnedHandle<VncSession> handle;
};
struct Device {
    OwnedHandle<DeviceSession> handle;
};
struct StartFailed {
    std::string text;
};
struct NotAvailable {
    Availability availability;
    ConnectionKind kind;
};
// A fixed status shown by a preview state; no transport behind it.
struct Preview {
    SessionStatus status;
};
}  // namespace session
using ActiveSession = std::variant<std::monostate, session::Ssh, session::Vnc, session::Device,
                                   session::StartFailed, session::NotAvailable, session::Preview>;

// The one background operation.
namespace operation {
struct Idle {};
struct Connecting {
    vorn_ui::app::OperationToken token{};
    Uuid connection_id;
    std::uint64_t session_identity = 0;
};
struct DeliveringInput {
    OwnedHandle<SshAckReceiver> receiver;
    vorn_ui::app::OperationToken token{};
    Uuid connection_id;
    std::uint64_t session_identity = 0;
};
}  // namespace operation
using PendingOperation =
    std::variant<operation::Idle, operation::Connecting, operation::DeliveringInput>;

enum class ConfirmKind : std::uint8_t { Connect, Delete, TrustHostKey, ForgetHostKey };

struct PendingConfirmation {
    ConfirmKind kind = ConfirmKind::Connect;
    std::string target;  // the profile's target fingerprint when the confirmation was asked
    Uuid connection_id;
    std::optional<HostKeyIdentity> observed;  // TrustHostKey only
};

// The persisted-dispatch context: the document heads recorded before the first persisted action
// since the platform last collected them.
struct DispatchContext {
    std::optional<std::vector<vorn_ui::app::ChangeHash>> heads;
};

enum class DrawerOpen : std::uint8_t { Closed, Open, FollowDefault };
enum class NarrowState : std::uint8_t { No, Yes, Unknown };
enum class PreviewDrawer : std::uint8_t { Closed, Open, None };

struct Drawer {
    vorn_ui::widget::flap::FlapState flap{1.0};  // position 0 closed .. 1 open
    DrawerOpen open = DrawerOpen::FollowDefault;
    NarrowState last_narrow = NarrowState::Unknown;
    bool default_open = true;
};

// The last picture of the session surface, kept by the session view.
struct SurfaceCache {
    vorn_ui::Image image;
    std::uint64_t generation = 0;
};

// An interactive element painted this frame: what a click on it sends, where it is, and its
// tooltip if it has one.
struct ClickTarget {
    AppMessage message;
    vorn_ui::Rect rect;
    std::optional<std::string> tooltip;
};

}  // namespace remote
