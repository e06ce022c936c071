#include "vorn/ui/widgets/text_input.h"

#include <algorithm>
#include <cmath>
#include <mutex>

namespace vorn_ui::widget::text_input {
namespace {

// Used until the platform installs the system clipboard, and in tests.
class LocalClipboard final : public Clipboard {
  public:
    std::string text() const override {
        std::lock_guard lock(mutex_);
        return text_;
    }
    void set_text(std::string_view text) override {
        std::lock_guard lock(mutex_);
        text_ = std::string(text);
    }

  private:
    mutable std::mutex mutex_;
    std::string text_;
};

std::mutex clipboard_mutex;
Clipboard* installed_clipboard = nullptr;

Clipboard& clipboard() {
    static LocalClipboard local;
    std::lock_guard lock(clipboard_mutex);
    return installed_clipboard ? *installed_clipboard : local;
}

bool is_continuation(char c) {
    return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

std::size_t snap_back(std::string_view s, std::size_t pos) {
    pos = std::min(pos, s.size());
    while (pos > 0 && pos < s.size() && is_continuation(s[pos])) --pos;
    return pos;
}

std::size_t prev_boundary(std::string_view s, std::size_t pos) {
    if (pos == 0) return 0;
    --pos;
    while (pos > 0 && is_continuation(s[pos])) --pos;
    return pos;
}

std::size_t next_boundary(std::string_view s, std::size_t pos) {
    if (pos >= s.size()) return s.size();
    ++pos;
    while (pos < s.size() && is_continuation(s[pos])) ++pos;
    return pos;
}

// Word moves skip spaces, then everything up to the next space: simple, and
// right for host names, paths and user names, which is what fields hold.
std::size_t prev_word(std::string_view s, std::size_t pos) {
    while (pos > 0 && s[pos - 1] == ' ') pos = prev_boundary(s, pos);
    while (pos > 0 && s[pos - 1] != ' ') pos = prev_boundary(s, pos);
    return pos;
}

std::size_t next_word(std::string_view s, std::size_t pos) {
    while (pos < s.size() && s[pos] == ' ') pos = next_boundary(s, pos);
    while (pos < s.size() && s[pos] != ' ') pos = next_boundary(s, pos);
    return pos;
}

// Length of the well-formed UTF-8 sequence at the start of `s`, or 0.
std::size_t sequence_length(std::string_view s) {
    auto b = [&](std::size_t i) { return static_cast<unsigned char>(s[i]); };
    unsigned char c = b(0);
    if (c < 0x80) return 1;
    std::size_t len = c >= 0xC2 && c <= 0xDF   ? 2
                      : c >= 0xE0 && c <= 0xEF ? 3
                      : c >= 0xF0 && c <= 0xF4 ? 4
                                               : 0;
    if (len == 0 || s.size() < len) return 0;
    // Second-byte ranges rule out overlong forms, surrogates and code points
    // above U+10FFFF.
    unsigned char lo = c == 0xE0 ? 0xA0 : c == 0xF0 ? 0x90 : 0x80;
    unsigned char hi = c == 0xED ? 0x9F : c == 0xF4 ? 0x8F : 0xBF;
    if (b(1) < lo || b(1) > hi) return 0;
    for (std::size_t i = 2; i < len; ++i) {
        if ((b(i) & 0xC0) != 0x80) return 0;
    }
    return len;
}

// The text as well-formed UTF-8: each malformed byte becomes U+FFFD, so caret
// positions always fall between whole characters.
std::string well_formed(std::string_view in) {
    std::string out;
    out.reserve(in.size());
    while (!in.empty()) {
        std::size_t len = sequence_length(in);
        if (len == 0) {
            out += "\xEF\xBF\xBD";
            len = 1;
        } else {
            out.append(in.substr(0, len));
        }
        in.remove_prefix(len);
    }
    return out;
}

// A single-line field: line breaks and tabs become spaces, other control
// characters are dropped, so pasted or committed text can never smuggle
// terminal controls or extra lines into what the owner reads back.
std::string single_line(std::string_view raw) {
    std::string in = well_formed(raw);
    std::string out;
    out.reserve(in.size());
    for (std::size_t i = 0; i < in.size(); ++i) {
        char c = in[i];
        auto u = static_cast<unsigned char>(c);
        if (c == '\n' || c == '\r' || c == '\t') {
            out.push_back(' ');
        } else if (u == 0xC2 && i + 1 < in.size() && static_cast<unsigned char>(in[i + 1]) < 0xA0) {
            ++i;  // a C1 control (U+0080..U+009F)
        } else if (u >= 0x20 && u != 0x7F) {
            out.push_back(c);
        }
    }
    return out;
}

bool is_char(const KeyEvent& key, char lower) {
    const std::string* ch = key.character();
    if (!ch || ch->size() != 1) return false;
    char c = (*ch)[0];
    return c == lower || c == lower - 'a' + 'A';
}

}  // namespace

void install_clipboard(Clipboard* c) {
    std::lock_guard lock(clipboard_mutex);
    installed_clipboard = c;
}

TextInput TextInput::with_placeholder(std::string placeholder) {
    TextInput input;
    input.placeholder_ = std::move(placeholder);
    return input;
}

TextInput&& TextInput::local() && {
    local_ = true;
    return std::move(*this);
}

void TextInput::set_text(std::string_view text) {
    text_ = well_formed(text);
    cursor_ = anchor_ = text_.size();
}

void TextInput::set_cursor_pos(std::size_t byte_offset) {
    cursor_ = anchor_ = snap_back(text_, byte_offset);
}

void TextInput::set_placeholder(std::string placeholder) {
    placeholder_ = std::move(placeholder);
}

namespace {

struct Editing {
    std::string& text;
    std::size_t& cursor;
    std::size_t& anchor;

    bool has_selection() const { return cursor != anchor; }
    std::size_t lo() const { return std::min(cursor, anchor); }
    std::size_t hi() const { return std::max(cursor, anchor); }
    std::string selected() const { return text.substr(lo(), hi() - lo()); }

    void erase_selection() {
        std::size_t l = lo();
        text.erase(l, hi() - l);
        cursor = anchor = l;
    }
    void insert(std::string_view s) {
        if (has_selection()) erase_selection();
        text.insert(cursor, s);
        cursor += s.size();
        anchor = cursor;
    }
    void move_to(std::size_t pos, bool extend) {
        cursor = pos;
        if (!extend) anchor = pos;
    }
};

}  // namespace

bool TextInput::handle_event(const InputEvent& event, const Rect& bounds) {
    Editing ed{text_, cursor_, anchor_};
    TextRenderer renderer;
    auto offset_at = [&](double x) {
        // The boundary whose caret position is nearest to x.
        double local = x - (bounds.x0 + drawn_padding_x_) + scroll_x_;
        std::size_t best = 0;
        double best_dist = std::abs(local);
        for (std::size_t pos = 0; pos < text_.size();) {
            pos = next_boundary(text_, pos);
            double d = std::abs(
                local - renderer.measure(std::string_view(text_).substr(0, pos), drawn_size_pt_));
            if (d < best_dist) {
                best = pos;
                best_dist = d;
            }
        }
        return best;
    };

    if (const auto* key = std::get_if<KeyEvent>(&event)) {
        if (!key->pressed) return false;
        const Modifiers& m = key->modifiers;
        if (const NamedKey* named = key->named()) {
            switch (*named) {
                case NamedKey::ArrowLeft:
                    if (ed.has_selection() && !m.shift && !m.control) {
                        ed.move_to(ed.lo(), false);
                    } else {
                        ed.move_to(
                            m.control ? prev_word(text_, cursor_) : prev_boundary(text_, cursor_),
                            m.shift);
                    }
                    return true;
                case NamedKey::ArrowRight:
                    if (ed.has_selection() && !m.shift && !m.control) {
                        ed.move_to(ed.hi(), false);
                    } else {
                        ed.move_to(
                            m.control ? next_word(text_, cursor_) : next_boundary(text_, cursor_),
                            m.shift);
                    }
                    return true;
                case NamedKey::Home:
                    ed.move_to(0, m.shift);
                    return true;
                case NamedKey::End:
                    ed.move_to(text_.size(), m.shift);
                    return true;
                case NamedKey::Backspace:
                    if (ed.has_selection()) {
                        ed.erase_selection();
                    } else if (cursor_ > 0) {
                        std::size_t from =
                            m.control ? prev_word(text_, cursor_) : prev_boundary(text_, cursor_);
                        text_.erase(from, cursor_ - from);
                        cursor_ = anchor_ = from;
                    }
                    return true;
                case NamedKey::Delete:
                    if (ed.has_selection()) {
                        ed.erase_selection();
                    } else if (cursor_ < text_.size()) {
                        text_.erase(cursor_, next_boundary(text_, cursor_) - cursor_);
                    }
                    return true;
                case NamedKey::Space:
                    if (m.control || m.alt || m.super) return false;
                    ed.insert(" ");
                    return true;
                default:
                    return false;
            }
        }
        if (m.control && !m.alt && !m.super) {
            if (is_char(*key, 'a')) {
                anchor_ = 0;
                cursor_ = text_.size();
                return true;
            }
            if (is_char(*key, 'c') || is_char(*key, 'x')) {
                if (!ed.has_selection()) return true;
                clipboard().set_text(ed.selected());
                if (is_char(*key, 'x')) ed.erase_selection();
                return true;
            }
            if (is_char(*key, 'v')) {
                std::string pasted = single_line(clipboard().text());
                if (!pasted.empty() || ed.has_selection()) ed.insert(pasted);
                return true;
            }
            return false;
        }
        if (m.control || m.alt || m.super) return false;
        std::string typed = single_line(key->text);
        if (typed.empty()) return false;
        ed.insert(typed);
        return true;
    }
    if (const auto* ime = std::get_if<ImeCommit>(&event)) {
        std::string typed = single_line(ime->text);
        if (typed.empty()) return false;
        ed.insert(typed);
        return true;
    }
    if (const auto* button = std::get_if<PointerButtonEvent>(&event)) {
        if (button->button != PointerButton::Primary) return false;
        if (!button->pressed) {
            bool was = dragging_;
            dragging_ = false;
            return was;
        }
        if (!bounds.contains(button->position)) {
            dragging_ = false;
            return false;
        }
        if (button->click_count >= 2) {
            anchor_ = 0;
            cursor_ = text_.size();
            dragging_ = false;
            return true;
        }
        ed.move_to(offset_at(button->position.x), button->modifiers.shift);
        dragging_ = true;
        return true;
    }
    if (const auto* move = std::get_if<PointerMove>(&event)) {
        if (!dragging_) return false;
        cursor_ = offset_at(move->position.x);
        return true;
    }
    if (std::holds_alternative<PointerLeave>(event)) {
        dragging_ = false;
        return false;
    }
    return false;
}

void TextInput::draw(Scene& scene, const Rect& bounds, bool focused, const Style& style) const {
    TextRenderer renderer;
    drawn_size_pt_ = style.size_pt;
    drawn_padding_x_ = style.padding_x;
    double line = renderer.line_height(style.size_pt);
    double top = bounds.y0 + (bounds.height() - line) / 2;
    double visible = std::max(0.0, bounds.width() - 2 * style.padding_x);
    double text_width = renderer.measure(text_, style.size_pt);
    auto x_of = [&](std::size_t pos) {
        return renderer.measure(std::string_view(text_).substr(0, pos), style.size_pt);
    };
    double caret_x = x_of(cursor_);

    // Scroll as little as possible to keep the caret in view, and never past
    // the end of the text.
    double scroll = scroll_x_;
    if (caret_x - scroll > visible) scroll = caret_x - visible;
    if (caret_x - scroll < 0) scroll = caret_x;
    scroll = std::clamp(scroll, 0.0, std::max(0.0, text_width + 2 - visible));
    scroll_x_ = scroll;

    double x0 = bounds.x0 + style.padding_x - scroll;
    scene.push_layer(bounds);
    if (text_.empty()) {
        if (!placeholder_.empty()) {
            renderer.draw_text(scene, placeholder_, {bounds.x0 + style.padding_x, top},
                               style.placeholder, style.size_pt);
        }
    } else {
        if (focused && cursor_ != anchor_) {
            double a = x_of(std::min(cursor_, anchor_));
            double b = x_of(std::max(cursor_, anchor_));
            scene.fill(Rect{x0 + a, top, x0 + b, top + line}, style.selection);
        }
        renderer.draw_text(scene, text_, {x0, top}, style.text, style.size_pt);
    }
    if (focused) {
        double cx = std::round(x0 + caret_x);
        scene.fill(Rect{cx, top, cx + 1.5, top + line}, style.caret);
    }
    scene.pop_layer();
}

}  // namespace vorn_ui::widget::text_input
