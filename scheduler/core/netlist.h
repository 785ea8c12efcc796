#pragma once
// The list of network computers, "reseau.ini" in the data folder: one line per computer,
// "computer\login\password" with both credentials scrambled. The file is 0600.
#include <string>
#include <string_view>
#include <vector>

namespace core {

// Cuts the text to its first 255 characters (UTF-8, never inside one; never more than 1,020
// bytes, whatever the text holds) and combines every byte with 0x5B.
std::string ScrambleCredential(std::string_view text);

// A scrambled credential as it stands in a line: the bytes that would end a field or a line
// ("\", CR, LF, NUL and the other control bytes, "@" and non-ASCII) are written "@XY" (hex),
// so every line splits as written and stays plain ASCII. Lines without "@" read as before.
std::string EncodeCredential(std::string_view clear);
// Gives at most what ScrambleCredential keeps, reading no more of `stored` than that takes.
std::string DecodeCredential(std::string_view stored);

struct NetworkComputerEntry {
  std::string computer, login, password;  // clear texts
};

// computer + "\" + credential + "\" + credential.
std::string NetworkLine(const NetworkComputerEntry& entry);
// Fields 1 to 3 of a line ("" where missing), credentials decoded, each cut as ScrambleCredential
// cuts: a longer field was never written for a credential and names no computer, and a damaged
// line's huge field would otherwise reach the window, the tree and the connection command whole.
NetworkComputerEntry ParseNetworkLine(std::string_view line);

// Index of the first line holding `name` anywhere; -1 when none does or `name` is empty.
int FirstLineContaining(const std::vector<std::string>& lines, std::string_view name);

// The computer of a tree selection: "//pc" or "//pc/share..." gives "pc"; a path without
// "//" is kept as it is.
std::string ComputerOfTreePath(const std::string& path);

// "reseau.ini" in a data folder ending with "/".
std::string NetworkListPath(const std::string& dataFolder);

// Lines of the file (LF or CRLF), an empty line as an empty entry; none when it is missing.
// Throws std::runtime_error when it exists but cannot be read.
std::vector<std::string> ReadNetworkList(const std::string& path);
// ecrireresau: appends one line with one write(), creating the file 0600. Throws on failure.
void AppendNetworkLine(const std::string& path, std::string_view line);
// Replaces the file whole and atomically with these lines; no lines removes it. Throws on
// failure, the old file then stays as it was.
void RewriteNetworkList(const std::string& path, const std::vector<std::string>& lines);

}  // namespace core
