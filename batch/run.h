// The whole run of brevand-batch over its files.
#ifndef BATCH_RUN_H_
#define BATCH_RUN_H_

#include <cstdio>

#include "batch/options.h"
#include "feed/pass.h"

namespace batch {

inline constexpr int kExitDone = 0;
inline constexpr int kExitSomeFailed = 1;
inline constexpr int kExitUsage = 2;

// Adjusts every file of `options` with `input`, one after the other. Errors
// and summaries go to `err` ("brevand-batch: FILE: reason"), the dry run's
// diff and "-o -" output to `out`. A file that fails is left as it was and
// the others go on. Returns kExitDone or kExitSomeFailed (kExitUsage when
// the --machine-profile file cannot be read).
int RunBatch(const BatchOptions& options, const feed::PassInput& input, std::FILE* out,
             std::FILE* err);

}  // namespace batch

#endif  // BATCH_RUN_H_
