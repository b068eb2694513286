// The installer's run: from the process set-up to the final message.
#pragma once

// Finds the running executable from argv0 along PATH, verifies its package
// and carries out its setup records. Returns the exit status: 0, or 1 when a
// record failed. Every fatal error ends the process with status 1.
int zkinstall(const char* argv0);
