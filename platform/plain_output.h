// Output for a run that prints lines and draws no screen (tarvel's jobs): the
// text alone, also on a terminal, so that nothing is left for the terminal to
// undo when the run ends, however it ends, and in the background too.
#pragma once

// From now on standard output and standard error carry the text alone (UTF-8
// on POSIX), without colour, cursor or line-wrap sequences. The Windows
// console takes the text alone anyway: nothing to do there.
void plain_output_use(void);
