// Text from outside the programs, made fit to print: a line of a data file, a
// file or port name, a system's error text, a device's strings. The terminal
// shows such text; it never obeys it. The programs' own texts are printed as
// they are and never pass through here.
#pragma once

#include <string>

// text with every control made visible, as UTF-8 (which both builds' console
// output shows as the character it encodes):
// - a C0 control and DEL become the pictures a console shows for them (BEL
//   "•" U+2022, BS "◘" U+25D8, TAB "○" U+25CB, LF "◙" U+25D9, CR "♪" U+266A,
//   ESC "←" U+2190, DEL "⌂" U+2302);
// - a C1 control written as UTF-8 (U+0080..U+009F, the bytes C2 80..C2 9F)
//   becomes the code page 850 characters of its two bytes (CSI, C2 9B: "┬ø"),
//   which is also what a Windows console shows for those bytes.
// Every other byte stays as it is (code page 850 letters, UTF-8 letters), so
// that a text without controls is printed byte for byte as before.
std::string shown_text(const char *text);

// The same for a text that ends in a line end of its own (a system's error
// message, "...\r\n"): a final LF or CR LF stays as it is.
std::string shown_message(const char *text);
