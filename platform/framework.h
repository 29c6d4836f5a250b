// The little of an application framework that tarvel needs: initialisation, a
// worker-thread start and a file dialog. Implemented once for Windows (Win32
// threads, the common "open" dialog) and once for POSIX (pthreads, and no
// dialog: the program asks on its console instead).
#pragma once

#include <cstddef>

// Prepares the framework. Returns 0, or -1 when it cannot be used.
int framework_init(void);

typedef unsigned (*framework_thread_proc)(void *param);
// Starts proc(param) at once on a new thread, normal priority, default stack.
// Returns the thread object, or a null pointer when no thread could be started.
void *framework_begin_thread(framework_thread_proc proc, void *param);
// Releases a thread object; the thread itself runs on until the process ends.
void framework_release_thread(void *thread);

// framework_select_file's answer when the platform has no file dialog.
#define FRAMEWORK_NO_DIALOG 1
// Asks the user for a data file in the "open" dialog (filter "TextFiles
// (*.txt)"). On success writes the full path into path (size bytes,
// NUL-terminated) and returns 0; returns -1 when the user cancels, and
// FRAMEWORK_NO_DIALOG, touching nothing, where there is no dialog.
int framework_select_file(char *path, size_t size);
