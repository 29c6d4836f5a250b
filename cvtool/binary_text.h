// A byte as nine characters ("0000 1100") and back.
#pragma once

#define BINARY_TEXT_SIZE 10

// Writes value's eight binary digits, highest first, a blank after the fourth.
void binary_text(int value, char text[BINARY_TEXT_SIZE]);
// Reads text left to right: 0 shifts in a 0 bit, 1 a 1 bit, anything else is
// skipped. Only the last eight binary digits count.
int binary_parse(const char *text);
