#pragma once
#include <optional>
#include <string_view>

namespace quendo {

// The lines of a text file, one at a time. Lines end with CR LF, a bare LF or a lone CR; a last
// line without an end counts too, and an end at the very end opens no empty line after it.
class TextLines {
public:
    explicit TextLines(std::string_view text) : rest_(text) {}

    // The next line without its end; nothing after the last.
    std::optional<std::string_view> Next() {
        if (rest_.empty()) return std::nullopt;
        const std::size_t end = rest_.find_first_of("\r\n");
        if (end == std::string_view::npos) {
            const std::string_view line = rest_;
            rest_ = {};
            return line;
        }
        const std::string_view line = rest_.substr(0, end);
        const bool crlf = rest_[end] == '\r' && end + 1 < rest_.size() && rest_[end + 1] == '\n';
        rest_.remove_prefix(end + (crlf ? 2 : 1));
        return line;
    }

private:
    std::string_view rest_;
};

}  // namespace quendo
