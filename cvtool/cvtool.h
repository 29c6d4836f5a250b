// tarvel's command flow: the state that lives for the whole run, and the
// commands of the menu.
#pragma once

#define DATA_FILE_NAME_SIZE 1000

// Name of the CV data file; empty when none is chosen.
extern char data_file_name[DATA_FILE_NAME_SIZE];
// How long the receiver is held in reset: 10000 ms, 2000 with ORN_HOME set.
extern int reset_wait_ms;
// The number the single-CV dialogue offers next (1..256, 1001..1256).
extern int next_cv_entry;
// Whether the single-CV dialogue asks for values in binary.
extern int binary_entry_mode;

// The whole program; returns only through exit().
int tarvel_main(int argc, char **argv);
// The menu until the user quits.
void command_loop(void);
// `e`: read or program single CVs.
void single_cv_dialogue(void);
// `a`: CVs 1 to 199 of both banks into the data file.
void read_out_cvs(void);
// `p`: the CVs a data file lists into the receiver.
void program_cvs(void);
// Makes sure the data file name is set; ends the process with 77 on cancel.
void select_data_file(void);
