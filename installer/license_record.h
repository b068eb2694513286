// License record: the product's license, shown before anything else, and
// the question whether it is accepted.
#pragma once

#include "record_result.h"

// Shows the license (unless --quiet with --accept, or -gz, whose standard
// output carries the archive) and asks "Do you accept the license [y/n] ? ".
// --accept accepts it unread; anything but a "y" answer, end of input, and
// a run that may not read input (--yes, -gz) without --accept end the
// process before anything is installed.
RecordResult file_license(package_format::PayloadReader& payload);
