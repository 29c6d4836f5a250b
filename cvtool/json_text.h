// JSON text written by hand for --json: a string value made of outside bytes
// (a file or port name), and nothing else, so that no library is needed.
#pragma once

#include <string>

// text as a quoted JSON string of ASCII characters only, so that no console
// code page can change it: " and \ escaped; \b \f \n \r \t by their short
// forms, every other C0 control and DEL as \u00XX; a well-formed UTF-8
// character as \uXXXX (a surrogate pair above U+FFFF); and any other byte
// from 0x80 up taken as the Latin-1 character of that value (\u00XX), so that
// a Windows name in its ANSI code page keeps its umlauts. A null text is null.
std::string json_string(const char *text);
