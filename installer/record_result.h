// What every record handler takes and gives: the record's payload, read
// through one reader made from the record by the walk, and whether the
// record was carried out.
#pragma once

#include "record_walk.h"

// A record that ended the installation fails it, and no later record runs.
enum class [[nodiscard]] RecordResult { done, failed, ended };

inline RecordResult failed_if(bool failed) { return failed ? RecordResult::failed : RecordResult::done; }
inline RecordResult ended_if(bool ended) { return ended ? RecordResult::ended : RecordResult::done; }
