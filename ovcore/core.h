// Start-up and shut-down of the core's process-wide services.
#pragma once

// Creates the services in order: the character classes of "C.UTF-8" (multibyte text is UTF-8;
// numbers, times and messages are as in "C"), message system, console handler, and the
// services later modules add. Called once by the process entry before anything else.
void core_startup();
// Undoes core_startup in reverse; the message system goes last.
void core_shutdown();
