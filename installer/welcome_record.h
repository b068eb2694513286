// Welcome text record: shows the product's welcome text, asks where to
// install, offers to create that directory and makes it the working
// directory, so that later archive and script records work inside it.
#pragma once

#include <array>
#include <cstddef>

#include "record_result.h"

constexpr size_t REPLY_SIZE = 1024;
using Reply = std::array<char, REPLY_SIZE>;

// Writes the payload's text wrapped at 75 columns when `shown`, else only
// reads it; a payload cut short ends the process.
void show_text(package_format::PayloadReader& payload, bool shown);

// Reads one line after making the prompt visible; false at end of input. The
// rest of an overlong line is dropped, so that it cannot answer the next
// question.
bool read_reply(Reply& reply, int limit);

// Sets install_dir and changes into it; under -gz the text is read
// and dropped and nothing is asked, under --quiet the text is not shown,
// under --target the directory is already chosen and entered, and under
// --yes the defaults are taken without reading. The default directory is
// ZKINSTALL_DEFAULT_DIR when set. A payload cut short, a refused or failed
// creation and a directory that cannot be entered end the process.
RecordResult file_banner(package_format::PayloadReader& payload);

// Under --target or --extract: makes the directory named there, with its
// parents, and enters it as if it had been typed at the prompt, so that a
// package without a welcome text installs there too. Does nothing otherwise.
void enter_named_directory();

// The directory the prompt offers: ZKINSTALL_DEFAULT_DIR when set, else the
// installer's own.
const char* default_install_dir();
