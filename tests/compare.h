// Short reports of what differs, for failures that stay readable however
// long the streams and arguments are: lengths, the first differing offset
// and a few bytes around it, never the data itself.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

// "" where got equals want; otherwise both lengths, the first offset where
// they differ and the bytes around it in hex, on one line.
std::string byte_difference(const std::string& got, const std::string& want);

// "" where got equals want; otherwise both texts (messages, as a run wrote
// them) as a few lines each, every line cut short: a sanitizer's report in
// place of a message shows its first lines and its summary.
std::string text_difference(const std::string& got, const std::string& want);

// Up to a few lines of text, each indented and cut short; where more
// follow, how many, and a sanitizer's summary line if it is among them.
std::string excerpt(const std::string& text);

// The same for two lists of write sizes.
std::string size_difference(const std::vector<size_t>& got, const std::vector<size_t>& want);

// Arguments as a shell would show them quoted, each cut short and the
// whole list too, with bytes that do not print as \xNN.
std::string show_args(const std::vector<std::string>& args);
