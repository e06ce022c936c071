#include "vt/parser.h"

#include <algorithm>

namespace remote {

namespace {

constexpr std::uint8_t kCan = 0x18;
constexpr std::uint8_t kSub = 0x1A;
constexpr std::uint8_t kEsc = 0x1B;
constexpr std::uint8_t kBel = 0x07;
constexpr std::uint8_t kDel = 0x7F;
constexpr char32_t kReplacement = 0xFFFD;

constexpr bool in(std::uint8_t b, std::uint8_t lo, std::uint8_t hi) {
    return b >= lo && b <= hi;
}

// C0 controls that are executed (or ignored) in place; CAN, SUB and ESC are handled by the
// transitions that apply in every state.
constexpr bool is_c0(std::uint8_t b) {
    return b <= 0x17 || b == 0x19 || in(b, 0x1C, 0x1F);
}

constexpr bool is_printable_ascii(std::uint8_t b) {
    return in(b, 0x20, 0x7E);
}

}  // namespace

std::uint16_t ControlSequence::param(std::size_t index) const {
    std::size_t seen = 0;
    for (std::size_t i = 0; i < param_count; ++i) {
        if (is_sub(i)) continue;
        if (seen == index) return params[i];
        ++seen;
    }
    return 0;
}

void Parser::feed(std::span<const std::uint8_t> bytes, ParserActions& actions) {
    const std::uint8_t* p = bytes.data();
    const std::uint8_t* const end = p + bytes.size();
    while (p != end) {
        // Most output is plain text: hand whole runs of printable ASCII over in one call.
        if (state_ == State::Ground && utf8_need_ == 0 && is_printable_ascii(*p)) {
            const std::uint8_t* run = p;
            do {
                ++p;
            } while (p != end && is_printable_ascii(*p));
            actions.print_ascii({run, p});
            continue;
        }
        step(*p++, actions);
    }
}

void Parser::step(std::uint8_t b, ParserActions& a) {
    if (state_ == State::Ground) {
        ground(b, a);
        return;
    }
    if (anywhere(b, a)) return;
    // clang-format off
    switch (state_) {
        case State::Ground: break;
        case State::Escape: escape(b, a); break;
        case State::EscapeIntermediate: escape_intermediate(b, a); break;
        case State::CsiEntry: csi_entry(b, a); break;
        case State::CsiParam: csi_param(b, a); break;
        case State::CsiIntermediate: csi_intermediate(b, a); break;
        case State::CsiIgnore: csi_ignore(b, a); break;
        case State::DcsEntry: dcs_entry(b, a); break;
        case State::DcsParam: dcs_param(b, a); break;
        case State::DcsIntermediate: dcs_intermediate(b, a); break;
        case State::DcsPassthrough: dcs_passthrough(b, a); break;
        case State::DcsIgnore: dcs_ignore(b, a); break;
        case State::OscString: osc_string(b, a); break;
        case State::SosPmApcString: sos_pm_apc_string(b, a); break;
    }
    // clang-format on
}

// Transitions taken from every state but ground (which decodes UTF-8 first and handles these
// itself). Raw C1 bytes count only inside control sequences: in the string states a byte
// 0x80-0x9F is part of UTF-8 text (a title, say) and must not end the string.
bool Parser::anywhere(std::uint8_t b, ParserActions& a) {
    if (b == kCan || b == kSub) {
        transition(State::Ground, a);
        a.execute(b);
        return true;
    }
    if (b == kEsc) {
        transition(State::Escape, a);
        return true;
    }
    const bool string_state = state_ == State::OscString || state_ == State::DcsPassthrough ||
                              state_ == State::DcsIgnore || state_ == State::SosPmApcString;
    if (!string_state && in(b, 0x80, 0x9F)) {
        c1(b, a);
        return true;
    }
    return false;
}

// A C1 control, from a raw byte inside a sequence or decoded from UTF-8 in ground.
void Parser::c1(std::uint8_t c, ParserActions& a) {
    // clang-format off
    switch (c) {
        case 0x90: transition(State::DcsEntry, a); break;
        case 0x9B: transition(State::CsiEntry, a); break;
        case 0x9D: transition(State::OscString, a); break;
        case 0x98:
        case 0x9E:
        case 0x9F: transition(State::SosPmApcString, a); break;
        case 0x9C: transition(State::Ground, a); break;  // ST with nothing to terminate
        default:
            transition(State::Ground, a);
            a.execute(c);
            break;
    }
    // clang-format on
}

void Parser::transition(State next, ParserActions& a) {
    // exit action of the state being left
    if (state_ == State::OscString) {
        a.osc_dispatch({osc_.data(), osc_len_}, osc_truncated_);
    } else if (state_ == State::DcsPassthrough) {
        a.unhook();
    }
    state_ = next;
    // entry action of the state entered
    // clang-format off
    switch (next) {
        case State::Escape:
        case State::CsiEntry:
        case State::DcsEntry: clear(); break;
        case State::OscString:
            osc_len_ = 0;
            osc_truncated_ = false;
            break;
        case State::DcsPassthrough: a.hook(seq_); break;
        default: break;
    }
    // clang-format on
}

// ---- ground -------------------------------------------------------------------------------

void Parser::ground(std::uint8_t b, ParserActions& a) {
    if (utf8_need_ != 0) {
        if (in(b, utf8_lo_, utf8_hi_)) {
            utf8(b, a);
            return;
        }
        // The character was cut short: it shows as one replacement, and this byte starts afresh.
        utf8_need_ = 0;
        a.print(kReplacement);
    }
    if (b == kEsc) {
        transition(State::Escape, a);
    } else if (b < 0x20) {
        a.execute(b);  // every C0 control, CAN and SUB included, is executed in ground
    } else if (b < kDel) {
        const std::uint8_t one[1] = {b};
        a.print_ascii(one);
    } else if (b == kDel) {
        // DEL is padding, not a character
    } else {
        utf8(b, a);
    }
}

void Parser::utf8(std::uint8_t b, ParserActions& a) {
    if (utf8_need_ != 0) {
        utf8_cp_ = (utf8_cp_ << 6) | (b & 0x3FU);
        utf8_lo_ = 0x80;
        utf8_hi_ = 0xBF;
        if (--utf8_need_ != 0) return;
        if (utf8_cp_ >= 0x80 && utf8_cp_ <= 0x9F) {
            c1(static_cast<std::uint8_t>(utf8_cp_), a);
        } else {
            a.print(utf8_cp_);
        }
        return;
    }
    utf8_lo_ = 0x80;
    utf8_hi_ = 0xBF;
    if (in(b, 0xC2, 0xDF)) {
        utf8_need_ = 1;
        utf8_cp_ = b & 0x1FU;
    } else if (in(b, 0xE0, 0xEF)) {
        utf8_need_ = 2;
        utf8_cp_ = b & 0x0FU;
        if (b == 0xE0) utf8_lo_ = 0xA0;  // no overlong forms
        if (b == 0xED) utf8_hi_ = 0x9F;  // no surrogates
    } else if (in(b, 0xF0, 0xF4)) {
        utf8_need_ = 3;
        utf8_cp_ = b & 0x07U;
        if (b == 0xF0) utf8_lo_ = 0x90;  // no overlong forms
        if (b == 0xF4) utf8_hi_ = 0x8F;  // nothing past U+10FFFF
    } else {
        a.print(kReplacement);  // a stray continuation byte or a byte that never starts one
    }
}

// ---- escape -------------------------------------------------------------------------------

void Parser::escape(std::uint8_t b, ParserActions& a) {
    b &= 0x7F;  // bytes 0xA0-0xFF act as their 7-bit counterparts inside a sequence
    if (is_c0(b)) {
        a.execute(b);
    } else if (in(b, 0x20, 0x2F)) {
        collect(b);
        transition(State::EscapeIntermediate, a);
    } else if (b == '[') {
        transition(State::CsiEntry, a);
    } else if (b == ']') {
        transition(State::OscString, a);
    } else if (b == 'P') {
        transition(State::DcsEntry, a);
    } else if (b == 'X' || b == '^' || b == '_') {
        transition(State::SosPmApcString, a);
    } else if (b != kDel) {
        esc_dispatch(b, a);
    }
}

void Parser::escape_intermediate(std::uint8_t b, ParserActions& a) {
    b &= 0x7F;
    if (is_c0(b)) {
        a.execute(b);
    } else if (in(b, 0x20, 0x2F)) {
        collect(b);
    } else if (b != kDel) {
        esc_dispatch(b, a);
    }
}

// ---- CSI ----------------------------------------------------------------------------------

void Parser::csi_entry(std::uint8_t b, ParserActions& a) {
    b &= 0x7F;
    if (is_c0(b)) {
        a.execute(b);
    } else if (in(b, 0x20, 0x2F)) {
        collect(b);
        transition(State::CsiIntermediate, a);
    } else if (in(b, '0', '9')) {
        param_digit(b);
        transition(State::CsiParam, a);
    } else if (b == ';' || b == ':') {
        param_separator(b);
        transition(State::CsiParam, a);
    } else if (in(b, 0x3C, 0x3F)) {
        collect(b);  // private marker
        transition(State::CsiParam, a);
    } else if (b != kDel) {
        csi_dispatch(b, a);
    }
}

void Parser::csi_param(std::uint8_t b, ParserActions& a) {
    b &= 0x7F;
    if (is_c0(b)) {
        a.execute(b);
    } else if (in(b, '0', '9')) {
        param_digit(b);
    } else if (b == ';' || b == ':') {
        param_separator(b);
    } else if (in(b, 0x3C, 0x3F)) {
        transition(State::CsiIgnore, a);  // a marker after parameters is malformed
    } else if (in(b, 0x20, 0x2F)) {
        collect(b);
        transition(State::CsiIntermediate, a);
    } else if (b != kDel) {
        csi_dispatch(b, a);
    }
}

void Parser::csi_intermediate(std::uint8_t b, ParserActions& a) {
    b &= 0x7F;
    if (is_c0(b)) {
        a.execute(b);
    } else if (in(b, 0x20, 0x2F)) {
        collect(b);
    } else if (in(b, 0x30, 0x3F)) {
        transition(State::CsiIgnore, a);
    } else if (b != kDel) {
        csi_dispatch(b, a);
    }
}

void Parser::csi_ignore(std::uint8_t b, ParserActions& a) {
    b &= 0x7F;
    if (is_c0(b)) {
        a.execute(b);
    } else if (in(b, 0x40, 0x7E)) {
        transition(State::Ground, a);
    }
}

// ---- DCS ----------------------------------------------------------------------------------

void Parser::dcs_entry(std::uint8_t b, ParserActions& a) {
    b &= 0x7F;
    if (in(b, 0x20, 0x2F)) {
        collect(b);
        transition(State::DcsIntermediate, a);
    } else if (in(b, '0', '9')) {
        param_digit(b);
        transition(State::DcsParam, a);
    } else if (b == ';' || b == ':') {
        param_separator(b);
        transition(State::DcsParam, a);
    } else if (in(b, 0x3C, 0x3F)) {
        collect(b);
        transition(State::DcsParam, a);
    } else if (in(b, 0x40, 0x7E)) {
        close_params();
        seq_.final = b;
        transition(State::DcsPassthrough, a);
    }
    // C0 controls and DEL are ignored while the DCS header is read
}

void Parser::dcs_param(std::uint8_t b, ParserActions& a) {
    b &= 0x7F;
    if (in(b, '0', '9')) {
        param_digit(b);
    } else if (b == ';' || b == ':') {
        param_separator(b);
    } else if (in(b, 0x3C, 0x3F)) {
        transition(State::DcsIgnore, a);
    } else if (in(b, 0x20, 0x2F)) {
        collect(b);
        transition(State::DcsIntermediate, a);
    } else if (in(b, 0x40, 0x7E)) {
        close_params();
        seq_.final = b;
        transition(State::DcsPassthrough, a);
    }
}

void Parser::dcs_intermediate(std::uint8_t b, ParserActions& a) {
    b &= 0x7F;
    if (in(b, 0x20, 0x2F)) {
        collect(b);
    } else if (in(b, 0x30, 0x3F)) {
        transition(State::DcsIgnore, a);
    } else if (in(b, 0x40, 0x7E)) {
        close_params();
        seq_.final = b;
        transition(State::DcsPassthrough, a);
    }
}

void Parser::dcs_passthrough(std::uint8_t b, ParserActions& a) {
    if (b != kDel) a.put(b);
}

void Parser::dcs_ignore(std::uint8_t, ParserActions&) {}

// ---- strings ------------------------------------------------------------------------------

void Parser::osc_string(std::uint8_t b, ParserActions& a) {
    if (b == kBel) {
        transition(State::Ground, a);  // BEL ends an OSC string as ST does
    } else if (b >= 0x20 && b != kDel) {
        if (osc_len_ < osc_.size()) {
            osc_[osc_len_++] = b;
        } else {
            osc_truncated_ = true;
        }
    }
}

void Parser::sos_pm_apc_string(std::uint8_t, ParserActions&) {}

// ---- collecting ---------------------------------------------------------------------------

void Parser::clear() {
    seq_.sub_mask = 0;
    seq_.param_count = 0;
    seq_.intermediate_count = 0;
    seq_.overlong = false;
    seq_.final = 0;
    in_param_ = false;
    param_kept_ = false;
    separator_pending_ = false;
    next_is_sub_ = false;
}

void Parser::collect(std::uint8_t b) {
    if (seq_.intermediate_count < seq_.intermediates.size()) {
        seq_.intermediates[seq_.intermediate_count++] = b;
    } else {
        seq_.overlong = true;
    }
}

void Parser::open_param() {
    if (seq_.param_count < seq_.params.size()) {
        seq_.params[seq_.param_count] = 0;
        if (next_is_sub_) seq_.sub_mask |= 1U << seq_.param_count;
        ++seq_.param_count;
        param_kept_ = true;
    } else {
        seq_.overlong = true;
        param_kept_ = false;
    }
    in_param_ = true;
    separator_pending_ = false;
    next_is_sub_ = false;
}

void Parser::param_digit(std::uint8_t b) {
    if (!in_param_) open_param();
    if (!param_kept_) return;
    std::uint16_t& v = seq_.params[seq_.param_count - 1];
    const unsigned next = v * 10U + (b - '0');
    v = static_cast<std::uint16_t>(std::min<unsigned>(next, ControlSequence::kMaxParamValue));
}

void Parser::param_separator(std::uint8_t b) {
    if (!in_param_) open_param();  // the parameter before the separator was empty
    in_param_ = false;
    separator_pending_ = true;
    next_is_sub_ = b == ':';
}

// A separator with nothing after it still ends an (empty) parameter: "1;" is two parameters.
void Parser::close_params() {
    if (separator_pending_) open_param();
    in_param_ = false;
}

void Parser::csi_dispatch(std::uint8_t final, ParserActions& a) {
    close_params();
    seq_.final = final;
    transition(State::Ground, a);
    a.csi_dispatch(seq_);
}

void Parser::esc_dispatch(std::uint8_t final, ParserActions& a) {
    seq_.final = final;
    transition(State::Ground, a);
    a.esc_dispatch(seq_);
}

}  // namespace remote
