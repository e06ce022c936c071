#include "rfb/handshake.h"

#include <openssl/des.h>

#include <algorithm>
#include <charconv>
#include <vector>

namespace remote {
namespace {

constexpr std::uint32_t kMaxNameBytes = 16 * 1024;
constexpr std::uint64_t kMaxFramebufferPixels = 16ull * 1024 * 1024;

RfbError fail(std::string text) { return RfbError::other(std::move(text)); }

// Length of the well-formed UTF-8 sequence at the start of `s`, or 0 with `bad` set to the
// length of its maximal ill-formed prefix (at least 1), which becomes one U+FFFD.
std::size_t utf8_sequence(std::span<const std::uint8_t> s, std::size_t& bad) {
    std::uint8_t b0 = s[0];
    std::size_t need;
    std::uint8_t lo = 0x80, hi = 0xBF;
    if (b0 < 0x80) return 1;
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        need = 2;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        need = 3;
        if (b0 == 0xE0) lo = 0xA0;
        if (b0 == 0xED) hi = 0x9F;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        need = 4;
        if (b0 == 0xF0) lo = 0x90;
        if (b0 == 0xF4) hi = 0x8F;
    } else {
        bad = 1;
        return 0;
    }
    for (std::size_t i = 1; i < need; ++i) {
        std::uint8_t lo_i = i == 1 ? lo : 0x80, hi_i = i == 1 ? hi : 0xBF;
        if (i >= s.size() || s[i] < lo_i || s[i] > hi_i) {
            bad = i;
            return 0;
        }
    }
    return need;
}

bool valid_utf8(std::span<const std::uint8_t> s) {
    while (!s.empty()) {
        std::size_t bad = 0, n = utf8_sequence(s, bad);
        if (n == 0) return false;
        s = s.subspan(n);
    }
    return true;
}

std::optional<std::uint8_t> parse_u8(std::string_view s) {
    if (s.empty()) return std::nullopt;
    unsigned v = 0;
    auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
    if (ec != std::errc{} || end != s.data() + s.size() || v > 255) return std::nullopt;
    return static_cast<std::uint8_t>(v);
}

struct Version {
    std::uint8_t major, minor;
};

std::optional<Version> parse_version(std::span<const std::uint8_t, 12> bytes) {
    if (!valid_utf8(bytes)) return std::nullopt;
    std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    if (!text.starts_with("RFB ")) return std::nullopt;
    text.remove_prefix(4);
    while (!text.empty() && std::string_view(" \t\n\v\f\r").find(text.back()) != text.npos) {
        text.remove_suffix(1);
    }
    auto dot = text.find('.');
    if (dot == text.npos) return std::nullopt;
    auto major = parse_u8(text.substr(0, dot));
    auto minor = parse_u8(text.substr(dot + 1));
    if (!major || !minor) return std::nullopt;
    return Version{*major, *minor};
}

std::uint8_t choose_minor(Version v) {
    if (v.major < 3) return 3;
    if (v.major > 3) return 8;
    if (v.minor >= 8) return 8;
    if (v.minor == 7) return 7;
    return 3;
}

// A 32-bit length and that many bytes. At most kMaxReasonBytes are read; the rest is left in the
// stream, which is about to be closed anyway.
RfbResult<std::string> read_reason(RfbReader& in) {
    auto len = in.u32();
    if (!len) return std::unexpected(len.error());
    std::size_t keep = std::min<std::size_t>(*len, kMaxReasonBytes);
    std::vector<std::uint8_t> bytes(keep);
    if (auto r = in.read_exact(bytes); !r) return std::unexpected(r.error());
    std::string text = decode_utf8_lossy(bytes);
    if (keep < *len) text += "…";
    return text;
}

RfbResult<void> read_security_result(RfbReader& in) {
    auto word = in.u32();
    if (!word) return std::unexpected(word.error());
    if (*word == 0) return {};
    // 3.8 servers explain the failure; older ones close the connection instead.
    auto reason = read_reason(in);
    if (!reason) return std::unexpected(fail("authentication failed"));
    return std::unexpected(fail(std::move(*reason)));
}

RfbResult<void> vnc_authenticate(RfbReader& in, ByteSource& out,
                                 const std::optional<std::string>& password) {
    std::array<std::uint8_t, 16> challenge{};
    if (auto r = in.read_exact(challenge); !r) return r;
    auto response = vnc_auth_response(challenge, password.value_or(std::string{}));
    if (auto r = out.write_all(response); !r) return r;
    return read_security_result(in);
}

RfbResult<void> negotiate_security(RfbReader& in, ByteSource& out, std::uint8_t minor,
                                   const std::optional<std::string>& password) {
    std::uint8_t chosen;
    if (minor == 3) {
        auto word = in.u32();
        if (!word) return std::unexpected(word.error());
        chosen = static_cast<std::uint8_t>(*word & 0xFF);
        if (chosen != 1 && chosen != 2) {
            return std::unexpected(fail("unhandled security type " + std::to_string(chosen)));
        }
    } else {
        auto count = in.u8();
        if (!count) return std::unexpected(count.error());
        if (*count == 0) {
            auto reason = read_reason(in);
            if (!reason) return std::unexpected(reason.error());
            return std::unexpected(fail(std::move(*reason)));
        }
        std::vector<std::uint8_t> types(*count);
        if (auto r = in.read_exact(types); !r) return r;
        auto offered = [&](std::uint8_t t) { return std::ranges::find(types, t) != types.end(); };
        if (offered(1)) {
            chosen = 1;
        } else if (offered(2)) {
            chosen = 2;
        } else {
            return std::unexpected(fail("no supported VNC security type"));
        }
        std::array<std::uint8_t, 1> reply{chosen};
        if (auto r = out.write_all(reply); !r) return r;
    }
    if (chosen == 2) return vnc_authenticate(in, out, password);
    if (minor == 8) return read_security_result(in);
    return {};
}

}  // namespace

std::string decode_utf8_lossy(std::span<const std::uint8_t> s) {
    std::string out;
    out.reserve(s.size());
    while (!s.empty()) {
        std::size_t bad = 0, n = utf8_sequence(s, bad);
        if (n > 0) {
            out.append(reinterpret_cast<const char*>(s.data()), n);
            s = s.subspan(n);
        } else {
            out += "\xEF\xBF\xBD";
            s = s.subspan(bad);
        }
    }
    return out;
}

std::array<std::uint8_t, 16> vnc_auth_response(std::span<const std::uint8_t, 16> challenge,
                                               std::string_view password) {
    // The key is the first 8 password bytes, zero-padded, each with its bit order reversed: the
    // historic VNC quirk every server expects.
    DES_cblock key{};
    for (std::size_t i = 0; i < 8 && i < password.size(); ++i) {
        auto b = static_cast<std::uint8_t>(password[i]);
        std::uint8_t r = 0;
        for (int bit = 0; bit < 8; ++bit) {
            if (b & (1u << bit)) r = static_cast<std::uint8_t>(r | (0x80u >> bit));
        }
        key[i] = r;
    }
    std::array<std::uint8_t, 16> response{};
    // The low-level DES API is deprecated in OpenSSL 3 but, unlike DES through EVP, needs no
    // legacy provider to be present on the user's machine.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    DES_key_schedule schedule;
    DES_set_key_unchecked(&key, &schedule);
    for (std::size_t block = 0; block < 2; ++block) {
        DES_cblock in, out;
        std::copy_n(challenge.data() + 8 * block, 8, in);
        DES_ecb_encrypt(&in, &out, &schedule, DES_ENCRYPT);
        std::copy_n(out, 8, response.data() + 8 * block);
    }
#pragma GCC diagnostic pop
    return response;
}

RfbResult<ServerInit> run_handshake(RfbReader& in, ByteSource& out,
                                    const std::optional<std::string>& password) {
    std::array<std::uint8_t, 12> version_bytes{};
    if (auto r = in.read_exact(version_bytes); !r) return std::unexpected(r.error());
    auto version = parse_version(version_bytes);
    if (!version) return std::unexpected(fail("bad ProtocolVersion"));
    ServerInit init;
    init.minor = choose_minor(*version);
    std::string reply = "RFB 003.00" + std::to_string(init.minor) + "\n";
    if (auto r = out.write_all(std::span(reinterpret_cast<const std::uint8_t*>(reply.data()),
                                         reply.size()));
        !r) {
        return std::unexpected(r.error());
    }

    if (auto r = negotiate_security(in, out, init.minor, password); !r) {
        return std::unexpected(r.error());
    }

    // Shared: other viewers of the same desktop stay connected.
    std::array<std::uint8_t, 1> client_init{1};
    if (auto r = out.write_all(client_init); !r) return std::unexpected(r.error());

    std::array<std::uint8_t, 24> head{};
    if (auto r = in.read_exact(head); !r) return std::unexpected(r.error());
    init.width = static_cast<std::uint16_t>((head[0] << 8) | head[1]);
    init.height = static_cast<std::uint16_t>((head[2] << 8) | head[3]);
    std::uint32_t name_len = (std::uint32_t{head[20]} << 24) | (std::uint32_t{head[21]} << 16) |
                             (std::uint32_t{head[22]} << 8) | std::uint32_t{head[23]};
    if (name_len > kMaxNameBytes) {
        return std::unexpected(fail("RFB server name exceeds the 16 KiB limit"));
    }
    std::uint64_t area = std::uint64_t{init.width} * init.height;
    if (area == 0 || area > kMaxFramebufferPixels) {
        return std::unexpected(fail("RFB framebuffer dimensions exceed the 16 megapixel limit"));
    }
    std::vector<std::uint8_t> name(name_len);
    if (auto r = in.read_exact(name); !r) return std::unexpected(r.error());
    init.name = decode_utf8_lossy(name);

    init.format = kClientPixelFormat;
    if (auto r = out.write_all(encode_set_pixel_format(init.format)); !r) {
        return std::unexpected(r.error());
    }
    constexpr std::array<std::int32_t, 3> encodings{kEncodingRaw, kEncodingCopyRect, kEncodingRre};
    if (auto r = out.write_all(encode_set_encodings(encodings)); !r) {
        return std::unexpected(r.error());
    }
    return init;
}

}  // namespace remote
