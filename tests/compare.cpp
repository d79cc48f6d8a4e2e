#include "compare.h"

#include <algorithm>
#include <cstdio>

namespace {

constexpr size_t context = 6;      // bytes shown on each side of a difference
constexpr size_t arg_shown = 40;   // bytes shown of one argument
constexpr size_t args_shown = 240; // bytes shown of a list of arguments
constexpr size_t line_shown = 160; // bytes shown of one line of a message
constexpr size_t lines_shown = 6;  // lines shown of a message

std::string hex_byte(const char* form, char c) {
    char text[8];
    std::snprintf(text, sizeof text, form, static_cast<unsigned char>(c));
    return text;
}

// The bytes of s from at - context to at + context in hex, the byte at
// offset at in brackets ("[]" where s ends there).
std::string around(const std::string& s, size_t at) {
    const size_t from = at > context ? at - context : 0;
    const size_t to = std::min(s.size(), at + context + 1);
    std::string text = from > 0 ? "..." : "";
    for (size_t i = from; i < to; ++i)
        text += (i > from ? " " : "") + hex_byte(i == at ? "[%02x]" : "%02x", s[i]);
    if (at >= s.size())
        text += from < to ? " []" : "[]";
    else if (to < s.size())
        text += "...";
    return text;
}

// Where two sequences first differ: the length of their common start.
template <class T>
size_t first_difference(const T& got, const T& want) {
    return static_cast<size_t>(
        std::mismatch(got.begin(), got.end(), want.begin(), want.end()).first - got.begin());
}

} // namespace

std::string byte_difference(const std::string& got, const std::string& want) {
    if (got == want)
        return "";
    const size_t at = first_difference(got, want);
    return std::to_string(got.size()) + " bytes where " + std::to_string(want.size()) +
           " were expected; first difference at offset " + std::to_string(at) + ": got " +
           around(got, at) + ", want " + around(want, at);
}

std::string excerpt(const std::string& text) {
    if (text.empty())
        return "    (nothing)\n";
    std::string out, summary;
    size_t lines = 0;
    for (size_t at = 0; at < text.size();) {
        const size_t end = std::min(text.find('\n', at), text.size());
        const std::string line = text.substr(at, end - at);
        const std::string shown =
            "    " + line.substr(0, line_shown) + (line.size() > line_shown ? "..." : "") + "\n";
        if (++lines <= lines_shown)
            out += shown;
        else if (line.rfind("SUMMARY:", 0) == 0)
            summary = shown;
        at = end + 1;
    }
    if (lines > lines_shown)
        out += "    (" + std::to_string(lines - lines_shown) + " more lines)\n" + summary;
    return out;
}

std::string text_difference(const std::string& got, const std::string& want) {
    return got == want ? "" : "got:\n" + excerpt(got) + "want:\n" + excerpt(want);
}

std::string size_difference(const std::vector<size_t>& got, const std::vector<size_t>& want) {
    if (got == want)
        return "";
    const size_t at = first_difference(got, want);
    auto item = [](const std::vector<size_t>& v, size_t i) {
        return i < v.size() ? std::to_string(v[i]) : std::string("none");
    };
    return std::to_string(got.size()) + " writes where " + std::to_string(want.size()) +
           " were expected; write " + std::to_string(at) + " is " + item(got, at) + ", not " +
           item(want, at);
}

std::string show_args(const std::vector<std::string>& args) {
    std::string s;
    for (const auto& a : args) {
        if (s.size() > args_shown) {
            s += " ...";
            break;
        }
        std::string q;
        for (size_t i = 0; i < std::min(a.size(), arg_shown); ++i) {
            const char c = a[i];
            q += c == '\''               ? "'\\''"
                 : c >= 0x20 && c < 0x7f ? std::string(1, c)
                                         : hex_byte("\\x%02x", c);
        }
        if (a.size() > arg_shown)
            q += "...(" + std::to_string(a.size()) + " bytes)";
        s += (s.empty() ? "'" : " '") + q + "'";
    }
    return s;
}
