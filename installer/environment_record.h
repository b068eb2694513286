// Environment record: one assignment for the installer's environment, which
// every later program and script inherits.
#pragma once

#include "record_result.h"

// A payload of 1024 bytes or more, or one cut short, ends the process.
RecordResult set_env(package_format::PayloadReader& payload);
