#include "doc/sample_machines.h"

#include <array>
#include <cstdint>

#include "profiles/uuid.h"
#include "vorn/ui/endpoint_id.h"

namespace remote {

namespace {

using Seed = std::array<std::uint8_t, 32>;

// Four fixed Ed25519 secret seeds: the sample devices must keep their endpoint ids from run to
// run, so that saved sample profiles keep naming the same devices.
constexpr std::array<Seed, 4> kSeeds = {{
    {0x5e, 0x1d, 0x0a, 0x77, 0x3c, 0x92, 0x4f, 0xb1, 0x08, 0xe6, 0x2d,
     0x53, 0x9a, 0xc4, 0x71, 0x1f, 0x36, 0xab, 0x84, 0x0d, 0xf2, 0x65,
     0x19, 0xce, 0x47, 0x7b, 0xd0, 0x23, 0x98, 0x5c, 0xe1, 0x02},
    {0xa3, 0x41, 0xfe, 0x28, 0x6d, 0x0b, 0xc7, 0x95, 0x12, 0x5a, 0xe8,
     0x3f, 0x74, 0xb6, 0x09, 0xd2, 0x8c, 0x17, 0x63, 0xfa, 0x2e, 0x81,
     0x4d, 0xb9, 0x05, 0xc3, 0x7e, 0x96, 0x1a, 0xe4, 0x50, 0x3b},
    {0x0f, 0x88, 0x24, 0xd7, 0x9b, 0x56, 0xe3, 0x11, 0xac, 0x70, 0x3d,
     0xc5, 0x62, 0x07, 0xfb, 0x49, 0xb4, 0x2a, 0x97, 0x5f, 0x13, 0xde,
     0x68, 0x84, 0xf0, 0x3c, 0xa9, 0x21, 0x7d, 0xe6, 0x0c, 0xb8},
    {0xc9, 0x33, 0x6a, 0x05, 0xe1, 0xbf, 0x48, 0x92, 0x7c, 0x2d, 0xd6,
     0x14, 0x8f, 0x59, 0xa0, 0x6e, 0x27, 0xf4, 0x0b, 0x83, 0x5d, 0xc8,
     0x31, 0x9e, 0x66, 0x1b, 0xe7, 0x42, 0xad, 0x08, 0x75, 0xd3},
}};

std::string endpoint(std::size_t device) {
    return vorn_ui::fabric::endpoint_from_seed(kSeeds[device]).to_string();
}

ConnectionProfile row(std::string name, ConnectionKind kind, std::string host, std::uint16_t port,
                      std::string user, AuthMethod auth, std::string group, std::string last_used,
                      Presence presence, bool favorite) {
    return ConnectionProfile{
        Uuid::random(), std::move(name),  std::move(host),      port,     std::move(user), kind,
        auth,           std::move(group), std::move(last_used), presence, favorite};
}

}  // namespace

std::vector<ConnectionProfile> sample_profiles() {
    using K = ConnectionKind;
    using A = AuthMethod;
    using P = Presence;
    return {
        row("Build Box", K::Ssh, "build-01.lab.lan", 22, "admin", A::PublicKey, "lab", "12m ago",
            P::Online, true),
        row("Studio Node", K::Vorn, endpoint(0), 0, "", A::DeviceIdentity, "Vorn", "just now",
            P::Online, true),
        row("Office NAS", K::Vnc, "10.0.0.20", 5900, "media", A::Password, "home", "2h ago",
            P::Online, false),
        row("Win Workstation", K::Rdp, "10.0.0.31", 3389, "marel", A::Password, "work", "yesterday",
            P::Offline, false),
        row("Edge Gateway", K::Ssh, "edge-gw.example", 2222, "root", A::PublicKey, "prod", "3d ago",
            P::Online, false),
        row("Pi Cluster Head", K::Ssh, "192.168.4.2", 22, "pi", A::Password, "lab", "1w ago",
            P::Offline, false),
        row("Workshop Laptop", K::Vorn, endpoint(1), 0, "", A::DeviceIdentity, "Vorn", "5h ago",
            P::Online, false),
        row("Backup Vault", K::Vnc, "vault.backup.lan", 5901, "ops", A::Password, "prod", "Never",
            P::Unknown, false),
    };
}

std::vector<SampleDevice> sample_devices() {
    return {
        {"Studio Node", endpoint(0), true},
        {"Workshop Laptop", endpoint(1), true},
        {"Living Room TV", endpoint(2), true},
        {"Garage Pi", endpoint(3), false},
    };
}

}  // namespace remote
