#include "vt/parser.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace remote {
namespace {

std::span<const std::uint8_t> bytes_of(std::string_view s) {
    return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()};
}

std::string hex(unsigned v) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%02x", v);
    return buf;
}

// Writes every action as text. Printed characters are merged into one "..." entry whatever
// calls delivered them, so logs compare equal across chunkings; non-ASCII shows as {hex}.
class Recorder final : public ParserActions {
  public:
    std::string log;

    void print(char32_t ch) override {
        if (ch < 0x80) {
            text_ += static_cast<char>(ch);
        } else {
            text_ += "{" + hex(static_cast<unsigned>(ch)) + "}";
        }
    }
    void print_ascii(std::span<const std::uint8_t> run) override {
        for (std::uint8_t b : run) {
            EXPECT_TRUE(b >= 0x20 && b <= 0x7E) << "print_ascii got " << hex(b);
            text_ += static_cast<char>(b);
        }
    }
    void execute(std::uint8_t c) override { add("EXEC" + hex(c)); }
    void csi_dispatch(const ControlSequence& s) override { add("CSI" + describe(s)); }
    void esc_dispatch(const ControlSequence& s) override { add("ESC" + describe(s)); }
    void osc_dispatch(std::span<const std::uint8_t> d, bool truncated) override {
        add("OSC<" + std::string(d.begin(), d.end()) + ">" + (truncated ? "+" : ""));
    }
    void hook(const ControlSequence& s) override { add("HOOK" + describe(s)); }
    void put(std::uint8_t b) override { puts_ += static_cast<char>(b); }
    void unhook() override { add("UNHOOK"); }

    std::string finish() {
        flush();
        return log;
    }

  private:
    static std::string describe(const ControlSequence& s) {
        std::string out(s.intermediates.begin(), s.intermediates.begin() + s.intermediate_count);
        out += "|";
        for (std::size_t i = 0; i < s.param_count; ++i) {
            if (i > 0) out += s.is_sub(i) ? ":" : ";";
            out += std::to_string(s.params[i]);
        }
        out += "|";
        out += static_cast<char>(s.final);
        if (s.overlong) out += "!";
        return out;
    }
    void flush() {
        if (!text_.empty()) add_raw("\"" + text_ + "\"");
        text_.clear();
        if (!puts_.empty()) add_raw("PUT<" + puts_ + ">");
        puts_.clear();
    }
    void add(const std::string& entry) {
        flush();
        add_raw(entry);
    }
    void add_raw(const std::string& entry) {
        if (!log.empty()) log += " ";
        log += entry;
    }

    std::string text_;
    std::string puts_;
};

std::string parse(std::string_view input) {
    Parser parser;
    Recorder rec;
    parser.feed(bytes_of(input), rec);
    return rec.finish();
}

struct Case {
    const char* name;
    std::string input;
    std::string expected;
};

TEST(Parser, ActionsFromTheStateTable) {
    const std::vector<Case> cases = {
        {"text and C0 controls", "ab\r\ncd\a", "\"ab\" EXEC0d EXEC0a \"cd\" EXEC07"},
        {"DEL is padding",
         "a\x7f"
         "b",
         "\"ab\""},
        {"CSI without parameters", "\x1b[m", "CSI||m"},
        {"CSI parameters", "\x1b[12;34H", "CSI|12;34|H"},
        {"empty parameters read 0", "\x1b[;5H\x1b[1;m", "CSI|0;5|H CSI|1;0|m"},
        {"sub-parameters", "\x1b[38:2:1:2:3;1m", "CSI|38:2:1:2:3;1|m"},
        {"leading colon is an empty parameter", "\x1b[:5m", "CSI|0:5|m"},
        {"private marker collected", "\x1b[?1049h", "CSI?|1049|h"},
        {"intermediate before final", "\x1b[2 q", "CSI |2|q"},
        {"marker after a parameter is malformed", "\x1b[1?2Jx", "\"x\""},
        {"20-digit parameter saturates", "\x1b[99999999999999999999A", "CSI|65535|A"},
        {"C0 inside CSI executes in place", "\x1b[1\n2A", "EXEC0a CSI|12|A"},
        {"CAN cancels a sequence",
         "\x1b[1\x18"
         "A",
         "EXEC18 \"A\""},
        {"SUB cancels a sequence",
         "\x1b[1\x1a"
         "A",
         "EXEC1a \"A\""},
        {"ESC restarts a sequence", "\x1b[1\x1b[2A", "CSI|2|A"},
        {"ESC dispatch",
         "\x1b"
         "7\x1b(B",
         "ESC||7 ESC(||B"},
        {"OSC ended by BEL", "\x1b]0;title\ax", "OSC<0;title> \"x\""},
        {"OSC ended by ST", "\x1b]2;t\x1b\\x", "OSC<2;t> ESC||\\ \"x\""},
        // 0x9C is a continuation byte here (U+015C), not a string terminator
        {"OSC keeps UTF-8 with C1-valued bytes", "\x1b]0;\xc5\x9c\xc5\x99\a",
         "OSC<0;\xc5\x9c\xc5\x99>"},
        {"DCS hook put unhook", "\x1bP1$qm\x1b\\", "HOOK$|1|q PUT<m> UNHOOK ESC||\\"},
        {"DCS with bad header is ignored", "\x1bP1?2q data\x1b\\z", "ESC||\\ \"z\""},
        {"APC string is dropped", "\x1b_payload\x1b\\z", "ESC||\\ \"z\""},
        {"UTF-8 two to four bytes", "\xc3\xa9\xe4\xb8\xad\xf0\x9f\x98\x80",
         "\"{e9}{4e2d}{1f600}\""},
        {"cut-short UTF-8 then ASCII", "\xc3(", "\"{fffd}(\""},
        {"overlong form", "\xc0\xaf", "\"{fffd}{fffd}\""},
        {"surrogate", "\xed\xa0\x80", "\"{fffd}{fffd}{fffd}\""},
        {"past U+10FFFF", "\xf4\x90\x80\x80", "\"{fffd}{fffd}{fffd}{fffd}\""},
        {"stray continuation and bad lead bytes", "\x80\xff", "\"{fffd}{fffd}\""},
        {"UTF-8 cut by ESC", "\xe2\x82\x1b[A", "\"{fffd}\" CSI||A"},
        {"C1 CSI written as UTF-8",
         "\xc2\x9b"
         "1A",
         "CSI|1|A"},
        {"C1 control written as UTF-8 executes", "\xc2\x85", "EXEC85"},
        {"raw C1 byte in text is invalid UTF-8",
         "\x9b"
         "1A",
         "\"{fffd}1A\""},
        {"raw C1 inside a sequence",
         "\x1b[1\x9b"
         "2A",
         "CSI|2|A"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(parse(c.input), c.expected) << c.name;
    }
}

TEST(Parser, TooManyParametersAreDroppedAndFlagged) {
    std::string input = "\x1b[";
    for (int i = 1; i <= 40; ++i) input += std::to_string(i) + ";";
    input += "m";
    Parser parser;
    struct Last final : ParserActions {
        ControlSequence seq;
        void print(char32_t) override {}
        void print_ascii(std::span<const std::uint8_t>) override {}
        void execute(std::uint8_t) override {}
        void csi_dispatch(const ControlSequence& s) override { seq = s; }
        void esc_dispatch(const ControlSequence&) override {}
        void osc_dispatch(std::span<const std::uint8_t>, bool) override {}
        void hook(const ControlSequence&) override {}
        void put(std::uint8_t) override {}
        void unhook() override {}
    } last;
    parser.feed(bytes_of(input), last);
    EXPECT_EQ(last.seq.param_count, ControlSequence::kMaxParams);
    EXPECT_TRUE(last.seq.overlong);
    EXPECT_EQ(last.seq.params[0], 1);
    EXPECT_EQ(last.seq.params[31], 32);
    EXPECT_EQ(last.seq.final, 'm');
}

TEST(Parser, OscStringIsCappedAndStillEnds) {
    const std::string body(3000, 'x');
    const std::string log = parse("\x1b]0;" + body + "\ay");
    EXPECT_EQ(log, "OSC<0;" + std::string(1022, 'x') + ">+ \"y\"");
}

// Inputs that exercise every state, cut at every position (and byte by byte): the actions must
// not depend on where a chunk ends.
const std::vector<std::string>& split_corpora() {
    static const std::vector<std::string> corpora = {
        "plain \x1b[1;31mred\x1b[0m and \x1b[?25l\x1b[10;20H\r\n\t|",
        "\xc3\xa9t\xc3\xa9 \xe4\xb8\xad\xe6\x96\x87 \xf0\x9f\x98\x80 \xc3( \xed\xa0\x80 \xc2\x9b"
        "2J",
        "\x1b]0;t\xc5\x9ctle\a\x1bP1$qm\x1b\\\x1b_apc\x1b\\\x1b[38:2:1:2:3m\x1b"
        "7\x1b(B\x18\x1a",
        "\x1b[1\n2A\x1b[1\x1b[2B\x1b[99999999999999999999C\x7f\x80\xff\x1b[1\x9b"
        "3D",
    };
    return corpora;
}

TEST(Parser, ChunkBoundariesDoNotChangeActions) {
    for (const std::string& input : split_corpora()) {
        const std::string whole = parse(input);
        for (std::size_t cut = 0; cut <= input.size(); ++cut) {
            Parser parser;
            Recorder rec;
            parser.feed(bytes_of(std::string_view(input).substr(0, cut)), rec);
            parser.feed(bytes_of(std::string_view(input).substr(cut)), rec);
            ASSERT_EQ(rec.finish(), whole) << "cut at " << cut << " of " << input;
        }
        Parser parser;
        Recorder rec;
        for (char ch : input) parser.feed(bytes_of(std::string_view(&ch, 1)), rec);
        EXPECT_EQ(rec.finish(), whole) << "byte by byte: " << input;
    }
}

}  // namespace
}  // namespace remote
