#pragma once
// Escape-sequence parser: splits a terminal byte stream into printable characters, controls and
// control sequences, following the DEC-compatible VT500-series state machine, with UTF-8 text.
// Not thread-safe; one parser belongs to one byte stream and is driven by one thread.

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace remote {

// A complete ESC, CSI or DCS sequence as the parser collected it. Parameters and intermediates
// are bounded; whatever does not fit is dropped and `overlong` is set.
struct ControlSequence {
    static constexpr std::size_t kMaxParams = 32;
    static constexpr std::size_t kMaxIntermediates = 4;
    static constexpr std::uint16_t kMaxParamValue = 65535;  // larger numbers saturate here

    // Values in order; an empty parameter reads 0. A value that followed ':' is a sub-parameter
    // of the parameter before it and has its bit set in `sub_mask`.
    std::array<std::uint16_t, kMaxParams> params{};
    std::uint32_t sub_mask = 0;
    std::uint8_t param_count = 0;
    // Intermediate bytes (0x20-0x2F) and private markers (0x3C-0x3F), in order of arrival.
    std::array<std::uint8_t, kMaxIntermediates> intermediates{};
    std::uint8_t intermediate_count = 0;
    bool overlong = false;
    std::uint8_t final = 0;

    [[nodiscard]] bool is_sub(std::size_t i) const { return ((sub_mask >> i) & 1U) != 0; }
    // The first value of the index-th parameter, counting parameters but not sub-parameters;
    // 0 when there is no such parameter.
    [[nodiscard]] std::uint16_t param(std::size_t index) const;
};

// What the parser emits. The executor behind a terminal implements these; the parser never
// looks at what they do.
class ParserActions {
  public:
    // One character: a Unicode scalar value, U+FFFD for invalid UTF-8.
    virtual void print(char32_t ch) = 0;
    // A run of printable ASCII (0x20-0x7E); the same as print for each byte, in one call.
    virtual void print_ascii(std::span<const std::uint8_t> run) = 0;
    // A C0 control, or a C1 control as its value 0x80-0x9F.
    virtual void execute(std::uint8_t control) = 0;
    virtual void csi_dispatch(const ControlSequence& seq) = 0;
    virtual void esc_dispatch(const ControlSequence& seq) = 0;
    // The OSC string's first bytes (at most Parser::kOscCapacity); `truncated` if there were more.
    virtual void osc_dispatch(std::span<const std::uint8_t> data, bool truncated) = 0;
    virtual void hook(const ControlSequence& seq) = 0;
    virtual void put(std::uint8_t byte) = 0;
    virtual void unhook() = 0;

  protected:
    ~ParserActions() = default;
};

class Parser {
  public:
    static constexpr std::size_t kOscCapacity = 1024;

    // Runs the state machine over one chunk. All state (a half-read sequence, a UTF-8 character
    // cut by the chunk's end) carries over to the next call; no allocation happens here.
    void feed(std::span<const std::uint8_t> bytes, ParserActions& actions);

  private:
    enum class State : std::uint8_t {
        Ground,
        Escape,
        EscapeIntermediate,
        CsiEntry,
        CsiParam,
        CsiIntermediate,
        CsiIgnore,
        DcsEntry,
        DcsParam,
        DcsIntermediate,
        DcsPassthrough,
        DcsIgnore,
        OscString,
        SosPmApcString,
    };

    void step(std::uint8_t b, ParserActions& a);
    bool anywhere(std::uint8_t b, ParserActions& a);
    void c1(std::uint8_t c, ParserActions& a);
    void transition(State next, ParserActions& a);

    void ground(std::uint8_t b, ParserActions& a);
    void utf8(std::uint8_t b, ParserActions& a);
    void escape(std::uint8_t b, ParserActions& a);
    void escape_intermediate(std::uint8_t b, ParserActions& a);
    void csi_entry(std::uint8_t b, ParserActions& a);
    void csi_param(std::uint8_t b, ParserActions& a);
    void csi_intermediate(std::uint8_t b, ParserActions& a);
    void csi_ignore(std::uint8_t b, ParserActions& a);
    void dcs_entry(std::uint8_t b, ParserActions& a);
    void dcs_param(std::uint8_t b, ParserActions& a);
    void dcs_intermediate(std::uint8_t b, ParserActions& a);
    void dcs_passthrough(std::uint8_t b, ParserActions& a);
    void dcs_ignore(std::uint8_t b, ParserActions& a);
    void osc_string(std::uint8_t b, ParserActions& a);
    void sos_pm_apc_string(std::uint8_t b, ParserActions& a);

    void clear();
    void collect(std::uint8_t b);
    void param_digit(std::uint8_t b);
    void param_separator(std::uint8_t b);
    void open_param();
    void close_params();
    void csi_dispatch(std::uint8_t final, ParserActions& a);
    void esc_dispatch(std::uint8_t final, ParserActions& a);

    State state_ = State::Ground;
    ControlSequence seq_;
    bool in_param_ = false;    // digits go to the last opened parameter
    bool param_kept_ = false;  // that parameter fitted into `params`
    bool separator_pending_ = false;
    bool next_is_sub_ = false;

    std::array<std::uint8_t, kOscCapacity> osc_{};
    std::size_t osc_len_ = 0;
    bool osc_truncated_ = false;

    // A UTF-8 character in progress: bytes still needed, the value so far and the range the
    // next byte must fall in (narrowed after some lead bytes to refuse overlong forms,
    // surrogates and values past U+10FFFF).
    std::uint8_t utf8_need_ = 0;
    std::uint8_t utf8_lo_ = 0x80;
    std::uint8_t utf8_hi_ = 0xBF;
    char32_t utf8_cp_ = 0;
};

}  // namespace remote
