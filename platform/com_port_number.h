// The one rule for a COM port's number: tarvel's port names (link/) and the
// POSIX stand-in's device paths both read it here.
#pragma once

// The number that digits spell: one to three digits, no leading zero, at most
// 256. 0 for any other text.
unsigned com_port_digits(const char *digits);
// The n of "COMn" in any case, n by the same rule; 0 for any other text.
unsigned com_port_name_number(const char *name);
