// What a package says of itself, for --info and --version: the product
// and version that zkpack create stores as environment records, the
// default directory it offers, and how its payloads are compressed. Read
// by a walk that carries nothing out and passes over kinds it does not
// know.
#pragma once

#include <cstdint>

#include "record_walk.h"

// Whether an assignment is one of the package's facts, which the installer
// reads itself and does not echo.
bool is_package_fact(const char* assignment);

// Walks the records from `start` to `end`, noting the facts; stops quietly
// at a record cut short.
void gather_package_facts(package_format::PositionalReader& package, uint64_t start, uint64_t end);

// "NAME VERSION" and a line feed, as far as the package has them; nothing
// when it has neither.
void print_product_line();

// One "key: value" line each: product, version, installer version,
// architecture, compression, package size, signed, key id, default
// directory. `key_id` is empty for a package without a signature file.
void print_package_info(uint64_t file_size, const char* installer_version, const char* key_id);
