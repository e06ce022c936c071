// Texts that come from the document or a peer: connection ids, endpoint ids, port texts, and the
// Unicode trimming and lower-casing applied to every stored name. Each parser must refuse or
// round-trip, and the text helpers must keep their invariants on any bytes.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "profiles/form.h"
#include "profiles/listing.h"
#include "profiles/unicode.h"
#include "profiles/uuid.h"
#include "vorn/ui/endpoint_id.h"

namespace {

void check(bool ok) {
    if (!ok) std::abort();
}

std::string ascii_lower(std::string_view s) {
    std::string out(s);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);

    if (const auto id = remote::Uuid::parse(text)) {
        const std::string printed = id->to_string();
        check(printed.size() == 36);
        check(remote::Uuid::parse(printed) == id);
    }

    if (const auto endpoint = vorn_ui::fabric::EndpointId::parse(text)) {
        check(endpoint->to_string() == ascii_lower(text));
    }

    if (const auto port = remote::parse_port(text)) check(*port != 0);

    const std::string_view trimmed = remote::trim_unicode(text);
    check(remote::trim_unicode(trimmed) == trimmed);
    const std::string lowered = remote::lower_unicode(text);
    check(remote::lower_unicode(lowered) == lowered);

    const std::string shortened = remote::short_endpoint_id(text);
    check(shortened == text || shortened.ends_with("…"));

    remote::ConnectionForm form = remote::new_form();
    form.name = std::string(text);
    form.host = std::string(text);
    form.port = std::string(text);
    remote::change_form_kind(form, remote::ConnectionKind::Vorn);
    (void)remote::validate_form(form);
    remote::ConnectionProfile profile = remote::profile_from_form(form, remote::Uuid());
    (void)remote::matches_search(profile, text);
    (void)remote::target_label(profile);
    return 0;
}
