#include "vorn/actions/context.h"

#include <algorithm>

namespace vorn_actions::context {
namespace {

bool is_upper(char c) {
    return c >= 'A' && c <= 'Z';
}
bool is_lower(char c) {
    return c >= 'a' && c <= 'z';
}
bool is_separator(char c) {
    return c == '_' || c == '-' || c == '.' || c == ' ' || c == ':';
}
char lower(char c) {
    return is_upper(c) ? static_cast<char>(c - 'A' + 'a') : c;
}
char upper(char c) {
    return is_lower(c) ? static_cast<char>(c - 'a' + 'A') : c;
}

}  // namespace

ActionContext ActionContext::enriched_by(const ActionContext& other) const {
    ActionContext merged = *this;
    if (!merged.summary) merged.summary = other.summary;
    if (!merged.source) merged.source = other.source;
    if (!merged.requested_by) merged.requested_by = other.requested_by;
    if (!merged.correlation_id) merged.correlation_id = other.correlation_id;
    for (const auto& attribute : other.attributes) {
        bool known = std::ranges::any_of(
            merged.attributes, [&](const auto& mine) { return mine.first == attribute.first; });
        if (!known) merged.attributes.push_back(attribute);
    }
    return merged;
}

std::string humanize_identifier(std::string_view identifier) {
    std::vector<std::string> words;
    std::string word;
    auto flush = [&] {
        if (!word.empty()) words.push_back(std::move(word));
        word.clear();
    };
    for (std::size_t i = 0; i < identifier.size(); ++i) {
        char c = identifier[i];
        if (is_separator(c)) {
            flush();
            continue;
        }
        if (is_upper(c) && !word.empty()) {
            char previous = identifier[i - 1];
            bool next_is_lower = i + 1 < identifier.size() && is_lower(identifier[i + 1]);
            // "sshKey" breaks before K; "SSHKey" breaks before the K that starts "Key".
            if (!is_upper(previous) || next_is_lower) flush();
        }
        word.push_back(c);
    }
    flush();

    std::string phrase;
    for (const std::string& w : words) {
        if (!phrase.empty()) phrase.push_back(' ');
        for (char c : w) phrase.push_back(lower(c));
    }
    if (!phrase.empty()) phrase[0] = upper(phrase[0]);
    return phrase;
}

}  // namespace vorn_actions::context
