#pragma once

struct CliOptions;

// quorvane-cli --read-records: each FILE argument is one answer saved earlier (port-43 text,
// an RDAP JSON object or a site's page); no server is asked. One result per file, in the order
// given, its address the file's path as given, written through the same outputs as a lookup run.
namespace RecordFiles {

// Returns the exit code: 0, 1 when a file could not be read whole (its result says why),
// 2 when a file is missing before anything is written, 3 when the output cannot be written.
int run(const CliOptions &options);

} // namespace RecordFiles
