// Files dropped on the window arrive as a text/uri-list (RFC 2483): one URI
// per line, CRLF between lines, '#' lines are comments. Only local file URIs
// name files the program can open.
#pragma once

#include <string>
#include <string_view>
#include <vector>

// Replaces each %XX escape by its byte; a '%' not followed by two hex digits
// stays as it is.
std::string PercentDecode(std::string_view sText);

// The local paths of a dropped list, in order: "file:" URIs with an empty or
// "localhost" host, decoded, their query and fragment cut off; a line that
// is already an absolute path is kept as it stands (some toolkits hand over
// paths). Other schemes, other hosts and comments are skipped.
std::vector<std::string> DecodeUriList(std::string_view sList);

// The first path of a dropped list ("" when it names none): a drop of several
// files opens the first.
std::string FirstDroppedFile(std::string_view sList);
