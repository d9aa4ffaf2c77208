#pragma once
// Turns a text the plugin logged into UTF-8 for display: a text that is valid UTF-8 is kept as it
// is; otherwise its bytes are read as Windows-1252, the character set of the plugin's fixed texts
// (a setup-check text carries the byte 0x92, a right single quotation mark).
//
// Threads: any; nothing is kept.

#include <string>

namespace torva::host {

bool IsValidUtf8(const std::string& text);
// The text as UTF-8, decoded as Windows-1252 where it is not valid UTF-8.
std::string DisplayText(const std::string& text);

}  // namespace torva::host
