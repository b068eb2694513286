// What every record handler takes and gives: the record's payload, read
// through one reader made from the record by the walk, and whether the
// record was carried out.
#pragma once

#include "record_walk.h"

enum class [[nodiscard]] RecordResult { done, failed };

inline RecordResult failed_if(bool failed) { return failed ? RecordResult::failed : RecordResult::done; }
