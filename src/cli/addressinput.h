#pragma once

#include <QStringList>

struct CliOptions;

namespace AddressInput {

// The addresses to look up, in order: those given with --address, then the lines of each
// input file (standard input for "-", or when no file and no --address is given). Lines follow
// the window's list-file rules (UTF-8, CR LF / LF / CR, a leading byte-order mark dropped),
// except that empty lines are skipped. Throws CliError (exit 2) when an input cannot be read.
QStringList read(const CliOptions &options);

} // namespace AddressInput
