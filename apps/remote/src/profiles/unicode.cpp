#include "profiles/unicode.h"

#include <algorithm>
#include <cstdint>
#include <iterator>

namespace remote {
namespace {

// Lower-casing uses the Unicode simple case mapping from a table generated once
// (gen_case_table.py) rather than towlower(): the C library's answer depends on the user's
// locale and on which locales are installed, and search and list order must not change with
// them. One code point always maps to one code point, so lengths stay predictable.
struct CaseRun {
    char32_t first;
    char32_t last;
    std::int32_t delta;
    std::uint32_t stride;
};

constexpr CaseRun kLowerRuns[] = {
#include "profiles/case_table.inc"
};

struct Decoded {
    char32_t code_point;  // meaningful only when valid
    std::size_t length;   // bytes consumed; 1 for an invalid byte
    bool valid;
};

Decoded decode_at(std::string_view text, std::size_t pos) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(pos);
    if (lead < 0x80) return {lead, 1, true};
    std::size_t length = 0;
    char32_t cp = 0;
    char32_t minimum = 0;
    if ((lead & 0xE0) == 0xC0) {
        length = 2, cp = lead & 0x1F, minimum = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3, cp = lead & 0x0F, minimum = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4, cp = lead & 0x07, minimum = 0x10000;
    } else {
        return {0, 1, false};
    }
    if (pos + length > text.size()) return {0, 1, false};
    for (std::size_t i = 1; i < length; ++i) {
        const unsigned char next = byte(pos + i);
        if ((next & 0xC0) != 0x80) return {0, 1, false};
        cp = (cp << 6) | (next & 0x3F);
    }
    if (cp < minimum || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return {0, 1, false};
    return {cp, length, true};
}

void append_utf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

// Length in bytes of the white-space code point that ends at `end`, or 0.
std::size_t white_space_before(std::string_view text, std::size_t end) {
    // A code point is at most 4 bytes; find a lead byte whose sequence ends exactly at `end`.
    for (std::size_t back = 1; back <= 4 && back <= end; ++back) {
        const Decoded d = decode_at(text, end - back);
        if (d.valid && d.length == back) return is_unicode_white_space(d.code_point) ? back : 0;
    }
    return 0;
}

}  // namespace

bool is_unicode_white_space(char32_t cp) {
    // The White_Space property: stable since Unicode 6.3.
    return (cp >= 0x09 && cp <= 0x0D) || cp == 0x20 || cp == 0x85 || cp == 0xA0 || cp == 0x1680 ||
           (cp >= 0x2000 && cp <= 0x200A) || cp == 0x2028 || cp == 0x2029 || cp == 0x202F ||
           cp == 0x205F || cp == 0x3000;
}

char32_t simple_lowercase(char32_t cp) {
    const auto* run = std::upper_bound(std::begin(kLowerRuns), std::end(kLowerRuns), cp,
                                       [](char32_t c, const CaseRun& r) { return c < r.first; });
    if (run == std::begin(kLowerRuns)) return cp;
    --run;
    if (cp > run->last || (cp - run->first) % run->stride != 0) return cp;
    return static_cast<char32_t>(static_cast<std::int32_t>(cp) + run->delta);
}

std::string_view trim_unicode(std::string_view text) {
    std::size_t begin = 0;
    while (begin < text.size()) {
        const Decoded d = decode_at(text, begin);
        if (!d.valid || !is_unicode_white_space(d.code_point)) break;
        begin += d.length;
    }
    std::size_t end = text.size();
    while (end > begin) {
        const std::size_t n = white_space_before(text, end);
        if (n == 0) break;
        end -= n;
    }
    return text.substr(begin, end - begin);
}

std::string lower_unicode(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t pos = 0; pos < text.size();) {
        const Decoded d = decode_at(text, pos);
        if (!d.valid) {
            out.push_back(text[pos]);
        } else if (d.code_point < 0x80) {
            const char c = text[pos];
            out.push_back(c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c);
        } else {
            append_utf8(out, simple_lowercase(d.code_point));
        }
        pos += d.length;
    }
    return out;
}

std::size_t utf8_prefix_bytes(std::string_view text, std::size_t characters) {
    std::size_t pos = 0;
    for (std::size_t n = 0; n < characters && pos < text.size(); ++n) {
        pos += decode_at(text, pos).length;
    }
    return pos;
}

}  // namespace remote
